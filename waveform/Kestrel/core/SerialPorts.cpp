// The serial ports present on a POSIX system as ASRL addresses: each tty the
// serial library lists by its device path, then its /dev/serial/by-id name.
#include <algorithm>

#include "Discovery.h"
#include "PortScan.h"

namespace kestrel {
namespace {

void AddOnce(std::vector<std::string>& addresses, const std::string& address) {
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
        addresses.push_back(address);
}

}  // namespace

std::vector<std::string> SerialPortAddresses(const std::filesystem::path& dev,
                                             const std::filesystem::path& sys) {
    std::vector<std::string> addresses;
    for (const serialio::SerialPortInfo& port : serialio::ScanSysfs({sys.string(), dev.string()})) {
        AddOnce(addresses, "ASRL" + port.device + "::INSTR");
        if (!port.byId.empty())  // the stable name of a USB adapter, where udev made one
            AddOnce(addresses, "ASRL" + port.byId + "::INSTR");
    }
    return addresses;
}

}  // namespace kestrel
