#include <gtest/gtest.h>

#include "LineConfig.h"
#include "SerialPort.h"

namespace osprey {
namespace {

// Settings unlike any a mode text gives, to see what a text changed.
LineSettings Preset() {
    LineSettings settings;
    settings.baudRate = 110;
    settings.byteSize = 6;
    settings.parity = kMarkParity;
    settings.stopBits = kTwoStopBits;
    settings.outX = true;
    return settings;
}

struct Accepted {
    const char* text;
    uint32_t baudRate;
    Parity parity;
    uint8_t byteSize;
    StopBits stopBits;
};

TEST(BuildLineSettings, TakesEachPartAndLeavesOutPartsAsTheyWere) {
    const Accepted cases[] = {
        {"9600,N,8,1", 9600, kNoParity, 8, kOneStopBit},
        {"57600,e,7,2", 57600, kEvenParity, 7, kTwoStopBits},
        {"1200,O,5,1.5", 1200, kOddParity, 5, kOne5StopBits},
        // Taken as the system's mode-text builder takes it: the baud rate is
        // what Osprey keeps of a ports-file text.
        {"115200,N,8,1.5", 115200, kNoParity, 8, kOne5StopBits},
        {"4800,m,6,1", 4800, kMarkParity, 6, kOneStopBit},
        {"2400,S,8,2", 2400, kSpaceParity, 8, kTwoStopBits},
        {" 19200 , N , 7 , 1 ", 19200, kNoParity, 7, kOneStopBit},
        {"4000000", 4000000, kMarkParity, 8, kTwoStopBits},  // data bits default to 8
        {"300,E", 300, kEvenParity, 8, kTwoStopBits},
        {"300,N,7", 300, kNoParity, 7, kTwoStopBits},
    };
    for (const Accepted& c : cases) {
        LineSettings settings = Preset();
        ASSERT_TRUE(BuildLineSettings(c.text, settings)) << c.text;
        EXPECT_EQ(settings.baudRate, c.baudRate) << c.text;
        EXPECT_EQ(settings.parity, c.parity) << c.text;
        EXPECT_EQ(settings.byteSize, c.byteSize) << c.text;
        EXPECT_EQ(settings.stopBits, c.stopBits) << c.text;
        EXPECT_TRUE(settings.outX) << c.text;  // not a mode text's business
    }
}

TEST(BuildLineSettings, RefusesAnythingElseAndKeepsTheSettings) {
    const char* refused[] = {
        "",
        "0",
        "0,N,8,1",
        "-9600",
        "9600x",
        "abc",
        "9600,X",
        "9600,NN",
        "9600,,8,1",
        "9600,N,4",
        "9600,N,9",
        "9600,N,x",
        "9600,N,8,0",
        "9600,N,8,3",
        "9600,N,8,1,",
        "9600,N,8,1,1",
        "99999999999,N,8,1",
    };
    for (const char* text : refused) {
        LineSettings settings = Preset();
        EXPECT_FALSE(BuildLineSettings(text, settings)) << text;
        EXPECT_EQ(settings.baudRate, 110u) << text;
        EXPECT_EQ(settings.byteSize, 6) << text;
        EXPECT_EQ(settings.parity, kMarkParity) << text;
        EXPECT_EQ(settings.stopBits, kTwoStopBits) << text;
    }
}

// Osprey's ports file and address, instrument-io's "settings" key and
// kr470-ports' --settings once read these texts by rules of their own.
TEST(BuildLineSettings, TakesAndRefusesTheSameTextsAsTheSerialLibrary) {
    for (const char* text : {"9600,N,8,1", "1200,O,5,1.5", "14400,m,6,2", "9600,,8,1",
                             "9600,N,8,1,", "9600,n", "2400 ", "9600,N,8,3"}) {
        LineSettings settings;  // one stop bit, as the serial library's default
        serialio::LineConfig config;
        const bool osprey = BuildLineSettings(text, settings);
        EXPECT_EQ(osprey, serialio::ParseLineText(text, config)) << text;
        if (osprey) {
            EXPECT_EQ(settings.baudRate, config.baud) << text;
            EXPECT_EQ(settings.stopBits == kOneStopBit, config.stopBits == 1) << text;
        }
    }
}

}  // namespace
}  // namespace osprey
