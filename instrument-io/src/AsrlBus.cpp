// Serial ports: "ASRL<n>" (device and settings from its [ASRL<n>] section,
// else /dev/ttyS<n-1> at 9600,N,8,1) or "ASRL/dev/..." by device path, its
// settings from the section [ASRL/dev/...] or [/dev/...].
#include "Address.h"
#include "BusTable.h"

namespace kio {

std::unique_ptr<Transport> OpenAsrlAddress(const BusRequest& request, BusFailure& failure,
                                           std::string& why) {
    std::string port = SplitAddress(request.routed)[0].substr(4);
    std::string device, section;
    if (AllDigits(port)) {
        section = "ASRL" + port;
        device = Lookup(request.config, section, "DEVICE");
        if (device.empty())
            device = NumberedSerialDevice(port);
        if (device.empty()) {
            failure = BusFailure::kBadAddress;
            return nullptr;
        }
    } else if (port.starts_with("/")) {
        device = port;  // a device path, its case as written
        // The address's own form names the section; the bare path is read as well.
        section = "ASRL" + Upper(device);
        if (request.config.find(section) == request.config.end()) {
            section = Upper(device);
        }
    } else {
        failure = BusFailure::kBadAddress;
        return nullptr;
    }
    std::string settings = Lookup(request.config, section, "SETTINGS");
    failure = BusFailure::kNotFound;
    return OpenSerial(device, settings.empty() ? "9600,N,8,1" : settings,
                      Lookup(request.config, section, "HANDSHAKE"), why);
}

}  // namespace kio
