// The ports file: which device node stands for "COM n" (or "ASRL n") and the
// port's default line settings. One section per port:
//
//   [COM3]
//   device = /dev/ttyUSB0
//   settings = 57600,N,8,1
//
// It is named by OSPREY_PORTS, else ${XDG_CONFIG_HOME:-~/.config}/osprey/ports.ini,
// and may be absent; the null device is no file either.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace osprey {

struct PortEntry {
    std::string device;    // device node; /dev/ttyS{n-1} when the file names none
    std::string settings;  // default line settings text; the fallback when none
};

// The path of the ports file in force.
std::string PortsFilePath();

// The port number in a device path "\\.\COM<n>", if it is one.
std::optional<int> PortNumberOf(std::string_view devicePath);

// Looks up port `number` in the ports file text.
PortEntry LookUpPort(std::string_view fileText, int number, std::string_view fallbackSettings);

// A ports file holds a few lines a port; anything larger is not one.
inline constexpr uint64_t kLargestPortsFile = 1024 * 1024;

// As above, reading the ports file in force (absent: defaults). A ports file
// that is not a regular file of at most kLargestPortsFile bytes, or cannot be
// read, is said on stderr and gives no device, so the port cannot be opened.
PortEntry LookUpPort(int number, std::string_view fallbackSettings);

}  // namespace osprey
