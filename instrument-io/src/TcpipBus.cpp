// Raw TCP sockets: "TCPIP[board]::host::port::SOCKET".
#include "BusTable.h"

namespace kio {

std::unique_ptr<Transport> OpenTcpipAddress(const BusRequest& request, BusFailure& failure,
                                            std::string& why) {
    if (request.parts.size() != 4 || request.parts[3] != "SOCKET") {
        failure = BusFailure::kBadAddress;
        return nullptr;
    }
    failure = BusFailure::kNotFound;
    // The host keeps its case: names are matched by the resolver anyway.
    return OpenTcp(request.written[1], request.parts[2], request.connectTimeoutMs, why);
}

}  // namespace kio
