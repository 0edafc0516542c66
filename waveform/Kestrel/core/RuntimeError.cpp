#include "RuntimeError.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "ClassicNumber.h"

namespace kestrel {
namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Skips digits from `at`; returns how many there were.
size_t SkipDigits(std::string_view text, size_t& at) {
    size_t start = at;
    while (at < text.size() && IsDigit(text[at])) {
        ++at;
    }
    return at - start;
}

bool IsDecimalNumber(std::string_view number) {
    size_t at = 0;
    if (at < number.size() && (number[at] == '+' || number[at] == '-')) {
        ++at;
    }
    size_t digits = SkipDigits(number, at);
    if (at < number.size() && number[at] == '.') {
        ++at;
        digits += SkipDigits(number, at);
    }
    if (digits == 0) {
        return false;
    }
    if (at < number.size() && (number[at] == 'e' || number[at] == 'E')) {
        ++at;
        if (at < number.size() && (number[at] == '+' || number[at] == '-')) {
            ++at;
        }
        if (SkipDigits(number, at) == 0) {
            return false;
        }
    }
    return at == number.size();
}

}  // namespace

double ToDouble(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        throw RuntimeError::TypeMismatch();
    }
    size_t last = text.find_last_not_of(" \t");
    std::string number = text.substr(first, last - first + 1);
    if (!IsDecimalNumber(number)) {
        throw RuntimeError::TypeMismatch();
    }
    double value = ReadClassicNumber(number);
    if (!std::isfinite(value)) {
        throw RuntimeError::Overflow();
    }
    return value;
}

int32_t ToLong(const std::string& text) {
    double value = std::nearbyint(ToDouble(text));  // half to even
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        throw RuntimeError::Overflow();
    }
    return static_cast<int32_t>(value);
}

}  // namespace kestrel
