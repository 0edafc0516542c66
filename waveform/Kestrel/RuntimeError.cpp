#include "RuntimeError.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kestrel {

int32_t ToLong(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) {
        throw RuntimeError::TypeMismatch();
    }
    std::string number = text.substr(first, last - first + 1);
    size_t i = (number[0] == '+' || number[0] == '-') ? 1 : 0;
    size_t digits = 0;
    bool point = false;
    for (; i < number.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(number[i]))) {
            ++digits;
        } else if (number[i] == '.' && !point) {
            point = true;
        } else {
            throw RuntimeError::TypeMismatch();
        }
    }
    if (digits == 0) {
        throw RuntimeError::TypeMismatch();
    }
    double value = std::nearbyint(std::strtod(number.c_str(), nullptr));  // half to even
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        throw RuntimeError::Overflow();
    }
    return static_cast<int32_t>(value);
}

}  // namespace kestrel
