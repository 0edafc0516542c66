#include "LineErrors.h"

#include <gtest/gtest.h>

namespace serialio {
namespace {

TEST(LineErrorsTest, EachMovedCounterGivesItsFlag) {
    ErrorCounts before{5, 5, 5, 5, 5};
    EXPECT_EQ(FlagsBetween(before, before), 0u);
    ErrorCounts after = before;
    after.bufferOverrun++;
    EXPECT_EQ(FlagsBetween(before, after), 0x0001u);
    after = before;
    after.overrun++;
    EXPECT_EQ(FlagsBetween(before, after), 0x0002u);
    after = before;
    after.parity++;
    EXPECT_EQ(FlagsBetween(before, after), 0x0004u);
    after = before;
    after.framing += 3;
    EXPECT_EQ(FlagsBetween(before, after), 0x0008u);
    after = before;
    after.breaks++;
    after.parity++;
    EXPECT_EQ(FlagsBetween(before, after), 0x0014u);
}

TEST(LineErrorsTest, PseudoTerminalKeepsNoCounters) {
    // The device tests rely on this: a pty's reads never fail on counters.
    EXPECT_FALSE(ReadErrorCounts(-1).has_value());
}

}  // namespace
}  // namespace serialio
