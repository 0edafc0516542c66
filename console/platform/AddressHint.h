// The note on stderr for an address given as a device path: how to name the
// port instead. The text names the platform's way of mapping port numbers.
#pragma once

#include <string>
#include <string_view>

namespace osprey {

// For an address given as a device path ("/dev/ttyUSB0"): how to name it
// instead. Empty for any other address.
std::string AddressHint(std::string_view address);

}  // namespace osprey
