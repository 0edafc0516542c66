// The update procedure through the I/O layer against the simulator program,
// over a TCP socket and over a pseudo-terminal.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Fakes.h"
#include "Process.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"
#include "modGlobals.h"

namespace kestrel {
namespace {

using osprey::testing::Simulator;
using testing::FakeProgress;
using testing::FakeWindow;

class UpdateFirmwareEndToEndTest : public ::testing::Test {
  protected:
    UpdateFirmwareEndToEndTest() {
        input_.records = kr470::GenerateImage(120 * 32, 11, "KR470A 1.05");
        input_.name = "KR470A Firmware 1.05";
        input_.revision = "1.05";
        path_ = dir_.Write("KR470A_105.INI", kr470::BuildUpdateFile(input_));
        setenv("KIO_CONFIG", (dir_.Path() / "kio.ini").c_str(), 1);
        setenv("KESTREL_WAIT_LIMIT_MS", "0", 1);  // the simulator resets at once
        SetWindowServices(&window_);
        window_.answers = {Answer::kYes};
    }
    ~UpdateFirmwareEndToEndTest() override {
        SetWindowServices(nullptr);
        unsetenv("KIO_CONFIG");
        unsetenv("KESTREL_WAIT_LIMIT_MS");
        StrictChecking = 1;
    }

    std::vector<std::string> SimulatorArguments(std::vector<std::string> link) const {
        link.insert(link.begin(), SIMULATOR_PATH);
        link.insert(link.end(), {"--transcript", Transcript()});
        return link;
    }
    std::string Transcript() const { return (dir_.Path() / "transcript.txt").string(); }
    std::vector<std::string> TranscriptLines() const {
        std::ifstream in(Transcript());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    int32_t Update(const std::string& address) {
        std::unique_ptr<InstrumentIO> io = CreateIOFactory()->OpenInstrument(address);
        return UpdateFirmware(path_, *io, progress_, window_);
    }
    // The dialogue of one clean normal update, records sent with `word`.
    std::vector<std::string> ExpectedDialogue(const std::string& word,
                                              const std::string& sum) const {
        std::vector<std::string> lines = {"*IDN?", "*OPC?",     "SYSTem:ERRor?",
                                          "*CLS",  "dlo:csum?", "dlo:start 0012345",
                                          "*OPC?", "dlo:stat?"};
        for (const std::string& record : input_.records)
            lines.push_back(word + " \"" + record + "\" ");
        lines.insert(lines.end(), {"*OPC?", "SYST:ERR?", "dlo:csum?", "dlo:stat?",
                                   "dlo:comp " + sum, "*OPC?", "*IDN?"});
        return lines;
    }
    std::string PassChecksum() const {
        std::string text = kr470::BuildUpdateFile(input_);
        size_t at = text.find("[Code Info]\r\nChecksum=") + 22;
        return text.substr(at, text.find('\r', at) - at);
    }

    osprey::testing::TempDir dir_;
    kr470::UpdateFileInput input_;
    std::string path_;
    FakeWindow window_;
    FakeProgress progress_;
};

TEST_F(UpdateFirmwareEndToEndTest, NormalUpdateOverTcpSendsExactlyTheDialogue) {
    Simulator simulator(SimulatorArguments({"--tcp", "0"}));
    std::string address = "TCPIP0::127.0.0.1::" + simulator.FirstLine().substr(4) + "::SOCKET";
    StrictChecking = 0;
    ASSERT_EQ(Update(address), kUpdateCommitted);
    simulator.Stop();

    EXPECT_EQ(TranscriptLines(), ExpectedDialogue("dlo", PassChecksum()));
    EXPECT_EQ(window_.lines, testing::CleanUpdateLines("KR470A Firmware 1.05"));
    EXPECT_EQ(window_.boxes.back().text,
              "Firmware update completed successfully\r\nVelmora,KR470A,SN470001,1.05-2.10-0.9");
    EXPECT_EQ(progress_.positions, (std::vector<int>{0, 100, 123}));  // ends at the line count
}

TEST_F(UpdateFirmwareEndToEndTest, StrictCheckingOverTcpQueriesEveryRecord) {
    Simulator simulator(SimulatorArguments({"--tcp", "0", "--refuse", "4"}));
    // The GPIB address of the window reaches the simulator through an alias.
    std::ofstream(dir_.Path() / "kio.ini")
        << "[aliases]\nGPIB0::10 = TCPIP0::127.0.0.1::" << simulator.FirstLine().substr(4)
        << "::SOCKET\n";
    StrictChecking = 1;
    ASSERT_EQ(Update("GPIB0::10"), kUpdateCommitted);
    simulator.Stop();
    std::vector<std::string> expected = ExpectedDialogue("dlo?", PassChecksum());
    expected.insert(expected.begin() + 8 + 4, expected[8 + 3]);  // line 4 sent again
    EXPECT_EQ(TranscriptLines(), expected);
}

TEST_F(UpdateFirmwareEndToEndTest, SerialUpdateStartsRemoteAndSendsPlainRecords) {
    std::string link = (dir_.Path() / "tty").string();
    Simulator simulator(SimulatorArguments({"--link", link}));
    // The simulator reads unpaced; at the default 9600 the records alone take 10 s.
    std::ofstream(dir_.Path() / "kio.ini") << "[" << link << "]\nsettings = 2000000,N,8,1\n";
    StrictChecking = 1;  // ticked, but a serial line never checks strictly
    ASSERT_EQ(Update("ASRL" + link + "::INSTR"), kUpdateCommitted);
    simulator.Stop();
    std::vector<std::string> expected = ExpectedDialogue("dlo", PassChecksum());
    expected.insert(expected.begin(), "SYST:REM");
    EXPECT_EQ(TranscriptLines(), expected);
    EXPECT_EQ(StrictChecking, 0);
}

}  // namespace
}  // namespace kestrel
