// The JSON line builder: whatever bytes a text holds, the line parses and
// gives the text back (bytes that are not UTF-8 as U+FFFD).
#include "JsonLine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

namespace fileio {
namespace {

std::string RoundTrip(const std::string& text) {
    JsonLine line;
    line.Add("t", text);
    return nlohmann::json::parse(line.Text())["t"].get<std::string>();
}

TEST(JsonLine, TextsComeBackThroughAParser) {
    for (std::string text : {std::string("plain"), std::string("quote \" and \\ back"),
                             std::string("\b\f\n\r\t\x01\x1f\x7f", 8), std::string("nul\0in", 6),
                             std::string("\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\xa7")}) {
        EXPECT_EQ(RoundTrip(text), text);
    }
}

TEST(JsonLine, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    const std::string kReplacement = "\xef\xbf\xbd";
    EXPECT_EQ(RoundTrip("a\xff"
                        "b"),
              "a" + kReplacement + "b");
    EXPECT_EQ(RoundTrip("\xc3"), kReplacement);                                        // cut short
    EXPECT_EQ(RoundTrip("\xc0\xaf"), kReplacement + kReplacement);                     // overlong
    EXPECT_EQ(RoundTrip("\xed\xa0\x80"), kReplacement + kReplacement + kReplacement);  // surrogate
    EXPECT_EQ(RoundTrip("\xf4\x90\x80\x80").size(), 4 * kReplacement.size());  // past U+10FFFF
}

TEST(JsonLine, MembersNullsAndNumbers) {
    JsonLine line;
    line.Add("a", "x");
    line.AddOrNull("b", std::nullopt);
    line.Add("c", 42LL);
    line.AddFixed("d", 1.23456, 3);
    line.AddFixed("e", std::nan(""), 3);
    EXPECT_EQ(line.Text(), R"({"a":"x","b":null,"c":42,"d":1.235,"e":0.000})");
    EXPECT_TRUE(nlohmann::json::accept(line.Text()));
}

}  // namespace
}  // namespace fileio
