// The serial ports present on Windows as ASRL addresses: COMn, as the serial
// library lists it (with or without the \\.\ device prefix), is ASRLn::INSTR,
// the address instrument-io opens as that port; a port by another name keeps
// it. The folder arguments are the POSIX listing's and mean nothing here.
#include <algorithm>
#include <cctype>

#include "Discovery.h"
#include "PortScan.h"

namespace kestrel {
namespace {

std::string AddressOfPort(std::string device) {
    if (device.starts_with("\\\\.\\"))
        device.erase(0, 4);
    std::string upper = device;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const bool numbered = upper.size() > 3 && upper.starts_with("COM") &&
                          std::all_of(upper.begin() + 3, upper.end(),
                                      [](unsigned char c) { return std::isdigit(c); });
    return "ASRL" + (numbered ? upper.substr(3) : device) + "::INSTR";
}

}  // namespace

std::vector<std::string> SerialPortAddresses(const std::filesystem::path& dev,
                                             const std::filesystem::path& sys) {
    std::vector<std::string> addresses;
    for (const serialio::SerialPortInfo& port : serialio::ScanSysfs({sys.string(), dev.string()})) {
        const std::string address = AddressOfPort(port.device);
        if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
    }
    return addresses;
}

}  // namespace kestrel
