// Opening a VXI-11 instrument: the core channel's port from the configuration
// or the host's portmapper, then a link to the LAN device, all within the
// connect time-out.
#include <chrono>

#include "Vxi11.h"
#include "Vxi11Numbers.h"

namespace kio {

std::unique_ptr<Transport> OpenVxi11Address(const BusRequest& request, BusFailure& failure,
                                            std::string& why) {
    Vxi11Target target;
    if (!ReadVxi11Request(request, target, failure, why))
        return nullptr;
    const auto start = std::chrono::steady_clock::now();
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
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    if (spent >= request.connectTimeoutMs) {
        why = target.host + ": the portmapper took the whole connect time";
        return nullptr;
    }
    return OpenVxi11(target.host, port, target.device,
                     request.connectTimeoutMs - static_cast<uint32_t>(spent), why);
}

}  // namespace kio
