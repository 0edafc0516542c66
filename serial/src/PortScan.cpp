#include "PortScan.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace serialio {
namespace fs = std::filesystem;
namespace {

// The first line of a sysfs attribute file, or empty.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A tty with a device behind it (not a virtual console) that has its hardware.
bool IsPresent(const fs::path& ttyDir, const std::string& name) {
    std::error_code error;
    return fs::exists(ttyDir / "device", error) &&
           HasHardware(name, name.starts_with("ttyS") ? Attribute(ttyDir / "type") : "");
}

// Walks up from the tty's device to the USB device that carries idVendor.
void FillUsbIdentity(const fs::path& ttyDir, SerialPortInfo& port) {
    std::error_code error;
    fs::path at = fs::canonical(ttyDir / "device", error);
    for (int depth = 0; !error && depth < 8 && at.has_relative_path(); ++depth) {
        if (fs::exists(at / "idVendor", error)) {
            port.vendorId = Attribute(at / "idVendor");
            port.productId = Attribute(at / "idProduct");
            port.manufacturer = Attribute(at / "manufacturer");
            port.product = Attribute(at / "product");
            port.serial = Attribute(at / "serial");
            return;
        }
        at = at.parent_path();
    }
}

}  // namespace

bool IsSerialPortName(std::string_view name) {
    return name.starts_with("ttyS") || name.starts_with("ttyUSB") || name.starts_with("ttyACM");
}

bool HasHardware(std::string_view name, std::string_view typeAttribute) {
    return !name.starts_with("ttyS") || typeAttribute != "0";
}

std::string ByIdNameOf(const ScanRoots& roots, const std::string& device) {
    std::error_code error;
    fs::path byId = fs::path(roots.dev) / "serial" / "by-id";
    fs::path target = fs::weakly_canonical(device, error);
    for (const fs::directory_entry& entry : fs::directory_iterator(byId, error)) {
        std::error_code linkError;
        fs::path resolved = fs::weakly_canonical(entry.path(), linkError);
        if (!linkError && resolved.filename() == target.filename()) {
            return entry.path().string();
        }
    }
    return {};
}

std::vector<SerialPortInfo> ScanSysfs(const ScanRoots& roots) {
    std::vector<SerialPortInfo> ports;
    std::error_code error;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(roots.sys) / "class" / "tty", error)) {
        std::string name = entry.path().filename().string();
        if (!IsSerialPortName(name) || !IsPresent(entry.path(), name)) {
            continue;
        }
        SerialPortInfo port;
        port.device = (fs::path(roots.dev) / name).string();
        FillUsbIdentity(entry.path(), port);
        port.byId = ByIdNameOf(roots, port.device);
        ports.push_back(port);
    }
    SortPorts(ports);
    return ports;
}

SerialPortInfo DescribeDevice(const ScanRoots& roots, const std::string& device) {
    SerialPortInfo port;
    port.device = device;
    std::error_code error;
    fs::path node = fs::weakly_canonical(device, error);
    fs::path ttyDir = fs::path(roots.sys) / "class" / "tty" / node.filename();
    if (!error && fs::exists(ttyDir / "device", error)) {
        FillUsbIdentity(ttyDir, port);
    }
    port.byId = ByIdNameOf(roots, device);
    return port;
}

}  // namespace serialio
