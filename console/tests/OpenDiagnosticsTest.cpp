#include "OpenDiagnostics.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace osprey {
namespace {

bool Says(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(OpenDiagnosticsTest, EachReasonHasItsHint) {
    serialio::OpenFailure denied{EACCES, 0};
    std::string text = OpenFailureText(3, "/dev/ttyUSB0", denied);
    EXPECT_TRUE(text.starts_with("Osprey: cannot open COM3 (/dev/ttyUSB0): Permission denied\n"))
        << text;
    EXPECT_TRUE(Says(text, "not in the group 'dialout'"));  // absent device: the usual group
    EXPECT_TRUE(Says(text, "usermod -aG dialout"));

    serialio::OpenFailure held{EBUSY, 4242};
    EXPECT_TRUE(Says(OpenFailureText(1, "/dev/ttyS0", held), "held by PID 4242"));
    serialio::OpenFailure busy{EBUSY, 0};
    EXPECT_TRUE(Says(OpenFailureText(1, "/dev/ttyS0", busy), "another program"));
    serialio::OpenFailure absent{ENOENT, 0};
    std::string missing = OpenFailureText(2, "/dev/ttyUSB9", absent);
    EXPECT_TRUE(Says(missing, "/dev/serial/by-id/"));
    EXPECT_TRUE(Says(missing, "[COM2]"));
    serialio::OpenFailure noLock{ENOENT, 0, true};
    std::string lockText = OpenFailureText(2, "/dev/ttyUSB9", noLock);
    EXPECT_TRUE(Says(lockText, "unset KR470_LOCK_DIR")) << lockText;
    EXPECT_FALSE(Says(lockText, "/dev/serial/by-id/"));  // the device is not what is missing
}

TEST(OpenDiagnosticsTest, OnlyAPathAddressGetsTheComHint) {
    EXPECT_EQ(AddressHint("COM1::BAUD=9600"), "");
    EXPECT_EQ(AddressHint("LPT1"), "");
    std::string hint = AddressHint("/dev/ttyUSB0::BAUD=9600");
    EXPECT_TRUE(Says(hint, "Osprey takes COM<n>"));
    EXPECT_TRUE(Says(hint, "device = /dev/ttyUSB0\n"));
}

}  // namespace
}  // namespace osprey
