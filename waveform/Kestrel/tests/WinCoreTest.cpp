// The plug-in's core on Windows, run under Wine: numbers read in the "C"
// locale, the finder's probe and a whole update through instrument-io over
// Winsock, against the native simulator (its port in KR470_SIM_PORT, its
// transcript in KR470_SIM_TRANSCRIPT; the tests that need it are skipped
// without it).
#include <stdlib.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Discovery.h"
#include "Fakes.h"
#include "RuntimeError.h"
#include "TempFile.h"
#include "UpdateDialogue.h"
#include "UpdateFileBuilder.h"
#include "modGlobals.h"

namespace kestrel {
namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

TEST(WinNumbers, ANumberReadsWithItsPointAndAnOverflowIsError6) {
    EXPECT_EQ(ToDouble(" 1.25 "), 1.25);
    EXPECT_EQ(ToLong("2.5"), 2);
    EXPECT_EQ(ToLong("-3.5"), -4);
    try {
        ToDouble("1e999");
        ADD_FAILURE() << "no overflow";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), 6);
    }
    EXPECT_THROW(ToDouble("1,5"), RuntimeError);
}

// The simulator serves every test of the program in turn (a new connection
// is a new session); its transcript grows with each.
class WinCoreWithSimulator : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = Variable("KR470_SIM_PORT");
        if (port_.empty())
            GTEST_SKIP() << "no simulator (KR470_SIM_PORT)";
        const std::string config = dir_.Write(
            "kio.ini", "[aliases]\nGPIB0::10 = TCPIP0::127.0.0.1::" + port_ + "::SOCKET\n");
        _putenv_s("KIO_CONFIG", config.c_str());
        _putenv_s("KESTREL_WAIT_LIMIT_MS", "0");  // the simulator resets at once
        SetWindowServices(&window_);
    }
    void TearDown() override {
        SetWindowServices(nullptr);
        _putenv_s("KIO_CONFIG", "");
        _putenv_s("KESTREL_WAIT_LIMIT_MS", "");
    }
    std::vector<std::string> TranscriptLines() const {
        std::ifstream in(Variable("KR470_SIM_TRANSCRIPT"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    testsupport::TempDir dir_;
    std::string port_;
    testing::FakeWindow window_;
};

TEST_F(WinCoreWithSimulator, TheFinderAsksTheAliasedGpib0Colon10AndFindsAKr470A) {
    const SearchList list = FindSearchList();
    EXPECT_EQ(list.asked, (std::vector<std::string>{"GPIB0::10"}));
    KeyedCollection models;
    models.Add("KR470A", "KR470A");
    const ProbeResult result = ProbeInstrument(*CreateIOFactory(), "GPIB0::10", 2000, &models);
    EXPECT_EQ(result.identification, "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    EXPECT_EQ(result.model, "KR470A");
    EXPECT_TRUE(result.supported);
    EXPECT_EQ(result.error, "");
}

TEST_F(WinCoreWithSimulator, ANormalUpdateOverTcpSendsTheSameDialogueAsOnLinux) {
    kr470::UpdateFileInput input;
    input.records = kr470::GenerateImage(120 * 32, 11, "KR470A 1.05");
    input.name = "KR470A Firmware 1.05";
    input.revision = "1.05";
    std::string path = dir_.Write("KR470A_105.INI", kr470::BuildUpdateFile(input));
    window_.answers = {Answer::kYes};
    testing::FakeProgress progress;
    StrictChecking = 0;
    const size_t before = TranscriptLines().size();
    {
        std::unique_ptr<InstrumentIO> io = CreateIOFactory()->OpenInstrument("GPIB0::10");
        ASSERT_EQ(UpdateFirmware(path, *io, progress, window_), kUpdateCommitted);
    }
    StrictChecking = 1;
    std::vector<std::string> lines = TranscriptLines();
    ASSERT_GE(lines.size(), before);
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(before));
    EXPECT_EQ(lines, testing::CleanUpdateDialogue(input, "dlo", testing::PassingChecksum(input)));
    EXPECT_EQ(window_.lines, testing::CleanUpdateLines("KR470A Firmware 1.05"));
    EXPECT_EQ(progress.positions, (std::vector<int>{0, 100, 123}));
}

}  // namespace
}  // namespace kestrel
