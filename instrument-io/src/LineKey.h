// The line an instrument address ends at: the serial device or the socket
// behind it, so that two spellings of one port (a link and its target, a
// numbered port and its device, a host name and its address) compare equal
// before anything is opened. kr470-fleet keys its rows by it, and the GPIB bus
// shares one connection among the boards whose controllers are one line.
#pragma once

#include <optional>
#include <string>

#include "Config.h"

namespace kio {

struct LineKey {
    std::string port;  // "serial /dev/pts/3", "tcp 127.0.0.1:5025", "vxi11 HOST INST0", ...
    std::string host;  // the machine the line ends at: the serial port itself, or the host
    std::string line;  // the connection: the port, or for GPIB the controller's port
};

// The key of an address after its aliases (`routed`); none for a bus not
// known here or an address whose form is not right.
std::optional<LineKey> KeyOfLine(const Config& config, const std::string& routed);

}  // namespace kio
