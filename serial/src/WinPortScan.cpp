// The COM ports present on Windows: the values of the system's serial device
// map, which lists each port whose driver is loaded ("COM5"). No by-id names
// and no USB identification: the device map carries neither.
#include <windows.h>

#include <array>

#include "PortScan.h"

namespace serialio {
namespace {

constexpr const char* kDeviceMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kLongestName = 256;

// Each value's text: the port's name.
std::vector<std::string> DeviceMapNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        std::array<char, kLongestName> valueName{};
        std::array<char, kLongestName> data{};
        DWORD nameLength = kLongestName;
        DWORD dataLength = kLongestName - 1;  // room for the end a value may lack
        DWORD type = 0;
        LONG status = RegEnumValueA(key, index, valueName.data(), &nameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data.data()), &dataLength);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_SUCCESS && type == REG_SZ && IsSerialPortName(data.data())) {
            names.emplace_back(data.data());
        }
    }
    return names;
}

}  // namespace

bool IsSerialPortName(std::string_view name) {
    if (name.size() < 4 || name.size() > 6 || !name.starts_with("COM")) {
        return false;
    }
    return name.find_first_not_of("0123456789", 3) == std::string_view::npos;
}

// The device map lists only ports whose driver found them.
bool HasHardware(std::string_view, std::string_view) {
    return true;
}

std::vector<SerialPortInfo> ScanSysfs(const ScanRoots&) {
    std::vector<SerialPortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDeviceMap, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return ports;  // no port has ever been there
    }
    for (const std::string& name : DeviceMapNames(key)) {
        SerialPortInfo port;
        port.device = name;
        ports.push_back(port);
    }
    RegCloseKey(key);
    SortPorts(ports);
    return ports;
}

std::string ByIdNameOf(const ScanRoots&, const std::string&) {
    return {};
}

SerialPortInfo DescribeDevice(const ScanRoots&, const std::string& device) {
    SerialPortInfo port;
    port.device = device;
    return port;
}

}  // namespace serialio
