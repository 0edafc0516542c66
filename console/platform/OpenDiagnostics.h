// What Osprey says on stderr when a port cannot be had: the device, the
// system's reason and what to do about it. Standard output keeps its fixed
// messages; these go beside them.
#pragma once

#include <string>
#include <string_view>

#include "AddressHint.h"
#include "SerialDevice.h"

namespace osprey {

// The whole text for a port that did not open, ending in a newline.
std::string OpenFailureText(int portNumber, const std::string& device,
                            const serialio::OpenFailure& why);
void ReportOpenFailure(int portNumber, const std::string& device, const serialio::OpenFailure& why);

}  // namespace osprey
