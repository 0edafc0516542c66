#include "BusTable.h"

#include <array>

namespace kio {
namespace {

constexpr std::array kBuses = {
    Bus{"ASRL", "ASRL", OpenAsrlAddress},
    Bus{"TCPIP", "TCPIP", OpenTcpipAddress},
    Bus{"GPIB", "GPIB", OpenGpibAddress},
};

}  // namespace

const Bus* FindBus(std::string_view firstPart) {
    for (const Bus& bus : kBuses) {
        if (firstPart.starts_with(bus.prefix))
            return &bus;
    }
    return nullptr;
}

}  // namespace kio
