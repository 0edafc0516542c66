// GPIB through a "++" controller on Windows, run under Wine: the controller's
// dialogue over Winsock against a loopback controller of the test's own, one
// connection for the sessions of a controller, what a silent or lost
// controller costs a session, and whole exchanges through the native
// simulator's controller face (its port in KR470_SIM_PORT, its transcript in
// KR470_SIM_TRANSCRIPT; skipped without it).
#include "WinSessionSupport.h"
//
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <kio/Session.h>

namespace kio {
namespace {

constexpr const char* kSetUp = "++mode 1\n++auto 0\n++eoi 1\n++eos 2\n";

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? "" : value;
}

// Board 0's controller is the test's own, controller_.
class WinGpib : public ConfiguredSessions {
  protected:
    void SetUp() override { Configure("[gpib0]\ncontroller = " + controller_.Address() + "\n"); }
    // A session to `address` with its time-out, the controller's side of its
    // connection accepted; nothing when it does not open.
    std::unique_ptr<Session> OpenAccepted(const std::string& address, uint32_t timeoutMs) {
        Result result;
        std::unique_ptr<Session> session = Open(address, result);
        EXPECT_NE(session, nullptr) << result.message;
        if (session != nullptr) {
            controller_.Accept();
            session->SetTimeout(timeoutMs);
        }
        return session;
    }
    Listener controller_;
};

TEST_F(WinGpib, TheControllerIsSetUpOnceThenAddressedAndAskedOnceForEachReply) {
    std::unique_ptr<Session> session = OpenAccepted("GPIB0::10::5", 2000);
    ASSERT_NE(session, nullptr);

    std::thread instrument([&] {
        EXPECT_EQ(controller_.ReceiveUntil("++read eoi\n"),
                  std::string(kSetUp) + "++read_tmo_ms 2000\n++addr 10 101\n*IDN?\n++read eoi\n");
        controller_.Send("Velmora,KR470A\n");
    });
    std::string reply;
    Result result = session->Query("*IDN?", reply);
    instrument.join();
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_EQ(reply, "Velmora,KR470A");

    // Set up and addressed already: the new read time-out (at most the
    // controller's 3000 ms) and the data, escaped.
    session->SetTimeout(5000);
    ASSERT_TRUE(session->Write("dlo \"+1\r\"").ok());
    EXPECT_EQ(controller_.ReceiveUntil("\"\n"), "++read_tmo_ms 3000\ndlo \"\x1b+1\x1b\r\"\n");
}

TEST_F(WinGpib, TwoBoardsOnOneControllerShareOneConnectionAndAddressTheirOwnInstrumentEachTime) {
    // The same controller, written two ways.
    Configure("[gpib0]\ncontroller = " + controller_.Address() +
              "\n[gpib1]\ncontroller = tcpip::127.0.0.1::" + controller_.Port() + "::socket\n");
    Result result;
    std::unique_ptr<Session> instrument = Open("GPIB0::10", result);
    ASSERT_NE(instrument, nullptr) << result.message;
    std::unique_ptr<Session> other = Open("GPIB1::11", result);
    ASSERT_NE(other, nullptr) << result.message;
    controller_.Accept();
    EXPECT_FALSE(controller_.ConnectionWaiting());

    ASSERT_TRUE(instrument->Write("*CLS").ok());
    EXPECT_EQ(controller_.ReceiveUntil("*CLS\n"),
              std::string(kSetUp) + "++read_tmo_ms 2000\n++addr 10\n*CLS\n");
    ASSERT_TRUE(other->Write("*RST").ok());
    EXPECT_EQ(controller_.ReceiveUntil("*RST\n"), "++addr 11\n*RST\n");
    ASSERT_TRUE(instrument->Write("SYST:REM").ok());
    EXPECT_EQ(controller_.ReceiveUntil("SYST:REM\n"), "++addr 10\nSYST:REM\n");
}

// A reply that does not come: a time-out while the controller answers
// "++ver". A connection the controller closed fails the next write; a session
// opened afterwards connects again, and once that controller answers nothing
// the failure names it.
TEST_F(WinGpib, ASilentInstrumentTimesOutALostControllerFailsTheWriteAndASilentOneIsNamed) {
    std::unique_ptr<Session> session = OpenAccepted("GPIB0::10", 300);
    ASSERT_NE(session, nullptr);

    std::thread answersVer([&] {
        controller_.ReceiveUntil("++ver\n");
        controller_.Send("version 1\n");
    });
    std::string reply;
    Result result = session->Query("*OPC?", reply);
    answersVer.join();
    EXPECT_EQ(result.status, Status::kTimeout);
    EXPECT_EQ(result.message, "Timeout expired before operation completed (GPIB0::10)");

    controller_.Hangup();
    result = session->Write("dlo:comp 1");
    EXPECT_EQ(result.status, Status::kIoError);
    EXPECT_EQ(result.message,
              "I/O error writing to GPIB0::10: the connection to the GPIB "
              "controller " +
                  controller_.Address() + " was lost");

    session = OpenAccepted("GPIB0::10", 300);
    ASSERT_NE(session, nullptr);
    result = session->Query("*OPC?", reply);
    EXPECT_EQ(result.status, Status::kIoError);
    EXPECT_EQ(result.message, "I/O error reading from GPIB0::10: the GPIB controller " +
                                  controller_.Address() + " does not answer");
}

// The simulator's instrument sits at 10: what is sent to 11 on the same
// controller reaches nobody.
TEST_F(WinGpib, TheNativeSimulatorsControllerAnswersItsInstrumentAndOnlyItHearsItsSession) {
    // Copied: setting a variable may move the environment's strings.
    const std::string port = Variable("KR470_SIM_PORT");
    const std::string transcript = Variable("KR470_SIM_TRANSCRIPT");
    if (port.empty() || transcript.empty())
        GTEST_SKIP() << "no simulator (KR470_SIM_PORT)";
    Configure("[gpib0]\ncontroller = TCPIP0::127.0.0.1::" + port + "::SOCKET\n");
    Result result;
    std::unique_ptr<Session> instrument = Open("GPIB0::10::INSTR", result);
    ASSERT_NE(instrument, nullptr) << result.message;
    std::unique_ptr<Session> nobody = Open("GPIB0::11", result);
    ASSERT_NE(nobody, nullptr) << result.message;
    instrument->SetTimeout(5000);
    nobody->SetTimeout(300);

    std::string reply;
    ASSERT_TRUE(instrument->Query("*IDN?", reply).ok());
    EXPECT_EQ(reply, "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    EXPECT_EQ(nobody->Query("*IDN?", reply).status, Status::kTimeout);
    ASSERT_TRUE(instrument->Query("SYST:ERR?", reply).ok());
    EXPECT_EQ(reply, "+0,\"No error\"");

    std::ifstream in(transcript);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "*IDN?\nSYST:ERR?\n");
}

}  // namespace
}  // namespace kio
