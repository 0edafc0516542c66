// The listing's order, the same on every platform (ttyS2 before ttyS10,
// COM2 before COM10).
#include <algorithm>

#include "PortScan.h"

namespace serialio {
namespace {

// "10" sorts after "9": name order with the number compared as a number.
bool NaturalLess(const SerialPortInfo& a, const SerialPortInfo& b) {
    auto split = [](const std::string& d) {
        size_t digits = d.find_last_not_of("0123456789") + 1;
        return std::make_pair(d.substr(0, digits),
                              d.size() - digits > 0 ? std::stol(d.substr(digits)) : -1L);
    };
    return split(a.device) < split(b.device);
}

}  // namespace

void SortPorts(std::vector<SerialPortInfo>& ports) {
    std::sort(ports.begin(), ports.end(), NaturalLess);
}

}  // namespace serialio
