// What Osprey says on stderr when a port cannot be had: the device, the
// system's reason and what to do about it. Standard output keeps its fixed
// messages; these go beside them.
#pragma once

#include <string>
#include <string_view>

#include "SerialDevice.h"

namespace osprey {

// The whole text for a port that did not open, ending in a newline.
std::string OpenFailureText(int portNumber, const std::string& device,
                            const serialio::OpenFailure& why);
void ReportOpenFailure(int portNumber, const std::string& device, const serialio::OpenFailure& why);

// For an address given as a device path ("/dev/ttyUSB0"): how to name it
// instead. Empty for any other address.
std::string AddressHint(std::string_view address);

}  // namespace osprey
