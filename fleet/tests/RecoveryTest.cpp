// A fleet job stopped at random points of the download (as Ctrl-C stops it),
// each time followed by the same job again: the report of the stopped one
// says what the technician will see, and the rerun finds a loader instrument,
// takes the loader's way and reports it updated.
#include <gtest/gtest.h>

#include <algorithm>

#include "Fakes.h"
#include "RandomCuts.h"
#include "Report.h"
#include "ScopedEnv.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"
#include "UpdateJob.h"

namespace fleet {
namespace {

using kestrel::testing::ConnectionIO;

// Opens connections to one instrument that outlives them; the first opened
// asks for a stop once `stopAfter` commands were sent.
class OneLastingInstrument : public kestrel::IOFactory {
  public:
    explicit OneLastingInstrument(kr470::Instrument& instrument) : instrument_(instrument) {}
    StopSignal* stop = nullptr;
    size_t stopAfter = ConnectionIO::kNoCut;
    std::vector<std::string> sent;  // by the last connection, which the job releases

    std::unique_ptr<kestrel::InstrumentIO> OpenInstrument(const std::string&) override {
        auto io = std::make_unique<Recording>(instrument_, sent);
        sent.clear();
        io->onCommand = [this](size_t count) {
            if (count == stopAfter && stop != nullptr)
                stop->Request();
        };
        return io;
    }

  private:
    // Keeps what was sent where the test can read it after the job.
    class Recording : public ConnectionIO {
      public:
        Recording(kr470::Instrument& instrument, std::vector<std::string>& sent)
            : ConnectionIO(instrument), out_(sent) {}
        ~Recording() override { out_ = sent; }

      private:
        std::vector<std::string>& out_;
    };
    kr470::Instrument& instrument_;
};

class FleetRecoveryTest : public ::testing::Test {
  protected:
    FleetRecoveryTest() {
        input_.records = kr470::GenerateImage(60 * 32, 17, "KR470A 1.05");
        input_.name = "KR470A Firmware 1.05";
        input_.revision = "1.05";
        file_ = dir_.Write("update.ini", kr470::BuildUpdateFile(input_));
        policy_.logFolder = dir_.Path().string();
    }

    JobReport Run(OneLastingInstrument& factory, size_t stopAfter) {
        StopSignal stop;
        factory.stop = &stop;
        factory.stopAfter = stopAfter;
        ProgressBoard board(progress_, ProgressBoard::Mode::kJsonLines, {kAddress});
        return RunJob({kAddress, file_, "", "plan:1"}, 0, {policy_, factory, stop, board});
    }

    static constexpr const char* kAddress = "TCPIP0::127.0.0.1::5025::SOCKET";
    testsupport::TempDir dir_;
    testsupport::ScopedEnv waitLimit_{"KESTREL_WAIT_LIMIT_MS", "0"};
    kr470::UpdateFileInput input_;
    std::string file_;
    Policy policy_;
    std::ostringstream progress_;
};

TEST_F(FleetRecoveryTest, TwentyFiveJobsStoppedInTheDownloadEachCommitOnTheNextRun) {
    kr470::Instrument reference({});
    OneLastingInstrument whole(reference);
    ASSERT_EQ(Run(whole, ConnectionIO::kNoCut).outcome, Outcome::kUpdated);
    const size_t start = testsupport::IndexOfFirst(whole.sent, "dlo:start");
    const size_t commit = testsupport::IndexOfFirst(whole.sent, "dlo:comp");
    ASSERT_LT(start, commit);

    // A stop after command n is honoured before command n + 1: from the start
    // (counted from 1) up to the last command before the commit.
    const std::vector<size_t> cuts = testsupport::RandomCuts(25, start + 1, commit);
    for (size_t cut : cuts) {
        SCOPED_TRACE("stopped after command " + std::to_string(cut));
        kr470::Instrument instrument({});
        OneLastingInstrument factory(instrument);
        JobReport stopped = Run(factory, cut);
        EXPECT_EQ(stopped.outcome, Outcome::kStopped);
        EXPECT_TRUE(stopped.mayBeInDownloadMode);
        ASSERT_FALSE(instrument.Committed());
        EXPECT_NE(SummaryTable({stopped}).find(
                      "may now identify as a loader; run the same update again to recover it"),
                  std::string::npos);

        JobReport rerun = Run(factory, ConnectionIO::kNoCut);
        EXPECT_EQ(rerun.outcome, Outcome::kUpdated) << rerun.message;
        EXPECT_EQ(rerun.identificationBefore, "Velmora,loader KR470A,SN470001,0.00-2.10-0.9");
        EXPECT_EQ(rerun.identificationAfter, "Velmora,KR470A,SN470001,1.05-2.10-0.9");
        EXPECT_FALSE(rerun.mayBeInDownloadMode);
        const std::string sum = std::to_string(instrument.PassChecksum());
        EXPECT_EQ(factory.sent,
                  kestrel::testing::LoaderDialogue("0004701", input_.records, "dlo?", sum));
    }
}

}  // namespace
}  // namespace fleet
