// The line an instrument address ends at: the serial device or the socket
// behind it, so that two spellings of one port (a link and its target, a
// numbered port and its device, a host name and its address, an alias and
// what it names) compare equal before anything is opened. kr470-fleet keys
// its rows by it. Each bus says what its own addresses reach, so a program
// that keys addresses needs no change for a new bus.
#pragma once

#include <kio/Export.h>

#include <string>
#include <vector>

namespace kio {

struct LineKey {
    std::string port;  // "serial /dev/pts/3", "tcp 127.0.0.1:5025", "vxi11 HOST INST0", ...
    std::string host;  // the machine the line ends at: the serial port itself, or the host
    std::string line;  // the connection: the port, or for GPIB the controller's port
};

// The key of each address under the configuration in force (read once; one
// that cannot be read routes nothing). An address whose route cannot be
// followed, or that no bus here takes in the form given, keys as its routed
// address in canonical form: opening it will say why it fails.
KIO_API std::vector<LineKey> LineKeysOf(const std::vector<std::string>& addresses);

}  // namespace kio
