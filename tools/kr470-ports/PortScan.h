// Finding the serial ports present and what identifies them: the sysfs
// device tree (a root other than /sys for tests), the /dev/serial/by-id
// names, and libudev where the program was built with it.
#pragma once

#include <string>
#include <vector>

namespace kr470 {

struct SerialPortInfo {
    std::string device;  // /dev/ttyUSB0
    std::string byId;    // /dev/serial/by-id/usb-..., or empty
    // USB adapters only; empty otherwise.
    std::string vendorId, productId, manufacturer, product, serial;
};

struct ScanRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

// The ports of the device tree below roots.sys: ttyS* with a UART behind them
// (type not 0), ttyUSB* and ttyACM*, in name order, with their USB
// identification and by-id names.
std::vector<SerialPortInfo> ScanSysfs(const ScanRoots& roots);

// The same through libudev; false when the program was built without it or
// udev cannot enumerate, and `ports` is then left alone.
bool ScanUdev(const ScanRoots& roots, std::vector<SerialPortInfo>& ports);

// The /dev/serial/by-id link below roots.dev that leads to `device`, or empty.
std::string ByIdNameOf(const ScanRoots& roots, const std::string& device);

// Name order, the number compared as a number (ttyS2 before ttyS10).
void SortPorts(std::vector<SerialPortInfo>& ports);

// A port named on the command line: its by-id name and, when the sysfs tree
// knows its tty, its USB identification.
SerialPortInfo DescribeDevice(const ScanRoots& roots, const std::string& device);

}  // namespace kr470
