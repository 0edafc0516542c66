// Opening a VXI-11 instrument: the core channel's port from the configuration
// or the host's portmapper, then a link to the LAN device, all within the
// connect time-out.
#include "Deadline.h"
#include "Vxi11.h"
#include "Vxi11Numbers.h"

namespace kio {

std::unique_ptr<Transport> OpenVxi11Address(const BusRequest& request, BusFailure& failure,
                                            std::string& why) {
    Vxi11Target target;
    if (!ReadVxi11Request(request, target, failure, why))
        return nullptr;
    const auto deadline = DeadlineIn(request.connectTimeoutMs);
    std::string port;
    if (!ConfiguredCorePort(request.config, target.host, port, why))
        return nullptr;
    if (port.empty()) {
        port = PortFromPortmapper(target.host, kr470::vxi11::kCoreProgram,
                                  kr470::vxi11::kCoreVersion, request.connectTimeoutMs, why);
        if (port.empty()) {
            why +=
                " (a host without a portmapper needs vxi11_port in [tcpip::" + target.host + "])";
            return nullptr;
        }
    }
    const uint32_t left = MsLeft(deadline);
    if (left == 0) {
        why = target.host + ": the portmapper took the whole connect time";
        return nullptr;
    }
    return OpenVxi11(target.host, port, target.device, left, why);
}

}  // namespace kio
