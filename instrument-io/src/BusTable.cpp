#include "BusTable.h"

#include <array>

#include "Address.h"

namespace kio {
namespace {

constexpr std::array kBuses = {
    Bus{"ASRL", "ASRL", OpenAsrlAddress, KeyOfAsrlAddress},
    Bus{"TCPIP", "TCPIP", OpenTcpipAddress, KeyOfTcpipAddress},
    Bus{"GPIB", "GPIB", OpenGpibAddress, KeyOfGpibAddress},
};

}  // namespace

const Bus* FindBus(std::string_view firstPart) {
    for (const Bus& bus : kBuses) {
        if (firstPart.starts_with(bus.prefix))
            return &bus;
    }
    return nullptr;
}

BusAddress SplitForBus(const std::string& routed) {
    BusAddress address{SplitAddress(Canonical(routed)), SplitAddress(routed), nullptr};
    address.bus = FindBus(address.parts[0]);
    return address;
}

}  // namespace kio
