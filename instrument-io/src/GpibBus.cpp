// GPIB addresses: there is no GPIB bus here, only aliases that route a GPIB
// address to a serial port or a socket. One left unrouted fails with advice.
#include "BusTable.h"

namespace kio {

std::unique_ptr<Transport> OpenGpibAddress(const BusRequest&, BusFailure& failure, std::string&) {
    failure = BusFailure::kNoRoute;
    return nullptr;
}

}  // namespace kio
