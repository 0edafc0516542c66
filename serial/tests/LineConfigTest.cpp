#include "LineConfig.h"

#include <gtest/gtest.h>

namespace serialio {
namespace {

TEST(LineConfigTest, ReadsAnyBaudRateAndTheFrame) {
    LineConfig config;
    ASSERT_TRUE(ParseLineText("14400,E,7,2", config));
    EXPECT_EQ(config.baud, 14400u);
    EXPECT_EQ(config.parity, 'E');
    EXPECT_EQ(config.dataBits, 7);
    EXPECT_EQ(config.stopBits, 2);
    EXPECT_EQ(config.FrameBits(), 11u);
    ASSERT_TRUE(ParseLineText(" 2400 ", config));  // later items keep their values
    EXPECT_EQ(config.baud, 2400u);
    EXPECT_EQ(config.dataBits, 7);
}

TEST(LineConfigTest, RefusesWhatItDoesNotUnderstandAndKeepsTheOldValues) {
    LineConfig config;
    for (const char* text : {"", "0", "fast", "9600,X,8,1", "9600,N,9,1", "9600,N,8,3",
                             "9600,N,8,1,extra", "9600,NO"}) {
        EXPECT_FALSE(ParseLineText(text, config)) << text;
    }
    EXPECT_EQ(config, LineConfig{});
}

TEST(LineConfigTest, HandshakeNamesAndTheirModemLines) {
    EXPECT_EQ(HandshakeNamed("rts_cts"), Handshake::kRtsCts);
    EXPECT_EQ(HandshakeNamed(" DTR_DSR "), Handshake::kDtrDsr);
    EXPECT_EQ(HandshakeNamed("NONE"), Handshake::kNone);
    EXPECT_EQ(HandshakeNamed("xon_xoff"), Handshake::kXonXoff);
    EXPECT_FALSE(HandshakeNamed("XON"));
    // RTS is lowered wherever the driver does not drive it; DTR only for DTR/DSR.
    EXPECT_TRUE(ModemLinesFor(Handshake::kNone).lowerRts);
    EXPECT_TRUE(ModemLinesFor(Handshake::kXonXoff).lowerRts);
    EXPECT_TRUE(ModemLinesFor(Handshake::kDtrDsr).lowerRts);
    EXPECT_FALSE(ModemLinesFor(Handshake::kRtsCts).lowerRts);
    EXPECT_TRUE(ModemLinesFor(Handshake::kDtrDsr).raiseDtr);
    EXPECT_FALSE(ModemLinesFor(Handshake::kNone).raiseDtr);
}

}  // namespace
}  // namespace serialio
