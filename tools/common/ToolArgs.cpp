#include "ToolArgs.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace toolargs {

NumberFault ReadNumber(std::string_view text, long long low, long long high, long long& value) {
    // Leading blanks and one plus sign are taken, as the C library's readers the
    // tools used before took them; from_chars takes neither, only a minus sign.
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (text.starts_with('+') && !text.starts_with("+-"))
        text.remove_prefix(1);
    const bool negative = !text.empty() && text.front() == '-';
    if (text.empty() || (negative && (text.size() == 1 || text[1] == '-')))
        return NumberFault::kNotANumber;
    long long read = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), read);
    if (end != text.data() + text.size() || error == std::errc::invalid_argument)
        return NumberFault::kNotANumber;
    if (error == std::errc::result_out_of_range || read < low || read > high)
        return NumberFault::kOutOfRange;
    value = read;
    return NumberFault::kNone;
}

std::string RangeWording(NumberFault, std::string_view option, std::string_view text, long long low,
                         long long high) {
    return std::string(option) + " takes a number from " + std::to_string(low) + " to " +
           std::to_string(high) + ", not '" + std::string(text) + "'";
}

void Tool::Fail(std::string_view why) const {
    const int nameLength = static_cast<int>(name_.size());
    std::fprintf(stderr, "%.*s: %.*s\nTry '%.*s --help' for more information.\n", nameLength,
                 name_.data(), static_cast<int>(why.size()), why.data(), nameLength, name_.data());
    std::exit(2);
}

long long Tool::Number(std::string_view option, std::string_view text, long long low,
                       long long high) const {
    long long value = 0;
    std::string why;
    if (!Number(option, text, low, high, value, why))
        Fail(why);
    return value;
}

bool Tool::Number(std::string_view option, std::string_view text, long long low, long long high,
                  long long& value, std::string& why) const {
    const NumberFault fault = ReadNumber(text, low, high, value);
    if (fault != NumberFault::kNone)
        why = wording_(fault, option, text, low, high);
    return fault == NumberFault::kNone;
}

}  // namespace toolargs
