#include "WinDiagnostics.h"

#include <cstdio>

namespace osprey {
namespace {

std::string Hint(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return "another program has the port open; end it first.";
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "no such port. Device Manager lists the ports under \"Ports (COM & LPT)\"; "
                   "a USB adapter gets its number when it is plugged in.";
        default:
            return "check that the port exists and is a serial port.";
    }
}

}  // namespace

std::string OpenFailureText(const std::string& devicePath, DWORD error,
                            const std::string& systemText) {
    std::string port = devicePath.starts_with("\\\\.\\") ? devicePath.substr(4) : devicePath;
    return "Osprey: cannot open " + port + " (" + devicePath + "): " + systemText + "\n  " +
           Hint(error) + "\n";
}

void ReportOpenFailure(const std::string& devicePath, DWORD error, const std::string& systemText) {
    std::string text = OpenFailureText(devicePath, error, systemText);
    std::fputs(text.c_str(), stderr);
}

std::string AddressHint(std::string_view address) {
    if (!address.starts_with("/") && !address.starts_with("\\")) {
        return {};
    }
    return "Osprey: the address \"" + std::string(address) +
           "\" is a device path. Osprey takes COM<n> (or ASRL<n>), for example COM3::BAUD=57600; "
           "Device Manager lists the ports' numbers.\n";
}

}  // namespace osprey
