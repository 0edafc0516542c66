#include "Address.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "Config.h"

namespace kio {

std::vector<std::string> SplitAddress(std::string_view address) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = address.find("::", start);
        parts.emplace_back(address.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos)
            return parts;
        start = at + 2;
    }
}

std::string Canonical(std::string_view address) {
    std::string upper = Upper(Trim(address));
    if (upper.ends_with("::INSTR"))
        upper.resize(upper.size() - 7);
    return upper;
}

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string NumberedSerialDevice(const std::string& digits) {
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size())
        return {};
    return SerialDeviceOfPort(number);
}

}  // namespace kio
