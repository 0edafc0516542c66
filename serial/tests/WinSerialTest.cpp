#include <gtest/gtest.h>

#include "PortScan.h"
#include "WinComm.h"
#include "WinLineConfig.h"

namespace serialio {
namespace {

DCB BlockFor(std::string_view settings, std::string_view handshake) {
    std::string why;
    std::optional<LineConfig> config = LineConfigFor(settings, handshake, why);
    EXPECT_TRUE(config.has_value()) << why;
    DCB dcb{};
    ToDcb(config.value_or(LineConfig{}), dcb);
    return dcb;
}

TEST(WinLineConfig, TheSettingsTextGoesIntoTheBlocksFraming) {
    DCB dcb = BlockFor("57600,e,7,2", "");
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(FrameBitsOf(dcb), 11u);

    // 1.5 stop bits exist with 5-bit bytes only, and take the line as 2.
    dcb = BlockFor("1200,O,5,1.5", "");
    EXPECT_EQ(dcb.Parity, ODDPARITY);
    EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
    EXPECT_EQ(FrameBitsOf(dcb), 9u);

    dcb = BlockFor("9600,N,8,1", "");
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(FrameBitsOf(dcb), 10u);
}

TEST(WinLineConfig, EachHandshakeDrivesItsOwnLinesAndNoOther) {
    DCB none = BlockFor("9600", "none");
    EXPECT_EQ(none.fOutxCtsFlow, 0u);
    EXPECT_EQ(none.fOutxDsrFlow, 0u);
    EXPECT_EQ(none.fOutX, 0u);
    EXPECT_EQ(none.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(none.fDtrControl, DTR_CONTROL_DISABLE);

    DCB rtsCts = BlockFor("9600", "RTS_CTS");
    EXPECT_EQ(rtsCts.fOutxCtsFlow, 1u);
    EXPECT_EQ(rtsCts.fRtsControl, RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(rtsCts.fDtrControl, DTR_CONTROL_DISABLE);

    DCB dtrDsr = BlockFor("9600", "DTR_DSR");
    EXPECT_EQ(dtrDsr.fOutxDsrFlow, 1u);
    EXPECT_EQ(dtrDsr.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(dtrDsr.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(dtrDsr.fOutxCtsFlow, 0u);

    DCB xonXoff = BlockFor("9600", "xon_xoff");
    EXPECT_EQ(xonXoff.fOutX, 1u);
    EXPECT_EQ(xonXoff.fInX, 1u);
    EXPECT_EQ(xonXoff.XonChar, 0x11);
    EXPECT_EQ(xonXoff.XoffChar, 0x13);
    EXPECT_EQ(xonXoff.fOutxCtsFlow, 0u);
}

TEST(WinLineConfig, TextsNotUnderstoodSayWhich) {
    std::string why;
    EXPECT_FALSE(LineConfigFor("fast", "", why));
    EXPECT_EQ(why, "line settings \"fast\" not understood");
    EXPECT_FALSE(LineConfigFor("9600", "RTS", why));
    EXPECT_EQ(why, "handshake \"RTS\" not understood (NONE, XON_XOFF, RTS_CTS or DTR_DSR)");
}

TEST(WinComm, PortNamesBecomeDevicePathsAndPathsStayAsTheyAre) {
    EXPECT_EQ(CommDevicePath("COM5"), "\\\\.\\COM5");
    EXPECT_EQ(CommDevicePath("COM12"), "\\\\.\\COM12");
    EXPECT_EQ(CommDevicePath("\\\\.\\COM3"), "\\\\.\\COM3");
}

// Wine's driver would take a rate of 0 and the Linux library refuses it; no
// driver is asked for it (the port is not open: a driver asked would say the
// handle is invalid).
TEST(WinComm, RatesOutOfRangeAreRefusedBeforeTheDriverIsAsked) {
    WinComm comm;
    for (DWORD baud : {0ul, 12000001ul}) {
        DCB dcb{};
        ToDcb(LineConfig{}, dcb);
        dcb.BaudRate = baud;
        EXPECT_FALSE(comm.ApplyState(dcb)) << baud;
        EXPECT_EQ(comm.LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << baud;
    }
}

TEST(WinComm, AMissingPortIsRefusedWithTheSystemsReason) {
    WinComm comm;
    EXPECT_FALSE(comm.Open(CommDevicePath("COM250")));
    EXPECT_FALSE(comm.IsOpen());
    std::string text = SystemErrorText(comm.LastError());
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
}

TEST(WinPortScan, OnlyComPortNamesAreListed) {
    for (const char* name : {"COM1", "COM5", "COM256"}) {
        EXPECT_TRUE(IsSerialPortName(name)) << name;
    }
    for (const char* name : {"COM", "COMX", "LPT1", "com1", "COM1 ", "\\\\.\\COM1"}) {
        EXPECT_FALSE(IsSerialPortName(name)) << name;
    }
}

TEST(WinPortScan, TheDeviceMapsPortsComeInNumberOrder) {
    std::vector<SerialPortInfo> ports = ScanSysfs(ScanRoots{});
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_TRUE(IsSerialPortName(ports[i].device)) << ports[i].device;
        if (i > 0) {
            EXPECT_LT(std::stoi(ports[i - 1].device.substr(3)),
                      std::stoi(ports[i].device.substr(3)));
        }
    }
}

}  // namespace
}  // namespace serialio
