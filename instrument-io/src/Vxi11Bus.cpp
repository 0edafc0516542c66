// Opening a VXI-11 instrument: the core channel's port from the configuration
// or the host's portmapper, then a link to the LAN device, all within the
// connect time-out.
#include <time.h>

#include "Vxi11.h"

namespace kio {
namespace {

constexpr uint32_t kCoreProgram = 0x0607AF;
constexpr uint32_t kCoreVersion = 1;

uint32_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

}  // namespace

std::unique_ptr<Transport> OpenVxi11Address(const BusRequest& request, BusFailure& failure,
                                            std::string& why) {
    Vxi11Target target;
    if (!ReadVxi11Request(request, target, failure, why))
        return nullptr;
    const uint32_t start = NowMs();
    std::string port;
    if (!ConfiguredCorePort(request.config, target.host, port, why))
        return nullptr;
    if (port.empty()) {
        port = PortFromPortmapper(target.host, kCoreProgram, kCoreVersion, request.connectTimeoutMs,
                                  why);
        if (port.empty()) {
            why +=
                " (a host without a portmapper needs vxi11_port in [tcpip::" + target.host + "])";
            return nullptr;
        }
    }
    const uint32_t spent = NowMs() - start;
    if (spent >= request.connectTimeoutMs) {
        why = target.host + ": the portmapper took the whole connect time";
        return nullptr;
    }
    return OpenVxi11(target.host, port, target.device, request.connectTimeoutMs - spent, why);
}

}  // namespace kio
