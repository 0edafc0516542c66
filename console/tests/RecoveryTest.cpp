// Updates cut off at random points of the download, each followed by the same
// update run again on a new session: the instrument comes back as a loader,
// and the rerun takes the loader's way (no question, the loader's start
// token) and commits.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>

#include "ConsoleCapture.h"
#include "FakePort.h"
#include "Instrument.h"
#include "RandomCuts.h"
#include "SerialLink.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"
#include "UpdateProcedure.h"

namespace osprey {
namespace {

using testing::ConsoleCapture;
using testing::FakePort;

constexpr size_t kNoCut = std::numeric_limits<size_t>::max();

struct Session {
    int status = -1;
    bool threw = false;  // the link failed: the line was cut
    std::vector<std::string> sent;
    std::string output;
};

// The entry's opening ("SYST:REM", the error queue, "*IDN?") and RunUpdate
// over a port of its own. Lines after the first `cutAfter` never reach the
// instrument, and the next read fails.
Session RunSession(kr470::Instrument& instrument, const std::string& path,
                   const std::string& answers, bool strict, size_t cutAfter = kNoCut) {
    FakePort::State port;
    size_t delivered = 0;
    port.responder = [&](const std::string& line) -> std::optional<std::string> {
        if (delivered >= cutAfter) {
            port.readFails = true;
            return std::nullopt;
        }
        ++delivered;
        return instrument.Handle(line).reply;
    };
    SerialLink link(std::make_unique<FakePort>(port));
    link.Open("COM1");
    ConsoleCapture capture(answers);
    strictChecking = strict;
    Session session;
    try {
        size_t sent = 0;
        link.Write("SYST:REM", sent);
        CheckInstrumentErrors(link);
        std::array<char, 256> identification{};
        size_t length = 0;
        link.Query("*IDN?", identification, length);
        session.status = RunUpdate(path.c_str(), identification.data(), link);
    } catch (LinkError) {
        session.threw = true;
    }
    strictChecking = false;
    session.sent = port.lines;
    session.output = capture.Output();
    return session;
}

TEST(RecoveryTest, TwentyFiveUpdatesCutOffInTheDownloadEachCommitOnTheNextRun) {
    kr470::UpdateFileInput input;
    input.records = kr470::GenerateImage(60 * 32, 9, "KR470A 1.05");
    input.revision = "1.05";
    testsupport::TempDir dir;
    const std::string path = dir.Write("update.ini", kr470::BuildUpdateFile(input));

    // Where the download starts and is committed in a whole run.
    kr470::Instrument reference({});
    const Session whole = RunSession(reference, path, "y\n", false);
    ASSERT_EQ(whole.status, 0);
    const size_t start = testsupport::IndexOfFirst(whole.sent, "dlo:start");
    const size_t commit = testsupport::IndexOfFirst(whole.sent, "dlo:comp");
    ASSERT_LT(start, commit);

    const std::vector<size_t> cuts = testsupport::RandomCuts(25, start + 1, commit);
    for (size_t run = 0; run < cuts.size(); ++run) {
        SCOPED_TRACE("cut after line " + std::to_string(cuts[run]));
        const bool strict = run % 2 == 1;
        kr470::Instrument instrument({});
        Session cut = RunSession(instrument, path, "y\n", strict, cuts[run]);
        ASSERT_TRUE(cut.threw);
        ASSERT_FALSE(instrument.Committed());

        Session rerun = RunSession(instrument, path, "", strict);
        EXPECT_EQ(rerun.status, 0);
        EXPECT_TRUE(instrument.Committed());
        EXPECT_EQ(instrument.Identification(), "Velmora,KR470A,SN470001,1.05-2.10-0.9");
        EXPECT_NE(rerun.output.find("Loader firmware running ...\n"), std::string::npos);
        EXPECT_EQ(rerun.output.find("(Y/N)"), std::string::npos);

        // The loader's way on the wire: its own start token, then one clean pass.
        std::vector<std::string> expected = {"SYST:REM", "SYST:ERR?", "*IDN?",
                                             "*CLS",     "dlo:csum?", "dlo:start 0004701",
                                             "*STB?",    "dlo:stat?"};
        for (const std::string& record : input.records) {
            expected.push_back((strict ? "dlo? \"" : "dlo \"") + record + "\" ");
        }
        expected.insert(expected.end(), {"*OPC?", "SYST:ERR?", "dlo:csum?", "dlo:stat?",
                                         "dlo:comp " + std::to_string(instrument.PassChecksum())});
        EXPECT_EQ(rerun.sent, expected);
    }
}

// An instrument that stays in download mode refuses the rerun's start token;
// the pass's error check shows why and nothing is committed.
TEST(RecoveryTest, AnInstrumentStuckInDownloadModeRefusesTheRerunsStartToken) {
    kr470::UpdateFileInput input;
    input.records = kr470::GenerateImage(20 * 32, 9, "KR470A 1.05");
    input.revision = "1.05";
    testsupport::TempDir dir;
    const std::string path = dir.Write("update.ini", kr470::BuildUpdateFile(input));
    kr470::InstrumentOptions options;
    options.stuckInDownload = true;
    kr470::Instrument instrument(options);
    ASSERT_TRUE(RunSession(instrument, path, "y\n", false, 12).threw);

    Session rerun = RunSession(instrument, path, "n\n", false);
    EXPECT_EQ(rerun.status, 1);
    EXPECT_FALSE(instrument.Committed());
    EXPECT_NE(rerun.output.find("Illegal parameter value; wrong start token"), std::string::npos);
}

}  // namespace
}  // namespace osprey
