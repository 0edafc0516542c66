#include "Decimal.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace osprey {
namespace {

// The blanks of the "C" locale, whatever locale the process runs in.
bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Skips the leading blanks and reads the sign; returns the index of the first
// character after them.
size_t SkipBlanksAndSign(std::string_view text, bool& negative) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    return i;
}

}  // namespace

int32_t DecimalInteger(std::string_view text) {
    bool negative = false;
    size_t i = SkipBlanksAndSign(text, negative);
    // Accumulate as a negative magnitude so that INT32_MIN is representable.
    constexpr int64_t kLow = std::numeric_limits<int32_t>::min();
    constexpr int64_t kHigh = std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 - (text[i] - '0');
        if (value < kLow) {
            value = kLow;  // saturated; keep consuming digits
        }
    }
    if (!negative) {
        value = -value;
        if (value > kHigh) {
            value = kHigh;
        }
    }
    return static_cast<int32_t>(value);
}

double DecimalNumber(std::string_view text) {
    bool negative = false;
    size_t i = SkipBlanksAndSign(text, negative);
    size_t start = i;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
        }
    }
    std::string_view digits = text.substr(start, i - start);
    if (digits.empty() || digits == ".") {
        return 0.0;
    }
    // Read with the point as the decimal separator whatever the locale says.
    double value = 0.0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                        std::chars_format::fixed);
    if (error == std::errc::result_out_of_range) {
        // No exponent here, so only a long run of integer digits is too large;
        // anything else too far from 1 is too small.
        value = digits.find_first_of("123456789") < digits.find('.') ? HUGE_VAL : 0.0;
    }
    return negative ? -value : value;
}

}  // namespace osprey
