// Whole updates over GPIB through the simulator's "++" controller face, on a
// pseudo-terminal and on TCP, and the failures the plug-in must report.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>

#include "Discovery.h"
#include "RuntimeError.h"
#include "UpdateEndToEnd.h"

namespace kestrel {
namespace {

using testsupport::Simulator;

// The plug-in's own I/O object, opened on first use as the window's is, with
// every time-out held short so that failures come quickly.
class ShortTimeouts final : public InstrumentIO {
  public:
    explicit ShortTimeouts(const std::string& address)
        : io_(MakeDeferredIO(std::shared_ptr<IOFactory>(CreateIOFactory()), address)) {}
    std::string GetAddress() override { return io_->GetAddress(); }
    void ReadReply(std::string& reply, const std::string& format) override {
        io_->ReadReply(reply, format);
    }
    void ReadReply(std::vector<std::string>& fields, const std::string& format) override {
        io_->ReadReply(fields, format);
    }
    std::string GetInterfaceKind() override { return io_->GetInterfaceKind(); }
    void SendCommand(const std::string& command) override { io_->SendCommand(command); }
    std::string SendQuery(const std::string& query) override { return io_->SendQuery(query); }
    void SetTimeout(int32_t milliseconds) override {
        io_->SetTimeout(std::min(milliseconds, kLongest));
    }

  private:
    static constexpr int32_t kLongest = 300;
    std::shared_ptr<InstrumentIO> io_;
};

enum class Face { kPty, kTcp };

class GpibEndToEndTest : public UpdateFirmwareEndToEndTest {
  protected:
    // Starts the simulator as a "++" controller and names it as board 0's.
    std::unique_ptr<Simulator> StartController(Face face, std::vector<std::string> options,
                                               const std::string& scan = "") {
        std::vector<std::string> where = {"--tcp", "0"};
        std::string tty = (dir_.Path() / "tty").string();
        if (face == Face::kPty)
            where = {"--link", tty};
        options.insert(options.begin(), where.begin(), where.end());
        auto simulator = std::make_unique<Simulator>(SimulatorArguments(options));
        std::string controller = "ASRL" + tty + "::INSTR";
        if (face == Face::kTcp)
            controller = "TCPIP0::127.0.0.1::" + simulator->FirstLine().substr(4) + "::SOCKET";
        Configure(controller, scan);
        return simulator;
    }
    void Configure(const std::string& controller, const std::string& scan = "",
                   const std::string& more = "") {
        std::ofstream config(dir_.Path() / "kio.ini");
        config << "[gpib0]\ncontroller = " << controller << "\n";
        if (!scan.empty())
            config << "scan = " << scan << "\n";
        // The simulator reads unpaced: the line need not slow it.
        config << "[" << (dir_.Path() / "tty").string() << "]\nsettings = 2000000,N,8,1\n" << more;
    }
    // The update through an I/O object whose time-outs are short; returns
    // the text of the error box.
    std::string FailedUpdate(const std::string& address) {
        ShortTimeouts io(address);
        EXPECT_EQ(UpdateFirmware(path_, io, progress_, window_), kUpdateRunTimeError);
        EXPECT_FALSE(window_.boxes.empty());
        return window_.boxes.empty() ? "" : window_.boxes.back().text;
    }
    std::vector<std::string> StrictDialogueWithLineFourRefused() const {
        std::vector<std::string> expected = ExpectedDialogue("dlo?", PassChecksum());
        expected.insert(expected.begin() + 8 + 4, expected[8 + 3]);  // line 4 sent again
        return expected;
    }
};

class GpibUpdateTest : public GpibEndToEndTest, public ::testing::WithParamInterface<Face> {};

TEST_P(GpibUpdateTest, NormalUpdateSendsTheSameDialogueAsASocket) {
    std::unique_ptr<Simulator> simulator = StartController(GetParam(), {"--gpib-address", "10"});
    StrictChecking = 0;
    ASSERT_EQ(Update("GPIB0::10"), kUpdateCommitted);
    simulator->Stop();
    EXPECT_EQ(TranscriptLines(), ExpectedDialogue("dlo", PassChecksum()));
    EXPECT_EQ(window_.lines, testing::CleanUpdateLines("KR470A Firmware 1.05"));
    EXPECT_EQ(window_.boxes.back().text,
              "Firmware update completed successfully\r\nVelmora,KR470A,SN470001,1.05-2.10-0.9");
}

TEST_P(GpibUpdateTest, StrictUpdateQueriesEveryRecordAndResendsARefusedOne) {
    std::unique_ptr<Simulator> simulator =
        StartController(GetParam(), {"--gpib-address", "10", "--refuse", "4"});
    StrictChecking = 1;
    ASSERT_EQ(Update("GPIB0::10::INSTR"), kUpdateCommitted);
    simulator->Stop();
    EXPECT_EQ(TranscriptLines(), StrictDialogueWithLineFourRefused());
}

INSTANTIATE_TEST_SUITE_P(Faces, GpibUpdateTest, ::testing::Values(Face::kPty, Face::kTcp),
                         [](const auto& info) { return info.param == Face::kPty ? "Pty" : "Tcp"; });

TEST_F(GpibEndToEndTest, ASecondaryAddressReachesOnlyItsInstrument) {
    std::unique_ptr<Simulator> simulator = StartController(Face::kTcp, {"--gpib-address", "10:5"});
    ASSERT_EQ(Update("GPIB0::10::5::INSTR"), kUpdateCommitted);
    EXPECT_EQ(FailedUpdate("GPIB0::10"), "Timeout expired before operation completed (GPIB0::10)");
}

TEST_F(GpibEndToEndTest, AWrongAddressTimesOutAndTheInstrumentSeesNothing) {
    std::unique_ptr<Simulator> simulator = StartController(Face::kPty, {"--gpib-address", "11"});
    EXPECT_EQ(FailedUpdate("GPIB0::10"), "Timeout expired before operation completed (GPIB0::10)");
    simulator->Stop();
    EXPECT_TRUE(TranscriptLines().empty());
}

TEST_F(GpibEndToEndTest, AnInstrumentThatFallsSilentTimesOut) {
    std::unique_ptr<Simulator> simulator =
        StartController(Face::kTcp, {"--gpib-address", "10", "--silent", "dlo:csum?"});
    EXPECT_EQ(FailedUpdate("GPIB0::10"), "Timeout expired before operation completed (GPIB0::10)");
}

TEST_F(GpibEndToEndTest, AControllerThatStopsAnsweringIsAnIoErrorThatNamesIt) {
    for (Face face : {Face::kPty, Face::kTcp}) {
        window_.boxes.clear();
        std::unique_ptr<Simulator> simulator =
            StartController(face, {"--gpib-address", "10", "--gpib-silent-after", "2"});
        std::string controller =
            face == Face::kPty
                ? "ASRL" + (dir_.Path() / "tty").string() + "::INSTR"
                : "TCPIP0::127.0.0.1::" + simulator->FirstLine().substr(4) + "::SOCKET";
        EXPECT_EQ(FailedUpdate("GPIB0::10"),
                  "I/O error reading from GPIB0::10: the GPIB controller " + controller +
                      " does not answer");
    }
}

TEST_F(GpibEndToEndTest, ADroppedControllerConnectionIsAnIoError) {
    std::unique_ptr<Simulator> simulator =
        StartController(Face::kTcp, {"--gpib-address", "10", "--hangup-on", "dlo:csum?"});
    std::string box = FailedUpdate("GPIB0::10");
    EXPECT_EQ(box.rfind("I/O error reading from GPIB0::10: the connection to the GPIB controller "
                        "TCPIP0::127.0.0.1::",
                        0),
              0u)
        << box;
}

TEST_F(GpibEndToEndTest, ARefusedControllerConnectionSaysWhy) {
    // A port bound but not listening refuses connections.
    int held = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&address), length), 0);
    getsockname(held, reinterpret_cast<sockaddr*>(&address), &length);
    std::string controller =
        "TCPIP0::127.0.0.1::" + std::to_string(ntohs(address.sin_port)) + "::SOCKET";
    Configure(controller);
    EXPECT_EQ(FailedUpdate("GPIB0::10"),
              "Cannot open GPIB0::10: its controller " + controller + ": 127.0.0.1:" +
                  std::to_string(ntohs(address.sin_port)) + ": Connection refused");
    close(held);
}

TEST_F(GpibEndToEndTest, AddressesAreCheckedAndAnAliasStillWins) {
    Configure("TCPIP0::127.0.0.1::1::SOCKET");
    for (const char* bad : {"GPIB0::31", "GPIB0::10::31", "GPIB0::x", "GPIB0::10::5::6"}) {
        EXPECT_EQ(FailedUpdate(bad), std::string("Invalid resource address: ") + bad);
        window_.boxes.clear();
    }
    EXPECT_EQ(FailedUpdate("GPIB1::10"),
              "No route to GPIB1::10: add a line \"GPIB1::10 = TCPIP0::host::port::SOCKET\" (or an "
              "ASRL address) to the [aliases] section of " +
                  (dir_.Path() / "kio.ini").string() +
                  ", or a [GPIB1] section with \"controller = ASRL/dev/ttyUSB0::INSTR\" (or a "
                  "TCPIP0::host::port::SOCKET address) naming the board's \"++\" controller");
    window_.boxes.clear();
    Configure("GPIB0::1::INSTR");
    EXPECT_EQ(FailedUpdate("GPIB0::10"),
              "Cannot open GPIB0::10: its controller GPIB0::1::INSTR is neither a serial port "
              "(ASRL) nor a socket (TCPIP::host::port::SOCKET)");

    // The controller is never asked when an alias routes the address elsewhere.
    Simulator plain(SimulatorArguments({"--tcp", "0"}));
    Configure(
        "TCPIP0::127.0.0.1::1::SOCKET", "",
        "[aliases]\nGPIB0::10 = TCPIP0::127.0.0.1::" + plain.FirstLine().substr(4) + "::SOCKET\n");
    std::unique_ptr<InstrumentIO> io = CreateIOFactory()->OpenInstrument("GPIB0::10");
    EXPECT_EQ(io->GetInterfaceKind(), "TCPIP");
    EXPECT_EQ(io->SendQuery("*IDN?"), "Velmora,KR470A,SN470001,1.04-2.10-0.9");
}

TEST_F(GpibEndToEndTest, TheFinderAsksTheScannedAddressesOverOneSharedController) {
    std::unique_ptr<Simulator> simulator =
        StartController(Face::kPty, {"--gpib-address", "10"}, "9-11");
    std::vector<std::string> candidates = FindSearchList(dir_.Path() / "no-dev").asked;
    EXPECT_EQ(candidates, (std::vector<std::string>{"GPIB0::9::INSTR", "GPIB0::10::INSTR",
                                                    "GPIB0::11::INSTR"}));
    // Probes run at once, as the finder's do; the serial controller is opened once.
    std::shared_ptr<IOFactory> factory = CreateIOFactory();
    std::vector<std::future<ProbeResult>> probes;
    for (const std::string& address : candidates) {
        probes.push_back(std::async(std::launch::async, [&factory, address] {
            return ProbeInstrument(*factory, address, 300, nullptr);
        }));
    }
    std::vector<ProbeResult> results;
    for (auto& probe : probes)
        results.push_back(probe.get());
    EXPECT_EQ(results[0].error, "Timeout expired before operation completed (GPIB0::9::INSTR)");
    EXPECT_EQ(results[1].identification, "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    EXPECT_EQ(results[1].error, "");
    EXPECT_EQ(results[2].error, "Timeout expired before operation completed (GPIB0::11::INSTR)");
    simulator->Stop();
    EXPECT_EQ(TranscriptLines(), (std::vector<std::string>{"*IDN?"}));
}

// The finder's search as the control runs it: one job for the board, one for
// each other address, all at once.
std::vector<ProbeResult> SearchLikeTheFinder(const std::vector<std::string>& candidates) {
    std::shared_ptr<IOFactory> factory = CreateIOFactory();
    std::vector<ProbeResult> results(candidates.size());
    std::vector<std::future<void>> jobs;
    for (const std::vector<size_t>& job : ProbeJobs(candidates)) {
        jobs.push_back(std::async(std::launch::async, [&, job] {
            std::vector<std::string> addresses;
            for (size_t index : job)
                addresses.push_back(candidates[index]);
            if (job.size() == 1) {
                results[job[0]] = ProbeInstrument(*factory, addresses[0], 1500, nullptr);
                return;
            }
            ProbeInTurn(*factory, addresses, 1500, nullptr, {},
                        [&](size_t at, const ProbeResult& result) { results[job[at]] = result; });
        }));
    }
    for (auto& job : jobs)
        job.get();
    return results;
}

TEST_F(GpibEndToEndTest, AWholeBoardScanRunsBesideTheOtherBusesAndFindsEveryInstrument) {
    std::unique_ptr<Simulator> controller =
        StartController(Face::kTcp, {"--gpib-address", "10"}, "0-30");
    Simulator lan({SIMULATOR_PATH, "--vxi11", "0"});
    Simulator socket({SIMULATOR_PATH, "--tcp", "0"});
    {
        std::ofstream config(dir_.Path() / "kio.ini", std::ios::app);
        config << "[tcpip]\nvxi11_hosts = 127.0.0.1\nvxi11_port = " << lan.FirstLine().substr(6)
               << "\n[aliases]\nINSTR1 = TCPIP0::127.0.0.1::" << socket.FirstLine().substr(4)
               << "::SOCKET\n";
    }
    SearchList list = FindSearchList(dir_.Path() / "no-dev", dir_.Path() / "no-sys");
    ASSERT_EQ(list.asked.size(), 33u);
    const auto started = std::chrono::steady_clock::now();
    std::vector<ProbeResult> results = SearchLikeTheFinder(list.asked);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Measured, not asserted: the design's bound is a few seconds.
    std::printf("search of %zu addresses (31 behind one controller): %.2f s\n", list.asked.size(),
                seconds);
    std::vector<std::string> found;
    for (size_t i = 0; i < results.size(); ++i) {
        if (!results[i].identification.empty())
            found.push_back(list.asked[i]);
        else
            EXPECT_EQ(results[i].error.rfind("Timeout expired", 0), 0u) << results[i].error;
    }
    EXPECT_EQ(found,
              (std::vector<std::string>{"INSTR1", "GPIB0::10::INSTR", "TCPIP0::127.0.0.1::INSTR"}));
    controller->Stop();
    EXPECT_EQ(TranscriptLines(), (std::vector<std::string>{"*IDN?"}));
}

TEST_F(GpibEndToEndTest, AScanGivesUpOnAControllerThatDoesNotAnswerAtItsFirstAddress) {
    // A controller that takes the connection and never says anything.
    int held = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(held, 4), 0);
    ASSERT_EQ(getsockname(held, reinterpret_cast<sockaddr*>(&address), &length), 0);
    Configure("TCPIP0::127.0.0.1::" + std::to_string(ntohs(address.sin_port)) + "::SOCKET", "1-30");
    std::vector<std::string> candidates = FindSearchList(dir_.Path() / "no-dev").asked;
    ASSERT_EQ(candidates.size(), 30u);
    std::vector<ProbeResult> results = SearchLikeTheFinder(candidates);
    EXPECT_NE(results[0].error.find("does not answer"), std::string::npos) << results[0].error;
    for (size_t i = 1; i < results.size(); ++i)
        EXPECT_EQ(results[i].error, "not asked: GPIB0::1::INSTR failed") << i;
    close(held);
}

TEST_F(GpibEndToEndTest, OnlyTheScanListsOfBoardsWithAControllerAreAsked) {
    Configure("TCPIP0::127.0.0.1::1::SOCKET", "3, 1",
              "[gpib1]\ncontroller = ASRL1::INSTR\nscan = 40\n"  // not an address
              "[gpib2]\nscan = 5\n"                              // no controller
              "[gpib3]\ncontroller = ASRL2::INSTR\n");           // no scan list
    const std::string path = (dir_.Path() / "kio.ini").string();
    ::testing::internal::CaptureStderr();
    std::vector<std::string> candidates = FindSearchList(dir_.Path() / "no-dev").asked;
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(candidates, (std::vector<std::string>{"GPIB0::3::INSTR", "GPIB0::1::INSTR"}));
    EXPECT_EQ(said, path +
                        ": [GPIB1] scan: \"40\" is neither an address nor a range of addresses "
                        "from 0 to 30; nothing scanned\n");
}

}  // namespace
}  // namespace kestrel
