// The one listing of the serial ports present, for kr470-ports and the
// plug-in's finder alike: the ttys of the sysfs device tree (a root other
// than /sys for tests) that have a device behind them, ttyS* only with a UART
// fitted, ttyUSB* and ttyACM*, in name order with the number compared as a
// number, each with its /dev/serial/by-id name and its USB identification.
// On Windows (WinPortScan.cpp) the listing is the COM ports of the system's
// device map (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), named "COM<n>", in the same
// order; the roots are not used there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace serialio {

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

// Whether a tty of this name is one the listing takes: ttyS*, ttyUSB*, ttyACM*.
bool IsSerialPortName(std::string_view name);

// Whether a tty the listing takes is there to use, by its sysfs `type`
// attribute: the kernel makes ttyS0..ttyS31 whether or not a UART is fitted,
// and type 0 means none is.
bool HasHardware(std::string_view name, std::string_view typeAttribute);

// The ports of the device tree below roots.sys, as the header says.
std::vector<SerialPortInfo> ScanSysfs(const ScanRoots& roots);

// The /dev/serial/by-id link below roots.dev that leads to `device`, or empty.
std::string ByIdNameOf(const ScanRoots& roots, const std::string& device);

// Name order, the number compared as a number (ttyS2 before ttyS10).
void SortPorts(std::vector<SerialPortInfo>& ports);

// A port named on the command line: its by-id name and, when the sysfs tree
// knows its tty, its USB identification.
SerialPortInfo DescribeDevice(const ScanRoots& roots, const std::string& device);

}  // namespace serialio
