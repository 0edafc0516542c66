// The command-line helper the small tools share (kr470-sim, kr470-ports,
// kr470-mkupdate, kr470-fleet): one way to refuse a command line, and one set
// of checks for a number given as an option's value. A number is decimal
// digits, a minus sign first only where the range reaches below zero, nothing
// before or after it, no overflow, and within the range the option allows.
// Each tool keeps the wording of its refusals; the checks are the same.
#pragma once

#include <string>
#include <string_view>

namespace toolargs {

// What is wrong with an option's number.
enum class NumberFault { kNone, kNotANumber, kOutOfRange };

// Reads `text` as a whole number from `low` to `high` into `value`.
// `value` is set only when the answer is kNone.
NumberFault ReadNumber(std::string_view text, long long low, long long high, long long& value);

// How a tool words a refused number.
using NumberWording = std::string (*)(NumberFault fault, std::string_view option,
                                      std::string_view text, long long low, long long high);

// "OPTION takes a number from LOW to HIGH, not 'TEXT'"
std::string RangeWording(NumberFault fault, std::string_view option, std::string_view text,
                         long long low, long long high);

class Tool {
  public:
    constexpr explicit Tool(std::string_view name, NumberWording wording = RangeWording)
        : name_(name), wording_(wording) {}

    // "NAME: WHY" and "Try 'NAME --help' for more information." on stderr,
    // then the end of the program with status 2 (a refused command line).
    [[noreturn]] void Fail(std::string_view why) const;

    // The value of `option`, or Fail in the tool's wording.
    long long Number(std::string_view option, std::string_view text, long long low,
                     long long high) const;

    // The same without ending the program: false with `why` in the tool's wording.
    bool Number(std::string_view option, std::string_view text, long long low, long long high,
                long long& value, std::string& why) const;

  private:
    std::string_view name_;
    NumberWording wording_;
};

}  // namespace toolargs
