#include "OutputPacer.h"

#include <gtest/gtest.h>

namespace serialio {
namespace {

constexpr uint64_t kMs = 1000000;

TEST(OutputPacerTest, BytesLeaveAtTheLineRate) {
    OutputPacer pacer;
    pacer.SetRate(9600, 10);  // 960 bytes a second
    pacer.Sent(960, 0);
    EXPECT_EQ(pacer.Pending(0), 960u);
    EXPECT_EQ(pacer.Pending(500 * kMs), 480u);
    EXPECT_EQ(pacer.Pending(1000 * kMs), 0u);
    // A line that fell idle starts again from now, not from the past.
    pacer.Sent(96, 5000 * kMs);
    EXPECT_EQ(pacer.Pending(5000 * kMs), 96u);
    EXPECT_EQ(pacer.MillisecondsFor(96), 100u);
    EXPECT_EQ(pacer.MillisecondsFor(0), 1u);
}

TEST(OutputPacerTest, AnAnswerMeansEverythingWasRead) {
    OutputPacer pacer;
    pacer.SetRate(2400, 10);
    pacer.Sent(1000, 0);
    pacer.Drained(10 * kMs);
    EXPECT_EQ(pacer.Pending(10 * kMs), 0u);
    pacer.Sent(24, 10 * kMs);
    EXPECT_EQ(pacer.Pending(10 * kMs), 24u);
}

TEST(OutputPacerTest, NoRateNothingPending) {
    OutputPacer pacer;
    pacer.Sent(5000, 0);
    EXPECT_EQ(pacer.Pending(0), 0u);
}

}  // namespace
}  // namespace serialio
