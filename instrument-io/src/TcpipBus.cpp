// LAN instruments: raw TCP sockets ("TCPIP[board]::host::port::SOCKET") and
// VXI-11 instruments (every other TCPIP form).
#include "BusTable.h"
#include "Vxi11.h"

namespace kio {

std::unique_ptr<Transport> OpenTcpipAddress(const BusRequest& request, BusFailure& failure,
                                            std::string& why) {
    if (request.parts.back() != "SOCKET")
        return OpenVxi11Address(request, failure, why);
    if (request.parts.size() != 4) {
        failure = BusFailure::kBadAddress;
        return nullptr;
    }
    failure = BusFailure::kNotFound;
    // The host keeps its case: names are matched by the resolver anyway.
    return OpenTcp(request.written[1], request.parts[2], request.connectTimeoutMs, why);
}

}  // namespace kio
