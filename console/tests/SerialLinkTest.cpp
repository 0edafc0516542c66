#include "SerialLink.h"

#include <gtest/gtest.h>

#include "ConsoleCapture.h"
#include "FakePort.h"

namespace osprey {
namespace {

using testing::FakePort;

class SerialLinkTest : public ::testing::Test {
  protected:
    SerialLink& MakeLink() {
        link_ = std::make_unique<SerialLink>(std::make_unique<FakePort>(port_));
        return *link_;
    }
    template <typename Action>
    static int CodeThrownBy(Action action) {
        try {
            action();
        } catch (LinkError code) {
            return code;
        }
        return 0;
    }
    int ThrownBy(const std::string& address) {
        try {
            MakeLink().Open(address);
        } catch (LinkError code) {
            return code;
        }
        return 0;
    }
    FakePort::State port_;
    std::unique_ptr<SerialLink> link_;
};

TEST_F(SerialLinkTest, DefaultAddressGivesPort1At57600With8N1AndDtrDsr) {
    SerialLink& link = MakeLink();
    link.Open("COM1::Baud=57600,Parity=NONE,Handshake=DTR_DSR,Size=8");
    EXPECT_EQ(port_.openedPath, "\\\\.\\COM1");
    const LineSettings& s = port_.current;
    EXPECT_EQ(link.BaudRate(), 57600u);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, kNoParity);
    EXPECT_EQ(s.stopBits, kOneStopBit);
    EXPECT_TRUE(s.outxDsrFlow);
    EXPECT_EQ(s.dtrControl, kDtrHandshake);
    EXPECT_FALSE(s.outxCtsFlow);
    EXPECT_TRUE(s.abortOnError);
    EXPECT_EQ(s.eofChar, '\n');
    EXPECT_EQ(link.Handshake(), kHandshakeDtrDsr);
    EXPECT_EQ(link.Settings(), s);
}

TEST_F(SerialLinkTest, AddressIsReadInAnyCaseAndTheProfileGivesTheStartingRate) {
    port_.defaultSettings = "19200,E,7,2";
    SerialLink& link = MakeLink();
    link.Open("com3");
    EXPECT_EQ(port_.openedPath, "\\\\.\\COM3");
    EXPECT_EQ(link.BaudRate(), 19200u);
    EXPECT_EQ(port_.current.parity, kNoParity);  // only the rate survives
    EXPECT_EQ(port_.current.byteSize, 8);
    MakeLink().Open("asrl2::instr");
    EXPECT_EQ(port_.openedPath, "\\\\.\\COM2");
    port_.defaultSettings = "nonsense";
    EXPECT_EQ((MakeLink().Open("COM4"), link_->BaudRate()), 9600u);
}

TEST_F(SerialLinkTest, ItemsApplyInFixedOrderWhateverTheirOrderInTheText) {
    SerialLink& link = MakeLink();
    link.Open("COM2::parity=odd,STOP=2,size=5,baud=4800,handshake=rts_cts");
    EXPECT_EQ(link.BaudRate(), 4800u);
    EXPECT_EQ(port_.current.parity, kOddParity);
    EXPECT_EQ(port_.current.byteSize, 5);
    EXPECT_EQ(port_.current.stopBits, kOne5StopBits);  // two stop bits with 5-bit bytes
    EXPECT_TRUE(port_.current.outxCtsFlow);
    EXPECT_EQ(port_.current.rtsControl, kRtsHandshake);
    EXPECT_FALSE(port_.current.outxDsrFlow);
    MakeLink().Open("COM2::HANDSHAKE=XON_XOFF");
    EXPECT_TRUE(port_.current.outX && port_.current.inX);
}

TEST_F(SerialLinkTest, BadAddressesAndValuesThrowParameterError) {
    for (const char* address : {"LPT1", "COM", "COMX", "ASRL::INSTR", "", "COM1::PARITY=N",
                                "COM1::STOP=3", "COM1::HANDSHAKE=XON"}) {
        EXPECT_EQ(ThrownBy(address), kBadParameter) << address;
    }
    EXPECT_TRUE(port_.openedPath.empty() || port_.openedPath == "\\\\.\\COM1");
}

TEST_F(SerialLinkTest, RefusedSettingRestoresThePreviousOneAndKeepsEarlierItems) {
    port_.accepts = [](const LineSettings& s) { return s.byteSize >= 5 && s.byteSize <= 8; };
    SerialLink& link = MakeLink();
    try {
        link.Open("COM1::BAUD=38400,SIZE=9");
        FAIL() << "no throw";
    } catch (LinkError code) {
        EXPECT_EQ(code, kBadParameter);
    }
    EXPECT_EQ(link.BaudRate(), 38400u);
    EXPECT_EQ(link.Settings().byteSize, 8);
    EXPECT_EQ(port_.current, link.Settings());
    EXPECT_EQ(ThrownBy("COM1::SIZE=264"), kBadParameter);  // never taken as 8
}

TEST_F(SerialLinkTest, OpenFailuresThrowTheirCodes) {
    port_.openSucceeds = false;
    EXPECT_EQ(ThrownBy("COM5"), kPortNotOpened);
    port_.openSucceeds = true;
    port_.queuesSucceed = false;
    testing::ConsoleCapture capture;
    EXPECT_EQ(ThrownBy("COM5"), kIoFailure);
    EXPECT_EQ(capture.Output(), "SetupComm Error::The device is not ready.\n");
}

TEST_F(SerialLinkTest, WriteAddsOneLineFeedAndCountsIt) {
    SerialLink& link = MakeLink();
    link.Open("COM1");
    size_t sent = 0;
    link.Write("SYST:REM", sent);
    EXPECT_EQ(sent, 9u);
    link.Write("", sent);
    EXPECT_EQ(sent, 1u);
    EXPECT_EQ(port_.written, "SYST:REM\n\n");
    EXPECT_EQ(port_.timeouts.writeTotalConstant, 12015u);
    std::array<char, 8> buffer{};
    EXPECT_EQ(WriteFormatted(link, buffer, "%s", ""), 0u);
    EXPECT_THROW(WriteFormatted(link, buffer, "%s", "too long a command"), LinkError);
    EXPECT_EQ(port_.written, "SYST:REM\n\n");
}

TEST_F(SerialLinkTest, WriteFailuresMapToTheirCodes) {
    SerialLink& link = MakeLink();
    link.Open("COM1");
    size_t sent = 0;
    port_.writeStatus = IoStatus::kFailed;
    EXPECT_EQ(CodeThrownBy([&] { link.Write("x", sent); }), kIoFailure);
    port_.writeStatus = IoStatus::kTimedOut;
    EXPECT_EQ(CodeThrownBy([&] { link.Write("x", sent); }), kTimeout);
}

// A port whose line takes `room` bytes and then nothing more in time.
class PortThatFillsUp : public FakePort {
  public:
    PortThatFillsUp(State& state, size_t room) : FakePort(state), room_(room) {}
    IoResult Write(std::span<const char> bytes) override {
        if (room_ == 0) {
            return {IoStatus::kTimedOut, 0};
        }
        std::span<const char> taken = bytes.first(std::min(room_, bytes.size()));
        room_ -= taken.size();
        return FakePort::Write(taken);
    }

  private:
    size_t room_;
};

TEST_F(SerialLinkTest, CommandWhoseLineEndFindsNoRoomIsATimeoutNotASentCommand) {
    link_ = std::make_unique<SerialLink>(std::make_unique<PortThatFillsUp>(port_, 8));
    link_->Open("COM1");
    size_t sent = 0;
    EXPECT_EQ(CodeThrownBy([&] { link_->Write("SYST:REM", sent); }), kTimeout);
    EXPECT_EQ(port_.written, "SYST:REM");
}

TEST_F(SerialLinkTest, ReplyInPiecesIsJoinedAndOnlyTheFinalLineFeedRemoved) {
    SerialLink& link = MakeLink();
    link.Open("COM1");
    port_.responder = [](const std::string&) { return std::string("a\rb"); };
    port_.pieceSize = 1;
    std::array<char, 16> reply{};
    size_t length = 0;
    link.Query("*IDN?", reply, length);
    EXPECT_EQ(length, 3u);
    EXPECT_STREQ(reply.data(), "a\rb");
    port_.responder = [](const std::string&) { return std::string("7"); };
    port_.pieceSize = 100;
    link.Query("q?", reply, length);
    EXPECT_EQ(length, 1u);
    EXPECT_STREQ(reply.data(), "7");
}

TEST_F(SerialLinkTest, OverlongReplyIsCutAndTheRestBeginsTheNextReply) {
    SerialLink& link = MakeLink();
    link.Open("COM1");
    port_.input = "0123456789\nnext\n";
    std::array<char, 5> reply{};
    size_t length = 0;
    link.Query("q?", reply, length);
    EXPECT_STREQ(reply.data(), "0123");
    link.Query("q?", reply, length);
    EXPECT_STREQ(reply.data(), "4567");
    std::array<char, 30> rest{};
    link.Query("q?", rest, length);
    EXPECT_STREQ(rest.data(), "89\nnext");  // two lines in one piece stay together
}

TEST_F(SerialLinkTest, ReplyThatExactlyFillsTheBufferTakesItsLineFeed) {
    SerialLink& link = MakeLink();
    link.Open("COM1");
    std::string entry = "-222,\"" + std::string(92, 'x') + "\"";
    ASSERT_EQ(entry.size(), 99u);
    port_.input = entry + "\n0,\"No error\"\n";
    std::array<char, 100> reply{};
    size_t length = 0;
    link.Query("SYST:ERR?", reply, length);
    EXPECT_EQ(length, 99u);
    EXPECT_EQ(std::string(reply.data()), entry);
    link.Query("SYST:ERR?", reply, length);  // in step: the next entry, not an empty line
    EXPECT_STREQ(reply.data(), "0,\"No error\"");
    // Split across reads, the LF behind a full buffer is still taken.
    port_.input = "abcd\nnext\n";
    port_.pieceSize = 1;
    std::array<char, 5> small{};
    link.Query("q?", small, length);
    EXPECT_STREQ(small.data(), "abcd");
    link.Query("q?", small, length);
    EXPECT_STREQ(small.data(), "next");
}

TEST_F(SerialLinkTest, SilenceTimesOutAfterTheTimeoutPlusSlack) {
    SerialLink& link = MakeLink();
    link.Open("COM1");
    std::array<char, 16> reply{};
    size_t length = 0;
    uint32_t start = port_.now;
    EXPECT_EQ(CodeThrownBy([&] { link.Query("*IDN?", reply, length); }), kTimeout);
    EXPECT_EQ(port_.now - start, 12015u);
}

TEST_F(SerialLinkTest, DeadlineSurvivesTheTickCounterWrappingAround) {
    port_.now = 0xFFFFFF00u;
    SerialLink& link = MakeLink();
    link.Open("COM1");
    port_.input = "ok\n";
    std::array<char, 16> reply{};
    size_t length = 0;
    link.Query("q?", reply, length);
    EXPECT_STREQ(reply.data(), "ok");
    EXPECT_THROW(link.Query("q?", reply, length), LinkError);
    EXPECT_LT(port_.now, 20000u);  // wrapped, and waited about 12 s, not 49 days
}

TEST_F(SerialLinkTest, ReplyCompletedAfterTheDeadlineIsStillATimeout) {
    SerialLink& link = MakeLink();
    link.Open("COM1");
    port_.input = "late\n";
    port_.readDelayMs = 13000;
    std::array<char, 16> reply{};
    size_t length = 0;
    EXPECT_THROW(link.Query("q?", reply, length), LinkError);
}

TEST_F(SerialLinkTest, FailedReadThrowsTheLineErrorFlags) {
    SerialLink& link = MakeLink();
    link.Open("COM1");
    port_.readFails = true;
    port_.errorFlags = 0x8000;
    std::array<char, 16> reply{};
    size_t length = 0;
    EXPECT_EQ(CodeThrownBy([&] { link.Query("q?", reply, length); }), 0x8000);
}

TEST_F(SerialLinkTest, DestroyingPurgesAndClosesOnlyAnOpenPort) {
    MakeLink();
    link_.reset();
    EXPECT_EQ(port_.purges, 0);
    EXPECT_FALSE(port_.closed);
    MakeLink().Open("COM1");
    link_.reset();
    EXPECT_EQ(port_.purges, 1);
    EXPECT_TRUE(port_.closed);
}

}  // namespace
}  // namespace osprey
