#include <gtest/gtest.h>

#include "WinDcb.h"
#include "WinDiagnostics.h"
#include "WinPort.h"

namespace osprey {
namespace {

// Every field away from its default and from its neighbours, so a field that
// lands in the wrong place of the block shows.
LineSettings Unusual() {
    LineSettings s;
    s.baudRate = 115200;
    s.byteSize = 7;
    s.parity = kMarkParity;
    s.stopBits = kTwoStopBits;
    s.binary = true;
    s.parityCheck = true;
    s.outxCtsFlow = true;
    s.outxDsrFlow = false;
    s.dtrControl = kDtrHandshake;
    s.dsrSensitivity = true;
    s.txContinueOnXoff = false;
    s.outX = true;
    s.inX = false;
    s.errorReplace = true;
    s.discardNull = false;
    s.rtsControl = kRtsToggle;
    s.abortOnError = true;
    s.xonLimit = 256;
    s.xoffLimit = 300;
    s.xonChar = 0x11;
    s.xoffChar = 0x13;
    s.errorChar = static_cast<char>(0xFF);
    s.eofChar = '\n';
    s.eventChar = 0x7E;
    return s;
}

TEST(WinDcb, SettingsGoIntoTheBlockAndComeBackUnchanged) {
    DCB dcb{};
    ToDcb(Unusual(), dcb);
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, MARKPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_TOGGLE);
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 1u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    EXPECT_EQ(dcb.XoffLim, 300);
    EXPECT_EQ(dcb.EofChar, '\n');
    EXPECT_EQ(dcb.EvtChar, 0x7E);
    EXPECT_EQ(FromDcb(dcb), Unusual());
}

TEST(WinDcb, FramingCompareLooksAtRateSizeParityAndStopBitsOnly) {
    DCB asked{};
    ToDcb(Unusual(), asked);
    DCB taken = asked;
    taken.fOutX = 0;
    EXPECT_TRUE(SameFraming(asked, taken));
    for (auto change :
         {+[](DCB& d) { d.BaudRate = 57600; }, +[](DCB& d) { d.ByteSize = 8; },
          +[](DCB& d) { d.Parity = NOPARITY; }, +[](DCB& d) { d.StopBits = ONESTOPBIT; }}) {
        DCB other = asked;
        change(other);
        EXPECT_FALSE(SameFraming(asked, other));
    }
}

// Wine's parser refuses a bare rate and Windows' takes texts Linux does not:
// the profile's text goes through the Linux build's parser here too.
TEST(WinDcb, ModeTextsMeanWhatTheyMeanOnLinux) {
    struct Case {
        const char* text;
        uint32_t baud;
        Parity parity;
        uint8_t size;
        StopBits stop;
    };
    for (const Case& c : {Case{"9600,N,8,1", 9600, kNoParity, 8, kOneStopBit},
                          Case{"57600,e,7,2", 57600, kEvenParity, 7, kTwoStopBits},
                          Case{"1200,O,5,1.5", 1200, kOddParity, 5, kOne5StopBits},
                          Case{"19200", 19200, kMarkParity, 8, kTwoStopBits}}) {
        LineSettings s = Unusual();
        ASSERT_TRUE(BuildLineSettings(c.text, s)) << c.text;
        EXPECT_EQ(s.baudRate, c.baud) << c.text;
        EXPECT_EQ(s.parity, c.parity) << c.text;
        EXPECT_EQ(s.byteSize, c.size) << c.text;
        EXPECT_EQ(s.stopBits, c.stop) << c.text;
    }
    for (const char* refused : {"fast please", "0", "0,N,8,1", "baud=9600 parity=N"}) {
        LineSettings kept = Unusual();
        EXPECT_FALSE(BuildLineSettings(refused, kept)) << refused;
        EXPECT_EQ(kept, Unusual()) << refused;
    }
}

// Wine's driver takes a rate of 0; the Linux build refuses it, and so does this one.
TEST(WinPort, RatesLinuxCannotSetAreRefusedBeforeTheDriverIsAsked) {
    for (uint32_t baud : {0u, 12000001u, 4294967295u}) {
        WinPort port;  // not open: a driver asked would say the handle is invalid
        LineSettings settings;
        settings.baudRate = baud;
        EXPECT_FALSE(port.ApplySettings(settings)) << baud;
        EXPECT_EQ(port.LastErrorText(), SystemErrorText(ERROR_INVALID_PARAMETER)) << baud;
    }
    WinPort port;
    EXPECT_FALSE(port.ApplySettings(LineSettings{}));
    EXPECT_NE(port.LastErrorText(), SystemErrorText(ERROR_INVALID_PARAMETER));
}

// The driver's rule: no write time-out at all when both parts are 0.
TEST(WinPort, WriteTimeOutsCountAsTheDriverCountsThem) {
    PortTimeouts timeouts;
    EXPECT_EQ(WriteLimitMs(timeouts, 100), serialio::kNoWriteLimit);
    timeouts.writeTotalConstant = 12000;
    EXPECT_EQ(WriteLimitMs(timeouts, 100), 12000u);
    timeouts.writeTotalMultiplier = 2;
    EXPECT_EQ(WriteLimitMs(timeouts, 100), 12200u);
    timeouts.writeTotalMultiplier = 0xFFFFFFFF;
    EXPECT_LT(WriteLimitMs(timeouts, 100), serialio::kNoWriteLimit);
}

TEST(WinPort, MissingPortIsRefusedAndNamedOnStderr) {
    WinPort port;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(port.Open("\\\\.\\COM250"));
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cannot open COM250 (\\\\.\\COM250)"), std::string::npos) << said;
    EXPECT_FALSE(port.LastErrorText().empty());
    EXPECT_EQ(port.LastErrorText().find('\n'), std::string::npos);
    port.Close();  // nothing open: touches no handle
}

TEST(WinPort, DiagnosticsSayWhatToDo) {
    EXPECT_NE(OpenFailureText("\\\\.\\COM3", ERROR_ACCESS_DENIED, "Access denied.")
                  .find("another program has the port open"),
              std::string::npos);
    EXPECT_NE(
        OpenFailureText("\\\\.\\COM3", ERROR_FILE_NOT_FOUND, "Not found.").find("Device Manager"),
        std::string::npos);
    EXPECT_EQ(AddressHint("COM1::BAUD=9600"), "");
    EXPECT_NE(AddressHint("/dev/ttyUSB0").find("COM<n>"), std::string::npos);
}

TEST(WinPort, SystemTextsLoseTheirLineEnd) {
    std::string text = SystemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
}

}  // namespace
}  // namespace osprey
