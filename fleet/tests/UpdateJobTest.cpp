// One instrument's job through the plug-in's procedure against the simulated
// instrument in-process: the answers the policy gives, what the guard lets
// through, and the result each ending is reported as.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CommaLocale.h"
#include "Fakes.h"
#include "GuardedIO.h"
#include "Report.h"
#include "ScopedEnv.h"
#include "SharedFolder.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"
#include "UpdateJob.h"

namespace fleet {
namespace {

using kestrel::testing::SimulatedIO;

// The simulated instrument; asks for a stop when the given record is sent.
class StoppingIO : public SimulatedIO {
  public:
    StoppingIO(kr470::InstrumentOptions options, std::string kind, StopSignal& stop, int stopAt,
               std::vector<std::string>& sent)
        : SimulatedIO(std::move(options), std::move(kind)),
          stop_(stop),
          stopAt_(stopAt),
          sent_(sent) {}
    void SendCommand(const std::string& command) override {
        SimulatedIO::SendCommand(command);
        sent_.push_back(command);
        if (command.rfind("dlo", 0) == 0 && command.find('"') != std::string::npos &&
            ++records_ == stopAt_) {
            stop_.Request();
        }
    }

  private:
    StopSignal& stop_;
    int stopAt_;
    std::vector<std::string>& sent_;  // outlives the I/O object, which the job releases
    int records_ = 0;
};

// Hands out one simulated instrument and keeps sight of it.
class OneInstrument : public kestrel::IOFactory {
  public:
    kr470::InstrumentOptions options;
    std::string kind = "TCPIP";
    std::map<std::string, std::deque<std::string>> replies;  // scripted replies
    int stopAtRecord = 0;                                    // 0: never
    StopSignal* stop = nullptr;
    std::vector<std::string> sent;  // by the last instrument opened
    int opened = 0;

    std::unique_ptr<kestrel::InstrumentIO> OpenInstrument(const std::string&) override {
        ++opened;
        sent.clear();
        auto io = std::make_unique<StoppingIO>(options, kind, *stop, stopAtRecord, sent);
        io->replies = replies;
        return io;
    }
};

bool IsRecord(const std::string& line) {
    return line.find('"') != std::string::npos;
}

class UpdateJobTest : public ::testing::Test {
  protected:
    UpdateJobTest() {
        input_.records = kr470::GenerateImage(150 * 32, 3, "KR470A 1.05");
        input_.name = "KR470A Firmware 1.05";
        input_.revision = "1.05";
        policy_.logFolder = dir_.Path().string();
        factory_.stop = &stop_;
    }

    JobReport Run(const std::string& expectedSerial = "") {
        return RunWith(dir_.Write("update.ini", kr470::BuildUpdateFile(input_)), expectedSerial);
    }
    JobReport RunWith(const std::string& file, const std::string& expectedSerial = "") {
        ProgressBoard board(progress_, ProgressBoard::Mode::kJsonLines,
                            {"TCPIP0::lab::5025::SOCKET"});
        PlanRow row{"TCPIP0::lab::5025::SOCKET", file, expectedSerial, "plan:1"};
        return RunJob(row, 0, {policy_, factory_, stop_, board});
    }
    const std::vector<std::string>& Sent() const { return factory_.sent; }
    long RecordsSent() const { return std::count_if(Sent().begin(), Sent().end(), IsRecord); }
    bool Committed() const {
        return std::any_of(Sent().begin(), Sent().end(),
                           [](const std::string& line) { return line.rfind("dlo:comp", 0) == 0; });
    }
    std::string Log(const JobReport& report) const {
        std::ifstream in(report.logFile);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    testsupport::TempDir dir_;
    testsupport::ScopedEnv waitLimit_{"KESTREL_WAIT_LIMIT_MS", "0"};
    kr470::UpdateFileInput input_;
    Policy policy_;
    StopSignal stop_;
    OneInstrument factory_;
    std::ostringstream progress_;
};

TEST_F(UpdateJobTest, UpdateFileThatCannotBeReadIsRefusedBeforeTheInstrumentIsOpened) {
    const std::string missing = (dir_.Path() / "missing.ini").string();
    const std::string folder = dir_.Path().string();
    for (const std::string& file : {missing, folder}) {
        JobReport report = RunWith(file);
        EXPECT_EQ(report.outcome, Outcome::kRefused) << file;
        EXPECT_NE(report.message.find(file), std::string::npos) << report.message;
        EXPECT_EQ(factory_.opened, 0) << file;
        EXPECT_FALSE(report.identificationBefore) << file;
        EXPECT_NE(Log(report).find("Result: refused"), std::string::npos) << file;
    }
    EXPECT_EQ(RunWith(dir_.Write("update.ini", kr470::BuildUpdateFile(input_))).outcome,
              Outcome::kUpdated);
    EXPECT_EQ(factory_.opened, 1);
}

TEST_F(UpdateJobTest, CleanUpdateIsReportedWithBothIdentificationsAndLogged) {
    JobReport report = Run("SN470001");
    EXPECT_EQ(report.outcome, Outcome::kUpdated);
    EXPECT_EQ(report.identificationBefore, "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    EXPECT_EQ(report.identificationAfter, "Velmora,KR470A,SN470001,1.05-2.10-0.9");
    EXPECT_EQ(report.passes, 1);
    EXPECT_FALSE(report.mayBeInDownloadMode);
    EXPECT_EQ(report.message, "");
    // Strict checking by default on a socket: every record is a query.
    EXPECT_TRUE(std::all_of(Sent().begin(), Sent().end(), [](const std::string& line) {
        return !IsRecord(line) || line.rfind("dlo? ", 0) == 0;
    }));
    std::string log = Log(report);
    EXPECT_NE(log.find("Do you want to continue with update? (Y/N) -> Yes"), std::string::npos);
    EXPECT_NE(log.find("Firmware update completed successfully"), std::string::npos);
    EXPECT_NE(log.find("Result: updated"), std::string::npos);
    EXPECT_NE(progress_.str().find("\"state\":\"updated\""), std::string::npos);
}

TEST_F(UpdateJobTest, AnInstrumentBackAtTheOldRevisionIsUnconfirmedAndFailsTheRun) {
    factory_.options.newRevision = "1.04";
    JobReport report = Run();
    EXPECT_TRUE(Committed());
    EXPECT_EQ(report.outcome, Outcome::kUnconfirmed);
    EXPECT_EQ(report.message,
              "after the commit the instrument reports revision 1.04, not the update's 1.05");
    EXPECT_EQ(report.identificationAfter, "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    EXPECT_FALSE(report.mayBeInDownloadMode);
    EXPECT_EQ(ExitStatus({report}, false, false), kSomeNotDone);
    EXPECT_NE(JsonObject(report).find("\"result\":\"unconfirmed\",\"message\":\"after the "
                                      "commit the instrument reports revision 1.04"),
              std::string::npos);
    EXPECT_NE(Log(report).find("Result: unconfirmed (after the commit"), std::string::npos);
}

TEST_F(UpdateJobTest, ALoaderAnsweringAfterTheCommitMayStillBeInDownloadMode) {
    factory_.replies["*IDN?"] = {"Velmora,KR470A,SN470001,1.04-2.10-0.9",
                                 "Velmora,loader KR470A,SN470001,0.00-2.10-0.9"};
    JobReport report = Run();
    EXPECT_EQ(report.outcome, Outcome::kUnconfirmed);
    EXPECT_EQ(report.message,
              "after the commit the instrument identifies as model \"loader KR470A\", not the "
              "update's \"KR470A\"");
    EXPECT_TRUE(report.mayBeInDownloadMode);
}

// The procedure takes "LOADER" for its loader as well, so the advice must too.
TEST_F(UpdateJobTest, ALoaderInCapitalsAfterTheCommitMayStillBeInDownloadMode) {
    factory_.replies["*IDN?"] = {"Velmora,KR470A,SN470001,1.04-2.10-0.9",
                                 "Velmora,LOADER KR470A,SN470001,0.00-2.10-0.9"};
    JobReport report = Run();
    EXPECT_EQ(report.outcome, Outcome::kUnconfirmed);
    EXPECT_TRUE(report.mayBeInDownloadMode);
}

TEST_F(UpdateJobTest, NoIdentificationAfterTheCommitIsUnconfirmedNotFailed) {
    factory_.options.silentOn = {{"*IDN?", 2}};
    JobReport report = Run();
    EXPECT_TRUE(Committed());
    EXPECT_EQ(report.outcome, Outcome::kUnconfirmed);
    EXPECT_EQ(report.message.rfind("committed, but no identification after the commit: ", 0), 0u)
        << report.message;
    EXPECT_FALSE(report.mayBeInDownloadMode);
}

TEST_F(UpdateJobTest, RevisionQuestionsFollowThePolicy) {
    factory_.options.identification = "Velmora,KR470A,SN470001,1.05-2.10-0.9";
    JobReport same = Run();
    EXPECT_EQ(same.outcome, Outcome::kCurrent);  // nothing to do is success
    EXPECT_EQ(Sent(), (std::vector<std::string>{"*IDN?"}));

    policy_.yesSameRevision = true;
    EXPECT_EQ(Run().outcome, Outcome::kUpdated);

    factory_.options.identification = "Velmora,KR470A,SN470001,1.06-2.10-0.9";
    JobReport newer = Run();  // the same-revision answer does not cover a downgrade
    EXPECT_EQ(newer.outcome, Outcome::kRefused);
    EXPECT_EQ(newer.message, "the instrument's revision is newer than the update's");
    policy_.yesOlderUpdate = true;
    EXPECT_EQ(Run().outcome, Outcome::kUpdated);
}

TEST_F(UpdateJobTest, ACommaDecimalLocaleStillTellsANewerInstrumentFromTheSameRevision) {
    factory_.options.identification = "Velmora,KR470A,SN470001,1.06-2.10-0.9";
    policy_.yesSameRevision = true;  // but not a downgrade
    for (const std::string& name : testsupport::kCommaLocales) {
        testsupport::CommaLocale locale(name);
        ASSERT_TRUE(locale.Active()) << name << " is missing: run scripts/setup.sh";
        JobReport newer = Run();
        EXPECT_EQ(newer.outcome, Outcome::kRefused) << name;
        EXPECT_EQ(newer.message, "the instrument's revision is newer than the update's") << name;
    }
}

TEST_F(UpdateJobTest, FailedPassIsRepeatedOnlyAsOftenAsAllowed) {
    factory_.options.errorsAfterPass.emplace(1, "-350,\"Queue overflow\"");
    JobReport given = Run();
    EXPECT_EQ(given.outcome, Outcome::kFailed);
    EXPECT_EQ(given.passes, 1);
    EXPECT_TRUE(given.mayBeInDownloadMode);
    EXPECT_FALSE(Committed());

    policy_.retryPasses = 1;
    JobReport repeated = Run();
    EXPECT_EQ(repeated.outcome, Outcome::kUpdated);
    EXPECT_EQ(repeated.passes, 2);
    EXPECT_FALSE(repeated.mayBeInDownloadMode);
}

TEST_F(UpdateJobTest, ErrorQueueFailureGivesItsReasonInTheReport) {
    factory_.options.errorsAfterPass.emplace(1, "-350,\"Queue overflow\"");
    JobReport report = Run();
    EXPECT_EQ(report.outcome, Outcome::kFailed);
    EXPECT_EQ(
        report.message,
        "Error occurred during upload. The instrument's error queue: -350,\"Queue overflow\"");
}

TEST_F(UpdateJobTest, EachRunsLogIsKeptBehindARunHeader) {
    JobReport first = Run();
    factory_.options.errorsAfterPass.emplace(1, "-350,\"Queue overflow\"");
    JobReport second = Run();
    ASSERT_EQ(first.logFile, second.logFile);
    std::string log = Log(second);
    const size_t firstRun = log.find("==== kr470-fleet run ====");
    const size_t updated = log.find("Result: updated");
    const size_t secondRun = log.find("==== kr470-fleet run ====", firstRun + 1);
    ASSERT_NE(secondRun, std::string::npos) << log;
    EXPECT_LT(firstRun, updated);
    EXPECT_LT(updated, secondRun);
    EXPECT_NE(log.find("Result: failed", secondRun), std::string::npos);
}

TEST_F(UpdateJobTest, LogThatIsAFifoOrAnotherUsersLinkIsNotWritten) {
    const std::string name = LogFileName(0, "TCPIP0::lab::5025::SOCKET");
    ASSERT_EQ(mkfifo((dir_.Path() / name).c_str(), 0600), 0);
    JobReport fifo = Run();  // without a reader: opening it must not block
    EXPECT_EQ(fifo.outcome, Outcome::kUpdated);
    EXPECT_EQ(fifo.logFile, "");

    if (!testsupport::SharedFolder::CanActAsAnotherUser()) {
        GTEST_SKIP() << "needs root to make another user's link";
    }
    testsupport::SharedFolder shared;
    const std::filesystem::path victim = shared.Top() / "victim";
    std::ofstream(victim) << "victim's";
    shared.Link(name, victim);
    policy_.logFolder = shared.Path().string();
    JobReport linked = Run();
    EXPECT_EQ(linked.outcome, Outcome::kUpdated);
    EXPECT_EQ(linked.logFile, "");
    std::ifstream in(victim);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "victim's");
}

TEST_F(UpdateJobTest, StopEndsThePassBetweenRecordsWithoutCommitting) {
    factory_.stopAtRecord = 40;
    JobReport report = Run();
    EXPECT_EQ(report.outcome, Outcome::kStopped);
    EXPECT_TRUE(report.mayBeInDownloadMode);
    EXPECT_EQ(RecordsSent(), 40);
    EXPECT_FALSE(Committed());
    EXPECT_EQ(Sent().back().rfind("dlo? ", 0), 0u);  // nothing after the record in flight
    EXPECT_NE(report.message.find("Stopped on request"), std::string::npos);
}

TEST_F(UpdateJobTest, StopBeforeTheDownloadLeavesTheInstrumentAsItWas) {
    stop_.Request();
    JobReport report = Run();
    EXPECT_EQ(report.outcome, Outcome::kStopped);
    EXPECT_FALSE(report.mayBeInDownloadMode);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(UpdateJobTest, DryRunOnASerialLineSendsOnlyTheIdentification) {
    policy_.dryRun = true;
    factory_.kind = "ASRL";
    JobReport ready = Run();
    EXPECT_EQ(ready.outcome, Outcome::kReady);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"*IDN?"}));
    EXPECT_FALSE(ready.mayBeInDownloadMode);

    // The code section is still checked when the revision is already there.
    factory_.options.identification = "Velmora,KR470A,SN470001,1.05-2.10-0.9";
    input_.records.insert(input_.records.begin() + 3, "S1-not-a-record");
    JobReport broken = Run();
    EXPECT_EQ(broken.outcome, Outcome::kRefused);
    EXPECT_EQ(broken.message, "Non-SRecord in code section!");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"*IDN?"}));
}

TEST_F(UpdateJobTest, WrongSerialNumberIsRefusedAfterTheIdentification) {
    JobReport report = Run("SN999999");
    EXPECT_EQ(report.outcome, Outcome::kRefused);
    EXPECT_EQ(report.message, "Serial number SN470001 is not the SN999999 the plan names.");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"*IDN?"}));
}

TEST_F(UpdateJobTest, WrongModelIsRefusedNotFailed) {
    input_.model = "KR900B";
    JobReport report = Run();
    EXPECT_EQ(report.outcome, Outcome::kRefused);
    EXPECT_NE(report.message.find("not intended for this instrument"), std::string::npos);
}

TEST_F(UpdateJobTest, ControlBytesFromThePlanAndTheInstrumentNeverReachTheLog) {
    factory_.options.identification = "Velmora,KR470A,SN470001,\x1b[2J1.05-2.10-0.9";
    std::string file = dir_.Write("update.ini", kr470::BuildUpdateFile(input_));
    const std::string address = "TCPIP0::\x1b]0;owned\x07lab::5025::SOCKET";
    ProgressBoard board(progress_, ProgressBoard::Mode::kJsonLines, {address});
    JobReport report = RunJob({address, file, "", "plan:1"}, 0, {policy_, factory_, stop_, board});
    std::string log = Log(report);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
    EXPECT_EQ(log.find('\x07'), std::string::npos);
    EXPECT_NE(log.find("Update of TCPIP0::?]0;owned?lab::5025::SOCKET with "), std::string::npos)
        << log;
}

TEST(SerialOfTest, TakesTheThirdFieldTrimmed) {
    EXPECT_EQ(SerialOf("Velmora,KR470A, SN1 ,1.04"), "SN1");
    EXPECT_EQ(SerialOf("Velmora,KR470A,SN1"), "SN1");
    EXPECT_EQ(SerialOf("Velmora,KR470A"), "");
}

TEST(LogFileNameTest, KeepsOnlySafeCharacters) {
    EXPECT_EQ(LogFileName(0, "ASRL/dev/pts/3::INSTR"), "01-ASRL_dev_pts_3__INSTR.log");
    EXPECT_EQ(LogFileName(11, "../x y"), "12-.._x_y.log");
}

}  // namespace
}  // namespace fleet
