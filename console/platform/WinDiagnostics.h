// What Osprey says on stderr when a Windows port cannot be had: the port, the
// system's reason and what to do about it.
#pragma once

#include <windows.h>

#include <string>

#include "AddressHint.h"

namespace osprey {

// The whole text for a port that did not open, ending in a newline.
std::string OpenFailureText(const std::string& devicePath, DWORD error,
                            const std::string& systemText);
void ReportOpenFailure(const std::string& devicePath, DWORD error, const std::string& systemText);

}  // namespace osprey
