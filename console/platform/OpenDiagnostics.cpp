#include "OpenDiagnostics.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "PortsFile.h"

namespace osprey {
namespace {

// The group that may use the device, "dialout" when it cannot be told.
std::string DeviceGroup(const std::string& device) {
    struct stat info {};
    if (stat(device.c_str(), &info) == 0) {
        if (const group* owner = getgrgid(info.st_gid); owner != nullptr) {
            return owner->gr_name;
        }
    }
    return "dialout";
}

std::string Hint(int portNumber, const std::string& device, const serialio::OpenFailure& why) {
    if (why.lockRefused) {
        return "no lock file could be made in the folder KR470_LOCK_DIR names (see above); "
               "make it a folder you may write in, or unset KR470_LOCK_DIR.";
    }
    switch (why.error) {
        case EACCES:
        case EPERM:
            return "your user may not use it: it is not in the group '" + DeviceGroup(device) +
                   "' (sudo usermod -aG " + DeviceGroup(device) + " \"$USER\", then log in again).";
        case EBUSY:
            return why.holder > 0 ? "the port is held by PID " + std::to_string(why.holder) +
                                        " (its lock file names it); end that program first."
                                  : "another program has the port open; end it first.";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "no such device. USB adapters are listed in /dev/serial/by-id/; set the "
                   "device of [COM" +
                   std::to_string(portNumber) + "] in the ports file " + PortsFilePath() + ".";
        case ENOTTY:
            return "this is not a serial port; check the device of [COM" +
                   std::to_string(portNumber) + "] in the ports file " + PortsFilePath() + ".";
        default:
            return "check the device of [COM" + std::to_string(portNumber) +
                   "] in the ports file " + PortsFilePath() + ".";
    }
}

}  // namespace

std::string OpenFailureText(int portNumber, const std::string& device,
                            const serialio::OpenFailure& why) {
    return "Osprey: cannot open COM" + std::to_string(portNumber) + " (" + device +
           "): " + std::strerror(why.error) + "\n  " + Hint(portNumber, device, why) + "\n";
}

void ReportOpenFailure(int portNumber, const std::string& device,
                       const serialio::OpenFailure& why) {
    std::string text = OpenFailureText(portNumber, device, why);
    std::fputs(text.c_str(), stderr);
}

std::string AddressHint(std::string_view address) {
    if (!address.starts_with("/")) {
        return {};
    }
    std::string device(address.substr(0, address.find("::")));
    return "Osprey: the address \"" + std::string(address) +
           "\" is a device path. Osprey takes COM<n> (or ASRL<n>); the ports file " +
           PortsFilePath() +
           " maps the number to a device, for example:\n  [COM1]\n  device = " + device + "\n";
}

}  // namespace osprey
