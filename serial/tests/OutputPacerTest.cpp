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

TEST(OutputPacerTest, AWriterWaitsForRoomToTheNanosecondAndGathersAtFastRates) {
    OutputPacer pacer;
    // 833 ns a byte: the whole 1024-byte queue leaves in 853 us, so a wait of
    // a whole millisecond would leave the line idle.
    pacer.SetRate(12000000, 10);
    EXPECT_EQ(pacer.NanosecondsUntilRoom(1024, 100, 1024), 250000u);  // 83 us stretched to 250
    pacer.SetRate(3000000, 10);                                       // 3333 ns a byte
    EXPECT_EQ(pacer.NanosecondsUntilRoom(1024, 100, 1024), 100 * 3333u);
    // 86805 ns a byte: exactly the time the 100 bytes in the way need.
    pacer.SetRate(115200, 10);
    EXPECT_EQ(pacer.NanosecondsUntilRoom(1024, 100, 1024), 100 * 86805u);
    // A queue filled at no known rate still blocks a while: never a busy loop.
    pacer.SetRate(0, 10);
    EXPECT_EQ(pacer.NanosecondsUntilRoom(1024, 100, 1024), 50000u);
}

TEST(OutputPacerTest, NoRateNothingPending) {
    OutputPacer pacer;
    pacer.Sent(5000, 0);
    EXPECT_EQ(pacer.Pending(0), 0u);
}

}  // namespace
}  // namespace serialio
