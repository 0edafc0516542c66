// The plug-in's run-time errors: a number and a description, reported by the
// handler of the procedure they reach.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrel {

class RuntimeError : public std::runtime_error {
  public:
    RuntimeError(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    int Number() const { return number_; }
    std::string Description() const { return what(); }

    static RuntimeError InvalidArgument() { return {5, "Invalid procedure call or argument"}; }
    static RuntimeError Overflow() { return {6, "Overflow"}; }
    static RuntimeError SubscriptOutOfRange() { return {9, "Subscript out of range"}; }
    static RuntimeError TypeMismatch() { return {13, "Type mismatch"}; }
    static RuntimeError FileNotFound(const std::string& path) {
        return {53, "File not found: " + path};
    }
    // `problem` names the path and says what is wrong with it.
    static RuntimeError FileAccess(const std::string& problem) {
        return {75, "Path/File access error: " + problem};
    }
    static RuntimeError PastEndOfFile() { return {62, "Input past end of file"}; }

  private:
    int number_;
};

// Converts a text to a number the strict way: blanks around a decimal number
// with an optional sign, point and exponent; anything else is a Type mismatch.
double ToDouble(const std::string& text);
// The same, rounded to a 32-bit integer (half to even); a value outside the
// range is an Overflow.
int32_t ToLong(const std::string& text);

}  // namespace kestrel
