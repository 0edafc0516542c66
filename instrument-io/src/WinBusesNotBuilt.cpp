// The bus the Windows build does not carry yet: VXI-11. Its row stays in the
// bus table, so an address of it gets the library's own message saying so.
#include <kio/Session.h>

#include "BusTable.h"
#include "Vxi11.h"

namespace kio {

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
