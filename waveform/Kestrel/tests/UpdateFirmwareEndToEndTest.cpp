// The update procedure through the I/O layer against the simulator program,
// over a TCP socket and over a pseudo-terminal.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "UpdateEndToEnd.h"

namespace kestrel {
namespace {

using testing::FakeProgress;
using testing::FakeWindow;
using testsupport::Simulator;

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
