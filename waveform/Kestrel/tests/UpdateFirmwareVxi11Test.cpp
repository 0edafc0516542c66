// Whole plug-in updates over a VXI-11 address against the simulator's LAN
// face: the same wire dialogue as over a socket, and every failure in the
// plug-in's error box with the I/O layer's description.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ClosedPort.h"
#include "Discovery.h"
#include "UpdateEndToEnd.h"

namespace kestrel {
namespace {

using testsupport::Simulator;

constexpr const char* kAddress = "TCPIP0::127.0.0.1::INSTR";

class UpdateFirmwareVxi11Test : public UpdateFirmwareEndToEndTest {
  protected:
    // The simulator's LAN face, its core port named in the configuration.
    std::unique_ptr<Simulator> StartLanFace(std::vector<std::string> faults = {}) {
        faults.insert(faults.begin(), {"--vxi11", "0"});
        auto simulator = std::make_unique<Simulator>(SimulatorArguments(faults));
        EXPECT_TRUE(simulator->FirstLine().starts_with("vxi11 ")) << simulator->FirstLine();
        UseCorePort(simulator->FirstLine().substr(6));
        return simulator;
    }
    void UseCorePort(const std::string& port) {
        std::ofstream(dir_.Path() / "kio.ini") << "[tcpip]\nvxi11_port = " << port << "\n";
    }
    // An update through the I/O object a pick in the finder hands over: the
    // connection opens inside the update, so a failed open is its error too.
    int32_t UpdateThroughPick(const std::string& address) {
        std::shared_ptr<InstrumentIO> io = MakeDeferredIO(CreateIOFactory(), address);
        return UpdateFirmware(path_, *io, progress_, window_);
    }
    // The run ended in the error box; returns its text.
    std::string ErrorBoxAfter(const std::string& address) {
        EXPECT_EQ(UpdateThroughPick(address), kUpdateRunTimeError);
        if (window_.boxes.empty())
            return "(no box)";
        EXPECT_EQ(window_.boxes.back().title, "FlashWrite Error");
        return window_.boxes.back().text;
    }
};

TEST_F(UpdateFirmwareVxi11Test, NormalUpdateSendsTheSameDialogueAsOverASocket) {
    std::unique_ptr<Simulator> simulator = StartLanFace();
    StrictChecking = 0;
    ASSERT_EQ(Update(kAddress), kUpdateCommitted);
    simulator->Stop();
    EXPECT_EQ(TranscriptLines(), ExpectedDialogue("dlo", PassChecksum()));
    EXPECT_EQ(window_.lines, testing::CleanUpdateLines("KR470A Firmware 1.05"));
    EXPECT_EQ(window_.boxes.back().text,
              "Firmware update completed successfully\r\nVelmora,KR470A,SN470001,1.05-2.10-0.9");
}

// The I/O object of an update whose connection goes after `cutAfter`
// commands; released afterwards, as the window releases it.
class CutConnection : public InstrumentIO {
  public:
    CutConnection(std::unique_ptr<InstrumentIO> inner, size_t cutAfter)
        : inner_(std::move(inner)), left_(cutAfter) {}
    std::string GetAddress() override { return inner_->GetAddress(); }
    void ReadReply(std::string& reply, const std::string& format) override {
        inner_->ReadReply(reply, format);
    }
    void ReadReply(std::vector<std::string>& fields, const std::string& format) override {
        inner_->ReadReply(fields, format);
    }
    std::string GetInterfaceKind() override { return inner_->GetInterfaceKind(); }
    void SendCommand(const std::string& command) override {
        Count();
        inner_->SendCommand(command);
    }
    std::string SendQuery(const std::string& query) override {
        Count();
        return inner_->SendQuery(query);
    }
    void SetTimeout(int32_t milliseconds) override { inner_->SetTimeout(milliseconds); }

  private:
    void Count() {
        if (left_ == 0)
            throw RuntimeError(440, "I/O error: the connection was closed");
        --left_;
    }
    std::unique_ptr<InstrumentIO> inner_;
    size_t left_;
};

// A new link is a new session: an instrument left in download mode comes
// back as a loader, and the same update again commits it the loader's way.
TEST_F(UpdateFirmwareVxi11Test, AnUpdateCutOffInTheDownloadCommitsOnTheNextLinkAsALoader) {
    std::unique_ptr<Simulator> simulator = StartLanFace();
    StrictChecking = 0;
    const size_t cut = 20;  // "dlo:start" and 11 records
    {
        CutConnection connection(CreateIOFactory()->OpenInstrument(kAddress), cut);
        EXPECT_EQ(UpdateFirmware(path_, connection, progress_, window_), kUpdateRunTimeError);
    }
    window_ = testing::FakeWindow();
    ASSERT_EQ(Update(kAddress), kUpdateCommitted);
    simulator->Stop();
    std::vector<std::string> lines = TranscriptLines();
    ASSERT_GT(lines.size(), cut);
    EXPECT_EQ(lines[5].rfind("dlo:start ", 0), 0u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + cut, lines.end()),
              testing::LoaderDialogue("0004701", input_.records, "dlo", PassChecksum()));
    EXPECT_EQ(window_.lines[1], "Loader firmware running ...");
    EXPECT_EQ(window_.boxes.back().text,
              "Firmware update completed successfully\r\nVelmora,KR470A,SN470001,1.05-2.10-0.9");
}

TEST_F(UpdateFirmwareVxi11Test, StrictUpdateQueriesEveryRecordAndResendsARefusedOne) {
    std::unique_ptr<Simulator> simulator = StartLanFace({"--refuse", "4", "--max-recv-size", "32"});
    StrictChecking = 1;
    ASSERT_EQ(UpdateThroughPick("tcpip0::127.0.0.1::inst0::INSTR"), kUpdateCommitted);
    simulator->Stop();
    std::vector<std::string> expected = ExpectedDialogue("dlo?", PassChecksum());
    expected.insert(expected.begin() + 8 + 4, expected[8 + 3]);  // line 4 sent again
    EXPECT_EQ(TranscriptLines(), expected);
    EXPECT_EQ(StrictChecking, 1);
}

TEST_F(UpdateFirmwareVxi11Test, RefusedConnectionAndUnknownDeviceEndInTheErrorBox) {
    const std::string closed = testsupport::ClosedLoopbackPort();
    UseCorePort(closed);
    EXPECT_EQ(ErrorBoxAfter(kAddress), std::string("Cannot open ") + kAddress +
                                           ": 127.0.0.1:" + closed + ": Connection refused");

    std::unique_ptr<Simulator> simulator = StartLanFace();
    window_ = testing::FakeWindow();
    window_.answers = {Answer::kYes};
    std::string text = ErrorBoxAfter("TCPIP0::127.0.0.1::gpib0,7::INSTR");
    EXPECT_TRUE(text.starts_with("Cannot open TCPIP0::127.0.0.1::gpib0,7::INSTR: 127.0.0.1:"))
        << text;
    EXPECT_TRUE(
        text.ends_with(": create_link \"gpib0,7\" failed with VXI-11 error 3 (device not "
                       "accessible)"))
        << text;
    simulator->Stop();
    EXPECT_TRUE(TranscriptLines().empty());
}

TEST_F(UpdateFirmwareVxi11Test, ADroppedLinkEndsInTheErrorBox) {
    std::unique_ptr<Simulator> simulator = StartLanFace({"--hangup-after-records", "10"});
    StrictChecking = 0;
    std::string text = ErrorBoxAfter(kAddress);
    EXPECT_TRUE(text.starts_with(std::string("I/O error writing to ") + kAddress + ": 127.0.0.1:"))
        << text;
    EXPECT_NE(text.find("RPC: Unable to receive"), std::string::npos) << text;
    EXPECT_EQ(TranscriptLines().size(), 8u + 10u);  // the run stopped at the drop
}

TEST_F(UpdateFirmwareVxi11Test, AnInstrumentThatDoesNotAnswerTimesOut) {
    std::unique_ptr<Simulator> simulator = StartLanFace({"--silent", "dlo:stat?"});
    EXPECT_EQ(ErrorBoxAfter(kAddress),
              std::string("Timeout expired before operation completed (") + kAddress + ")");
    EXPECT_EQ(TranscriptLines().back(), "dlo:stat?");
}

TEST_F(UpdateFirmwareVxi11Test, AServerThatStopsAnsweringEndsInTheErrorBox) {
    std::unique_ptr<Simulator> simulator = StartLanFace({"--mute-on", "dlo:start"});
    std::string text = ErrorBoxAfter(kAddress);
    EXPECT_TRUE(text.starts_with(std::string("I/O error writing to ") + kAddress + ": 127.0.0.1:"))
        << text;
    EXPECT_TRUE(text.ends_with(": RPC: Timed out")) << text;
    EXPECT_EQ(TranscriptLines().back(), "dlo:start 0012345");
}

TEST_F(UpdateFirmwareVxi11Test, TheFinderListsTheConfiguredHostsAndAsksWhoTheyAre) {
    std::unique_ptr<Simulator> simulator = StartLanFace();
    const std::string port = simulator->FirstLine().substr(6);
    std::ofstream(dir_.Path() / "kio.ini")
        << "[tcpip]\nvxi11_hosts = 127.0.0.1, 127.0.0.2\n[tcpip::127.0.0.1]\nvxi11_port = " << port
        << "\n[tcpip::127.0.0.2]\nvxi11_port = " << port << "\n";
    const std::filesystem::path none = dir_.Path() / "none";
    std::vector<std::string> candidates = FindSearchList(none, none).asked;
    EXPECT_EQ(candidates,
              (std::vector<std::string>{"TCPIP0::127.0.0.1::INSTR", "TCPIP0::127.0.0.2::INSTR"}));
    std::unique_ptr<IOFactory> factory = CreateIOFactory();
    ProbeResult found = ProbeInstrument(*factory, candidates[0], 2000, nullptr);
    EXPECT_EQ(found.identification, "Velmora,KR470A,SN470001,1.04-2.10-0.9") << found.error;
    EXPECT_EQ(found.model, "KR470A");
    simulator->Stop();
    EXPECT_EQ(TranscriptLines(), std::vector<std::string>{"*IDN?"});
}

}  // namespace
}  // namespace kestrel
