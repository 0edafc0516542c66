// The buses the Windows build does not carry yet: GPIB through a "++"
// controller and VXI-11. Their rows stay in the bus table, so an address of
// either gets the library's own message saying so, and an alias still routes
// a GPIB address to a serial port or socket (aliases are followed before a
// bus is asked).
#include <kio/Session.h>

#include "BusTable.h"
#include "Vxi11.h"

namespace kio {

std::unique_ptr<Transport> OpenGpibAddress(const BusRequest& request, BusFailure& failure,
                                           std::string& why) {
    failure = BusFailure::kNotFound;
    why = "GPIB through a \"++\" controller is not available in this build: add a line \"" +
          request.routed +
          " = TCPIP0::host::port::SOCKET\" (or an ASRL address) to the [aliases] section of " +
          ConfigPath();
    return nullptr;
}

std::optional<LineKey> KeyOfGpibAddress(const BusRequest&) {
    return std::nullopt;  // keyed as the address itself: opening it says why it fails
}

std::unique_ptr<Transport> OpenVxi11Address(const BusRequest& request, BusFailure& failure,
                                            std::string& why) {
    Vxi11Target target;
    if (!ReadVxi11Request(request, target, failure, why))
        return nullptr;
    why =
        "VXI-11 is not available in this build; use a raw socket address "
        "(TCPIP0::host::port::SOCKET)";
    return nullptr;
}

}  // namespace kio
