// The plug-in's procedure cut off at random points of the download, each time
// followed by the same update over a new connection: the instrument comes
// back as a loader, and the rerun takes the loader's way and commits.
#include <gtest/gtest.h>

#include <algorithm>

#include "Fakes.h"
#include "RandomCuts.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"
#include "modGlobals.h"
#include "modTimer.h"

namespace kestrel {
namespace {

using testing::FakeProgress;
using testing::FakeWindow;

using Connection = testing::ConnectionIO;
constexpr size_t kNoCut = Connection::kNoCut;

class RecoveryTest : public ::testing::Test {
  protected:
    RecoveryTest() {
        input_.records = kr470::GenerateImage(60 * 32, 13, "KR470A 1.05");
        input_.name = "KR470A Firmware 1.05";
        input_.revision = "1.05";
        path_ = dir_.Write("update.ini", kr470::BuildUpdateFile(input_));
        SetWaitHook([](int32_t) {});
    }
    ~RecoveryTest() override {
        SetWindowServices(nullptr);
        SetWaitHook({});
        StrictChecking = 1;
    }

    // One run over a new connection; the window says Yes to every question.
    int32_t Run(Connection& connection, FakeWindow& window) {
        SetWindowServices(&window);
        window.answers = {Answer::kYes, Answer::kYes, Answer::kYes};
        std::string path = path_;
        return UpdateFirmware(path, connection, progress_, window);
    }

    kr470::UpdateFileInput input_;
    std::string path_;
    FakeProgress progress_;
    testsupport::TempDir dir_;
};

TEST_F(RecoveryTest, TwentyFiveUpdatesCutOffInTheDownloadEachCommitOnTheNextRun) {
    kr470::Instrument reference({});
    Connection whole(reference, kNoCut);
    FakeWindow referenceWindow;
    ASSERT_EQ(Run(whole, referenceWindow), kUpdateCommitted);
    const size_t start = testsupport::IndexOfFirst(whole.sent, "dlo:start");
    const size_t commit = testsupport::IndexOfFirst(whole.sent, "dlo:comp");
    ASSERT_LT(start, commit);

    const std::vector<size_t> cuts = testsupport::RandomCuts(25, start + 1, commit);
    for (size_t run = 0; run < cuts.size(); ++run) {
        SCOPED_TRACE("cut after command " + std::to_string(cuts[run]));
        StrictChecking = run % 2 == 0 ? 1 : 0;
        kr470::Instrument instrument({});
        {
            Connection cut(instrument, cuts[run]);
            FakeWindow window;
            EXPECT_EQ(Run(cut, window), kUpdateRunTimeError);
        }
        ASSERT_FALSE(instrument.Committed());

        Connection again(instrument, kNoCut);
        FakeWindow window;
        ASSERT_EQ(Run(again, window), kUpdateCommitted);
        EXPECT_EQ(instrument.Identification(), "Velmora,KR470A,SN470001,1.05-2.10-0.9");
        ASSERT_GT(window.lines.size(), 1u);
        EXPECT_EQ(window.lines[1], "Loader firmware running ...");
        ASSERT_EQ(window.boxes.size(), 1u);  // no question: the success box only
        EXPECT_EQ(window.boxes[0].text,
                  "Firmware update completed successfully\r\n" + instrument.Identification());

        const std::string word = StrictChecking == 1 ? "dlo?" : "dlo";
        const std::string sum = std::to_string(instrument.PassChecksum());
        EXPECT_EQ(again.sent, testing::LoaderDialogue("0004701", input_.records, word, sum));
    }
}

}  // namespace
}  // namespace kestrel
