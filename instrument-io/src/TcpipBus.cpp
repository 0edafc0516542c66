// LAN instruments: raw TCP sockets ("TCPIP[board]::host::port::SOCKET") and
// VXI-11 instruments (every other TCPIP form).
#include "Address.h"
#include "BusTable.h"
#include "Vxi11.h"

namespace kio {
namespace {

// A socket address has four parts and a port number of at most five digits.
bool IsSocketAddress(const std::vector<std::string>& parts) {
    return parts.size() == 4 && !parts[2].empty() && parts[2].size() < 6 && AllDigits(parts[2]);
}

}  // namespace

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

std::optional<LineKey> KeyOfTcpipAddress(const BusRequest& request) {
    if (request.parts.back() != "SOCKET")
        return KeyOfVxi11Address(request);
    if (!IsSocketAddress(request.parts))
        return std::nullopt;
    const std::string host = HostKeyText(request.written[1]);
    const std::string port = "tcp " + host + ":" + std::to_string(std::stoi(request.parts[2]));
    return LineKey{port, "host " + host, port};
}

}  // namespace kio
