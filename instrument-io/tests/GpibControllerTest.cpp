// The "++" controller transport against a fake controller link: what goes
// on the wire for set-up, addressing, escaping and reading replies.
#include "GpibController.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <limits>
#include <thread>

#include "GpibScan.h"

namespace kio {
namespace {

// A controller link that keeps what it was sent and answers from a script.
// It never waits: a read with nothing to give returns 0 at once.
class FakeLink : public Transport {
  public:
    struct State {
        std::string written;
        std::deque<std::string> toRead;
        // Called with each write; may queue what the controller answers.
        std::function<void(const std::string&, std::deque<std::string>&)> answer;
        bool dropped = false;
    };
    explicit FakeLink(State& state) : state_(state) {}
    bool WriteAll(std::span<const char> bytes, uint32_t) override {
        std::string text(bytes.begin(), bytes.end());
        state_.written += text;
        if (state_.answer)
            state_.answer(text, state_.toRead);
        return true;  // bytes written to a dropped connection vanish in its buffers
    }
    long ReadSome(std::span<char> into, uint32_t) override {
        if (state_.dropped)
            return -1;
        if (state_.toRead.empty())
            return 0;
        std::string piece = state_.toRead.front();
        state_.toRead.pop_front();
        std::copy(piece.begin(), piece.end(), into.begin());
        return static_cast<long>(piece.size());
    }

  private:
    State& state_;
};

class GpibControllerTest : public ::testing::Test {
  protected:
    std::shared_ptr<GpibController> controller_ =
        std::make_shared<GpibController>(std::make_unique<FakeLink>(link_), "ASRL/dev/ttyUSB0");
    FakeLink::State link_;

    // Takes what was written since the last call.
    std::string Written() {
        std::string text;
        text.swap(link_.written);
        return text;
    }
    static std::string Read(Transport& transport, uint32_t waitMs = 1000) {
        std::array<char, 64> buffer{};
        long n = transport.ReadSome(buffer, waitMs);
        return n < 0 ? "<failed>" : std::string(buffer.data(), static_cast<size_t>(n));
    }
};

TEST(EscapeControllerData, EscapesTheControllersCharactersButNotTheFinalLineEnd) {
    auto escaped = [](std::string_view text) { return EscapeControllerData(text); };
    EXPECT_EQ(escaped("dlo \"S1130000\" \n"), "dlo \"S1130000\" \n");
    EXPECT_EQ(escaped("++read\n"), "\x1b+\x1b+read\n");  // data, never a command
    EXPECT_EQ(escaped("a\rb\nc\x1b"
                      "d\n"),
              "a\x1b\rb\x1b\nc\x1b\x1b"
              "d\n");
    EXPECT_EQ(escaped("\n\n"), "\x1b\n\n");
    EXPECT_EQ(escaped("no end"), "no end");
    EXPECT_EQ(escaped(""), "");
}

TEST(ControllerReadTimeout, StaysWithinTheControllersRange) {
    EXPECT_EQ(ControllerReadTimeout(0), 1u);
    EXPECT_EQ(ControllerReadTimeout(500), 500u);
    EXPECT_EQ(ControllerReadTimeout(12000), 3000u);
}

TEST_F(GpibControllerTest, SetsTheControllerUpOnceAndAddressesOnlyWhenTheInstrumentChanges) {
    std::unique_ptr<Transport> ten = MakeGpibTransport(controller_, {10, -1});
    std::unique_ptr<Transport> fiveSecondary = MakeGpibTransport(controller_, {5, 3});

    ASSERT_TRUE(ten->WriteAll(std::string_view("*IDN?\n"), 2000));
    EXPECT_EQ(Written(),
              "++mode 1\n++auto 0\n++eoi 1\n++eos 2\n++read_tmo_ms 2000\n++addr 10\n*IDN?\n");
    ASSERT_TRUE(ten->WriteAll(std::string_view("*CLS\n"), 2000));
    EXPECT_EQ(Written(), "*CLS\n");
    ASSERT_TRUE(ten->WriteAll(std::string_view("*CLS\n"), 12000));
    EXPECT_EQ(Written(), "++read_tmo_ms 3000\n*CLS\n");

    ASSERT_TRUE(fiveSecondary->WriteAll(std::string_view("*CLS\n"), 12000));
    EXPECT_EQ(Written(), "++addr 5 99\n*CLS\n");
    ASSERT_TRUE(ten->WriteAll(std::string_view("*CLS\n"), 12000));
    EXPECT_EQ(Written(), "++addr 10\n*CLS\n");
}

TEST_F(GpibControllerTest, AsksForEachReplyOnceHoweverManyPiecesItComesIn) {
    std::unique_ptr<Transport> ten = MakeGpibTransport(controller_, {10, -1});
    ASSERT_TRUE(ten->WriteAll(std::string_view("*IDN?\n"), 500));
    Written();
    link_.toRead = {"Velmora,", "KR470A\n"};
    EXPECT_EQ(Read(*ten), "Velmora,");
    EXPECT_EQ(Read(*ten), "KR470A\n");
    EXPECT_EQ(Written(), "++read eoi\n");

    // A second reply line without a message between is a reply of its own.
    link_.toRead = {"0\n"};
    EXPECT_EQ(Read(*ten), "0\n");
    EXPECT_EQ(Written(), "++read eoi\n");
}

TEST_F(GpibControllerTest, ReadingAnotherInstrumentReaddressesTheControllerFirst) {
    std::unique_ptr<Transport> ten = MakeGpibTransport(controller_, {10, -1});
    std::unique_ptr<Transport> eleven = MakeGpibTransport(controller_, {11, -1});
    ASSERT_TRUE(ten->WriteAll(std::string_view("*IDN?\n"), 500));
    ASSERT_TRUE(eleven->WriteAll(std::string_view("*IDN?\n"), 500));
    Written();
    link_.toRead = {"ten\n"};
    EXPECT_EQ(Read(*ten), "ten\n");
    EXPECT_EQ(Written(), "++addr 10\n++read eoi\n");
}

TEST_F(GpibControllerTest, AReplyThatDoesNotComeIsATimeOutWhileTheControllerAnswers) {
    link_.answer = [](const std::string& text, std::deque<std::string>& toRead) {
        if (text == "++ver\n")
            toRead.push_back("controller 1.0\n");
    };
    std::unique_ptr<Transport> ten = MakeGpibTransport(controller_, {10, -1});
    ASSERT_TRUE(ten->WriteAll(std::string_view("*IDN?\n"), 5));
    Written();
    EXPECT_EQ(Read(*ten, 5), "");
    EXPECT_EQ(Written(), "++read eoi\n++ver\n");
    EXPECT_EQ(ten->Problem(), "");
    EXPECT_FALSE(controller_->Broken());
}

TEST_F(GpibControllerTest, LinesThatCameAfterATimeOutAreNotTheNextMessagesReply) {
    // The instrument's late reply and the controller's own version line both
    // arrive after the wait was given up.
    link_.answer = [](const std::string& text, std::deque<std::string>& toRead) {
        if (text == "++ver\n") {
            toRead.push_back("late reply\n");
            toRead.push_back("controller 1.0\n");
        }
    };
    std::unique_ptr<Transport> ten = MakeGpibTransport(controller_, {10, -1});
    ASSERT_TRUE(ten->WriteAll(std::string_view("*IDN?\n"), 5));
    EXPECT_EQ(Read(*ten, 5), "");

    ASSERT_TRUE(ten->WriteAll(std::string_view("*IDN?\n"), 500));
    link_.toRead.push_back("Velmora,KR470A\n");
    EXPECT_EQ(Read(*ten), "Velmora,KR470A\n");
}

TEST_F(GpibControllerTest, AControllerThatStopsAnsweringIsAFailureThatSaysSo) {
    std::unique_ptr<Transport> ten = MakeGpibTransport(controller_, {10, -1});
    ASSERT_TRUE(ten->WriteAll(std::string_view("*IDN?\n"), 5));
    EXPECT_EQ(Read(*ten, 5), "<failed>");
    EXPECT_EQ(ten->Problem(), "the GPIB controller ASRL/dev/ttyUSB0 does not answer");

    // The controller is free again for the next exchange.
    EXPECT_TRUE(controller_->Claim(0));
    controller_->Release();
}

TEST_F(GpibControllerTest, ADroppedLinkFailsAndMarksTheControllerBroken) {
    std::unique_ptr<Transport> ten = MakeGpibTransport(controller_, {10, -1});
    ASSERT_TRUE(ten->WriteAll(std::string_view("*IDN?\n"), 500));
    link_.dropped = true;
    EXPECT_EQ(Read(*ten), "<failed>");
    EXPECT_EQ(ten->Problem(), "the connection to the GPIB controller ASRL/dev/ttyUSB0 was lost");
    EXPECT_TRUE(controller_->Broken());

    // Nothing more is sent through it: a write would vanish yet look written.
    std::unique_ptr<Transport> eleven = MakeGpibTransport(controller_, {11, -1});
    for (Transport* transport : {ten.get(), eleven.get()}) {
        Written();
        EXPECT_FALSE(transport->WriteAll(std::string_view("*CLS\n"), 500));
        EXPECT_EQ(transport->Problem(),
                  "the connection to the GPIB controller ASRL/dev/ttyUSB0 was lost");
        EXPECT_EQ(Read(*transport), "<failed>");
        EXPECT_EQ(Written(), "");
    }
}

// The loss shows only when the write looks for stale bytes first: the write
// fails then, rather than look done while its bytes vanish.
TEST_F(GpibControllerTest, AWriteThatFindsTheLinkDroppedFailsAndSendsNothing) {
    std::unique_ptr<Transport> ten = MakeGpibTransport(controller_, {10, -1});
    ASSERT_TRUE(ten->WriteAll(std::string_view("*CLS\n"), 500));
    Written();
    link_.dropped = true;
    EXPECT_FALSE(ten->WriteAll(std::string_view("dlo:comp 1\n"), 500));
    EXPECT_EQ(ten->Problem(), "the connection to the GPIB controller ASRL/dev/ttyUSB0 was lost");
    EXPECT_EQ(Written(), "");
}

TEST_F(GpibControllerTest, AReplyBeingReadHoldsTheControllerUntilItsLineEnds) {
    std::unique_ptr<Transport> ten = MakeGpibTransport(controller_, {10, -1});
    std::unique_ptr<Transport> eleven = MakeGpibTransport(controller_, {11, -1});
    ASSERT_TRUE(ten->WriteAll(std::string_view("*IDN?\n"), 500));
    link_.toRead = {"half"};
    EXPECT_EQ(Read(*ten), "half");
    // Another session cannot get in between the pieces of that reply.
    EXPECT_FALSE(eleven->WriteAll(std::string_view("*CLS\n"), 0));
    EXPECT_NE(eleven->Problem().find("busy"), std::string::npos);
    link_.toRead = {" done\n"};
    EXPECT_EQ(Read(*ten), " done\n");
    EXPECT_TRUE(eleven->WriteAll(std::string_view("*CLS\n"), 0));
}

TEST_F(GpibControllerTest, AnInterruptEndsTheWaitForAReplyButNotTheController) {
    std::unique_ptr<Transport> silent = MakeGpibTransport(controller_, {10, -1});
    ASSERT_TRUE(silent->WriteAll(std::string_view("*IDN?\n"), 1000));
    std::thread stop([&silent] { silent->Interrupt(); });
    EXPECT_EQ(Read(*silent, 600000), "<failed>");  // never the ten minutes
    stop.join();
    EXPECT_EQ(silent->Problem(), "interrupted on request");
    EXPECT_FALSE(silent->WriteAll(std::string_view("*CLS\n"), 1000));
    // Another instrument on the controller goes on.
    std::unique_ptr<Transport> other = MakeGpibTransport(controller_, {11, -1});
    Written();
    ASSERT_TRUE(other->WriteAll(std::string_view("*CLS\n"), 1000));
    EXPECT_EQ(Written(), "++addr 11\n*CLS\n");
}

TEST(ClaimWait, AnEndlessTimeOutIsNotWrappedToAShortOne) {
    // "Wait for ever" is written as the largest time-out.
    constexpr uint32_t kLargest = std::numeric_limits<uint32_t>::max();
    EXPECT_GE(ClaimWait(kLargest), std::chrono::milliseconds(kLargest));
    EXPECT_GE(ClaimWait(kLargest - 1199), std::chrono::milliseconds(kLargest - 1199));
    EXPECT_GT(ClaimWait(0), std::chrono::milliseconds(0));
}

TEST(ParseScanList, TakesAddressesAndRangesOnceAndRefusesTheRest) {
    std::vector<int> addresses;
    std::string problem;
    EXPECT_TRUE(ParseScanList("", addresses, problem));
    EXPECT_TRUE(addresses.empty());
    EXPECT_TRUE(ParseScanList(" 9 - 11, 5,10 ,0", addresses, problem));
    EXPECT_EQ(addresses, (std::vector<int>{9, 10, 11, 5, 0}));
    EXPECT_TRUE(ParseScanList("1-30", addresses, problem));
    EXPECT_EQ(addresses.size(), 30u);

    for (const char* bad : {"31", "5-3", "1-31", "x", "5,", "-4", "1--3", "007"}) {
        EXPECT_FALSE(ParseScanList(bad, addresses, problem)) << bad;
        EXPECT_TRUE(addresses.empty()) << bad;
        EXPECT_NE(problem.find("from 0 to 30"), std::string::npos) << bad;
    }
}

TEST(AppendScannedGpibAddresses, AnAddressAlreadyListedIsNotListedAgainInAnotherSpelling) {
    const Config config = {
        {"ALIASES", {{"GPIB0::10", "TCPIP0::127.0.0.1::5025::SOCKET"}}},
        {"GPIB0", {{"CONTROLLER", "ASRL/dev/ttyUSB0::INSTR"}, {"SCAN", "9-11"}}},
    };
    std::vector<std::string> addresses = {"GPIB0::10"};
    AppendScannedGpibAddresses(config, addresses);
    EXPECT_EQ(addresses,
              (std::vector<std::string>{"GPIB0::10", "GPIB0::9::INSTR", "GPIB0::11::INSTR"}));
}

}  // namespace
}  // namespace kio
