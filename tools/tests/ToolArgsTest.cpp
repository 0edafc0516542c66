// The tools' one reading of a number on a command line.
#include "ToolArgs.h"

#include <gtest/gtest.h>

namespace toolargs {
namespace {

TEST(ToolArgs, ANumberIsDigitsWithAMinusSignOnlyWhereTheRangeGoesBelowZero) {
    long long value = 0;
    EXPECT_EQ(ReadNumber("115200", 0, 4000000, value), NumberFault::kNone);
    EXPECT_EQ(value, 115200);
    EXPECT_EQ(ReadNumber("-5", -10, 10, value), NumberFault::kNone);
    EXPECT_EQ(value, -5);
    EXPECT_EQ(ReadNumber("-5", 0, 10, value), NumberFault::kOutOfRange);
    EXPECT_EQ(ReadNumber("11", 0, 10, value), NumberFault::kOutOfRange);
    EXPECT_EQ(ReadNumber("99999999999999999999", 0, 10, value), NumberFault::kOutOfRange);
    // Leading blanks and a plus sign, as the tools always took them.
    EXPECT_EQ(ReadNumber("+7", 0, 10, value), NumberFault::kNone);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(ReadNumber(" \t-5", -10, 10, value), NumberFault::kNone);
    EXPECT_EQ(value, -5);
    for (const char* text : {"", "-", "--5", "+", "++5", "+-5", " ", "5 ", "5k", "0x10", "fast"})
        EXPECT_EQ(ReadNumber(text, -10, 10, value), NumberFault::kNotANumber) << text;
    EXPECT_EQ(value, -5);  // left alone by every refusal
}

TEST(ToolArgs, ARefusalNamesTheOptionAndItsRangeUnlessTheToolWordsItOtherwise) {
    long long value = 0;
    std::string why;
    EXPECT_FALSE(Tool("kr470-fleet").Number("--jobs", "0", 1, 1000, value, why));
    EXPECT_EQ(why, "--jobs takes a number from 1 to 1000, not '0'");
    const Tool terse("tool", [](NumberFault fault, std::string_view, std::string_view text,
                                long long, long long) {
        return std::string(fault == NumberFault::kNotANumber ? "not a number: '" : "range: '") +
               std::string(text) + "'";
    });
    EXPECT_FALSE(terse.Number("--n", "x", 0, 1, value, why));
    EXPECT_EQ(why, "not a number: 'x'");
    EXPECT_TRUE(terse.Number("--n", "1", 0, 1, value, why));
    EXPECT_EQ(value, 1);
}

}  // namespace
}  // namespace toolargs
