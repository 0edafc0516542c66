// The device on a pseudo-terminal: what a pty can show of locks, restore,
// speeds and the bounded backlog.
#include "SerialDevice.h"

#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "HeldPorts.h"
#include "LockFile.h"
#include "PseudoTerminal.h"
#include "ScopedEnv.h"

namespace serialio {
namespace {

using testsupport::LockFolder;
using testsupport::PseudoTerminal;

struct PortState {
    termios tio{};
    uint32_t speed = 0;
};

PortState StateOf(int fd) {
    PortState state;
    tcgetattr(fd, &state.tio);
    state.speed = GetLineSpeed(fd);
    return state;
}

void ExpectSameState(const PortState& a, const PortState& b) {
    EXPECT_EQ(a.tio.c_iflag, b.tio.c_iflag);
    EXPECT_EQ(a.tio.c_oflag, b.tio.c_oflag);
    EXPECT_EQ(a.tio.c_cflag, b.tio.c_cflag);
    EXPECT_EQ(a.tio.c_lflag, b.tio.c_lflag);
    EXPECT_EQ(a.tio.c_line, b.tio.c_line);
    for (size_t i = 0; i < NCCS; ++i) {
        EXPECT_EQ(a.tio.c_cc[i], b.tio.c_cc[i]) << "c_cc[" << i << "]";
    }
    EXPECT_EQ(cfgetispeed(&a.tio), cfgetispeed(&b.tio));
    EXPECT_EQ(cfgetospeed(&a.tio), cfgetospeed(&b.tio));
    EXPECT_EQ(a.speed, b.speed);
}

bool Exclusive(int fd) {
    int on = 0;
    return ioctl(fd, TIOCGEXCL, &on) == 0 && on != 0;
}

class SerialDeviceTest : public ::testing::Test {
  protected:
    SerialDeviceTest() : before_(StateOf(pty_.Keeper())) {}

    std::string LockPath() const { return lock_.Path() + "/" + LockNameFor(pty_.Path()); }

    // Opens the pty and sets its rate; false when either step failed.
    bool OpenAt(SerialDevice& device, uint32_t baud, Handshake handshake = Handshake::kNone) const {
        OpenFailure why;
        LineConfig config;
        config.baud = baud;
        config.handshake = handshake;
        return device.Open(pty_.Path(), why) && device.Configure(config);
    }

    LockFolder lock_;
    PseudoTerminal pty_;
    PortState before_;
};

TEST_F(SerialDeviceTest, SettingsComeBackExactlyAtClose) {
    for (uint32_t baud : {2400u, 9600u, 14400u, 115200u}) {
        SerialDevice device;
        ASSERT_TRUE(OpenAt(device, baud, Handshake::kXonXoff));
        EXPECT_EQ(GetLineSpeed(pty_.Keeper()), baud);
        device.Close();
        ExpectSameState(before_, StateOf(pty_.Keeper()));
        EXPECT_FALSE(Exclusive(pty_.Keeper()));
    }
}

TEST_F(SerialDeviceTest, StandardRatesUseTheStandardEncoding) {
    SerialDevice device;
    ASSERT_TRUE(OpenAt(device, 9600));
    LineConfig config = device.Config();
    EXPECT_FALSE(UsesCustomSpeed(pty_.Keeper()));
    termios tio{};
    tcgetattr(pty_.Keeper(), &tio);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    config.baud = 14400;
    ASSERT_TRUE(device.Configure(config));
    EXPECT_TRUE(UsesCustomSpeed(pty_.Keeper()));
    config.handshake = Handshake::kDtrDsr;  // a pty has no modem lines: accepted
    ASSERT_TRUE(device.Configure(config));
    EXPECT_EQ(device.Write(std::span<const char>("SYST:REM\n", 9), 100).count, 9u);
    config.dataBits = 9;  // refused: the device keeps 14400
    EXPECT_FALSE(device.Configure(config));
    EXPECT_EQ(GetLineSpeed(pty_.Keeper()), 14400u);
    EXPECT_EQ(device.Config().dataBits, 8);
}

TEST_F(SerialDeviceTest, OpenTakesTheLockAndRefusesASecondOwner) {
    SerialDevice first;
    OpenFailure why;
    ASSERT_TRUE(first.Open(pty_.Path(), why));
    EXPECT_TRUE(std::filesystem::exists(LockPath()));
    EXPECT_TRUE(Exclusive(pty_.Keeper()));
    SerialDevice second;
    EXPECT_FALSE(second.Open(pty_.Path(), why));
    EXPECT_EQ(why.error, EBUSY);
    EXPECT_EQ(why.holder, getpid());
    first.Close();
    EXPECT_FALSE(std::filesystem::exists(LockPath()));
}

TEST_F(SerialDeviceTest, LockOfAnotherLiveProgramIsHonoured) {
    std::ofstream(LockPath()) << "  " << getppid() << "\n";
    SerialDevice device;
    OpenFailure why;
    EXPECT_FALSE(device.Open(pty_.Path(), why));
    EXPECT_EQ(why.holder, getppid());
    EXPECT_FALSE(Exclusive(pty_.Keeper()));  // the device itself was never touched
    ExpectSameState(before_, StateOf(pty_.Keeper()));
}

TEST_F(SerialDeviceTest, LockThatCannotBeMadeInTheNamedFolderRefusesThePortAndSaysWhy) {
    testsupport::ScopedEnv missing("KR470_LOCK_DIR", lock_.Path() + "/missing");
    ::testing::internal::CaptureStderr();
    SerialDevice device;
    OpenFailure why;
    EXPECT_FALSE(device.Open(pty_.Path(), why));
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(why.lockRefused);
    EXPECT_EQ(why.error, ENOENT);
    EXPECT_NE(said.find("no lock file for " + pty_.Path() + ": cannot make a lock file in " +
                        lock_.Path() + "/missing"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("the port is not opened"), std::string::npos);
    EXPECT_FALSE(Exclusive(pty_.Keeper()));
    ExpectSameState(before_, StateOf(pty_.Keeper()));
}

TEST_F(SerialDeviceTest, CloseLeavesALockThatNoLongerNamesThisProcess) {
    SerialDevice device;
    OpenFailure why;
    ASSERT_TRUE(device.Open(pty_.Path(), why));
    std::ofstream(LockPath()) << "  " << getppid() << "\n";  // replaced by another opener
    device.Close();
    EXPECT_TRUE(std::filesystem::exists(LockPath()));
}

TEST_F(SerialDeviceTest, OutputBacklogStaysWithinTheTransmitQueue) {
    SerialDevice device;
    ASSERT_TRUE(OpenAt(device, 9600));
    std::vector<char> bytes(20000, 'x');
    Transfer sent = device.Write(bytes, 0);  // no time to wait: only what fits now
    EXPECT_EQ(sent.state, IoState::kTimedOut);
    EXPECT_EQ(sent.count, kMaxPendingOutput);
    device.Purge();
}

TEST_F(SerialDeviceTest, AnAnswerLetsTheNextWriteGoAtOnce) {
    SerialDevice device;
    ASSERT_TRUE(OpenAt(device, 2400));
    std::vector<char> bytes(kMaxPendingOutput, 'x');
    ASSERT_EQ(device.Write(bytes, 0).count, kMaxPendingOutput);
    ASSERT_EQ(write(pty_.Master(), "1\n", 2), 2);
    std::array<char, 8> reply{};
    EXPECT_EQ(device.Read(reply, 1000).count, 2u);
    EXPECT_EQ(device.Write(bytes, 0).count, kMaxPendingOutput);
    device.Purge();
}

TEST_F(SerialDeviceTest, SignalReleaseRestoresAndUnlocksWithoutTheObject) {
    pid_t child = fork();
    if (child == 0) {
        auto* device = new SerialDevice;  // never closed: the release must do it all
        bool ok = OpenAt(*device, 14400);
        ReleaseHeldPortsNow();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(LockPath()));
    EXPECT_FALSE(Exclusive(pty_.Keeper()));
    ExpectSameState(before_, StateOf(pty_.Keeper()));
}

}  // namespace
}  // namespace serialio
