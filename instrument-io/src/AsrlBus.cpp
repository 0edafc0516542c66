// Serial ports: "ASRL<n>" (device and settings from its [ASRL<n>] section,
// else /dev/ttyS<n-1> at 9600,N,8,1) or "ASRL/dev/..." by device path, its
// settings from the section [ASRL/dev/...] or [/dev/...].
#include "Address.h"
#include "BusTable.h"

namespace kio {
namespace {

struct SerialTarget {
    std::string device;   // as configured or written
    std::string section;  // where its settings are
};

// The device an address names and the section of its settings; none when
// the address has neither form or its port number is past any device.
std::optional<SerialTarget> TargetOf(const BusRequest& request) {
    std::string port = SplitAddress(request.routed)[0].substr(4);
    if (AllDigits(port)) {
        SerialTarget target{Lookup(request.config, "ASRL" + port, "DEVICE"), "ASRL" + port};
        if (target.device.empty())
            target.device = NumberedSerialDevice(port);
        if (target.device.empty())
            return std::nullopt;
        return target;
    }
    if (!port.starts_with("/"))
        return std::nullopt;
    // A device path keeps its case as written. The address's own form names
    // the section; the bare path is read as well.
    SerialTarget target{port, "ASRL" + Upper(port)};
    if (request.config.find(target.section) == request.config.end())
        target.section = Upper(port);
    return target;
}

}  // namespace

std::unique_ptr<Transport> OpenAsrlAddress(const BusRequest& request, BusFailure& failure,
                                           std::string& why) {
    std::optional<SerialTarget> target = TargetOf(request);
    if (!target) {
        failure = BusFailure::kBadAddress;
        return nullptr;
    }
    std::string settings = Lookup(request.config, target->section, "SETTINGS");
    failure = BusFailure::kNotFound;
    return OpenSerial(target->device, settings.empty() ? "9600,N,8,1" : settings,
                      Lookup(request.config, target->section, "HANDSHAKE"), why);
}

std::optional<LineKey> KeyOfAsrlAddress(const BusRequest& request) {
    std::optional<SerialTarget> target = TargetOf(request);
    if (!target)
        return std::nullopt;
    const std::string port = "serial " + RealSerialDevice(target->device);
    return LineKey{port, port, port};
}

}  // namespace kio
