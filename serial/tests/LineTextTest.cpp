// The one rule for "9600,N,8,1", which every reader of line settings takes.
#include "LineText.h"

#include <gtest/gtest.h>

#include "LineConfig.h"

namespace serialio {
namespace {

TEST(LineText, ReadsEachPartAndLeavesThePartsLeftOutEmpty) {
    std::optional<LineText> read = ReadLineText(" 1200 , o , 5 , 1.5 ");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->baud, 1200u);
    EXPECT_EQ(read->parity, 'O');
    EXPECT_EQ(read->dataBits, 5);
    EXPECT_EQ(read->stopBits, LineText::Stop::kOneAndHalf);
    read = ReadLineText("4000000,s");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->parity, 'S');
    EXPECT_FALSE(read->dataBits);
    EXPECT_FALSE(read->stopBits);
}

TEST(LineText, ReadsOneAndAHalfStopBitsButSetsThemUpOnlyWithFiveBitBytes) {
    EXPECT_TRUE(ReadLineText("300,N,5,1.5"));
    EXPECT_TRUE(ReadLineText("9600,N,8,1.5"));
    for (const char* text : {"9600,N,8,1,5", "9600,N,5,1.50"})
        EXPECT_FALSE(ReadLineText(text)) << text;
    // The serial line sends them as the two-stop-bit setting of a 5-bit frame
    // and refuses them on any other.
    LineConfig config;
    ASSERT_TRUE(ParseLineText("300,N,5,1.5", config));
    EXPECT_EQ(config.dataBits, 5);
    EXPECT_EQ(config.stopBits, 2);
    LineConfig eightBits;
    EXPECT_FALSE(ParseLineText("300,N,6,1.5", eightBits));
    EXPECT_FALSE(ParseLineText("9600,N,8,1.5", eightBits));
    EXPECT_FALSE(ParseLineText("9600,N,,1.5", eightBits));
    EXPECT_EQ(eightBits.baud, LineConfig{}.baud);
}

TEST(LineText, RefusesEmptyPartsExtraPartsAndNumbersOutOfRange) {
    for (const char* text :
         {"", "0", "-9600", "9600x", "99999999999", "9600,,8,1", "9600,N,,1", "9600,N,8,1,",
          "9600,N,8,1,1", "9600,NN", "9600,X", "9600,N,4", "9600,N,9", "9600,N,8,0", "9600,N,8,3"})
        EXPECT_FALSE(ReadLineText(text)) << text;
}

}  // namespace
}  // namespace serialio
