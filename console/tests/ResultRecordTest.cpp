// OSPREY_RESULT: one JSON line per run, read back with a JSON parser, for
// every way a run can end; and the screen is the same with it as without.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Process.h"
#include "SharedFolder.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"

namespace osprey {
namespace {

using nlohmann::json;
using testsupport::ProcessResult;
using testsupport::RunProcess;
using testsupport::Simulator;
using testsupport::TempDir;

struct Case {
    const char* name;
    std::vector<std::string> simulator;  // extra simulator options
    std::vector<std::string> words;      // Osprey's command line
    std::string answers;
    const char* result;
    int passes;
    json message;  // null, or the text the record must hold
};

class ResultRecordTest : public ::testing::Test {
  protected:
    ResultRecordTest() {
        device_ = (dir_.Path() / "kr470").string();
        absent_ = (dir_.Path() / "absent").string();
        // COM7 at a high rate: the simulator reads unpaced, and the records' time
        // on a slow line would only make the runs long.
        dir_.Write("ports.ini", "[COM7]\ndevice = " + device_ +
                                    "\nsettings = 2000000,N,8,1\n[COM9]\ndevice = " + absent_ +
                                    "\n");
        kr470::UpdateFileInput input;
        input.records = kr470::GenerateImage(40 * 32, 3, "KR470A 1.05");
        input.revision = "1.05";
        dir_.Write("UPDATE.INI", kr470::BuildUpdateFile(input));
        resultPath_ = (dir_.Path() / "result.jsonl").string();
    }

    // One run against a fresh simulator; the result file named or not.
    ProcessResult Run(const Case& c, bool record = true,
                      const std::vector<std::string>& moreEnvironment = {}) {
        std::vector<std::string> sim = {SIMULATOR_PATH, "--link", device_, "--transcript",
                                        Transcript()};
        sim.insert(sim.end(), c.simulator.begin(), c.simulator.end());
        Simulator simulator(sim);
        std::vector<std::string> words = c.words;
        words.insert(words.begin(), OSPREY_PATH);
        std::vector<std::string> environment = {
            "OSPREY_PORTS=" + (dir_.Path() / "ports.ini").string(), "OSPREY_RESET_STEP_MS=1"};
        if (record)
            environment.push_back("OSPREY_RESULT=" + resultPath_);
        environment.insert(environment.end(), moreEnvironment.begin(), moreEnvironment.end());
        return RunProcess(words, c.answers, environment, dir_.Path().string());
    }

    std::string Transcript() const { return (dir_.Path() / "transcript.txt").string(); }
    std::string ErrorsPath() const { return (dir_.Path() / "errors.txt").string(); }
    std::vector<std::string> Environment() const {
        return {"OSPREY_PORTS=" + (dir_.Path() / "ports.ini").string(), "OSPREY_RESET_STEP_MS=1",
                "OSPREY_RESULT=" + resultPath_};
    }
    std::vector<std::string> TranscriptLines() const {
        std::ifstream in(Transcript());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // Every line of the result file, each parsed (a parse failure fails the test).
    std::vector<json> Records() {
        std::ifstream in(resultPath_);
        std::vector<json> records;
        for (std::string line; std::getline(in, line);) {
            EXPECT_NO_THROW(records.push_back(json::parse(line))) << line;
        }
        return records;
    }

    TempDir dir_;
    std::string device_;
    std::string absent_;  // COM9: a device node that is not there
    std::string resultPath_;
};

const std::string kIdn = "Velmora,KR470A,SN470001,1.04-2.10-0.9";

TEST_F(ResultRecordTest, EachOutcomeIsOneValidLineWithItsResultAndMessage) {
    const std::vector<Case> cases = {
        {"committed", {}, {"/FUPDATE.INI", "/ACOM7"}, "y\n\n", "committed", 1, nullptr},
        {"declined", {}, {"/FUPDATE.INI", "/ACOM7"}, "n\n\n", "declined", 0, nullptr},
        {"declined at the revision question",
         {"--idn", "Velmora,KR470A,SN1,1.05-0"},
         {"/FUPDATE.INI", "/ACOM7"},
         "n\n\n",
         "declined",
         0,
         nullptr},
        {"refused, another model",
         {"--idn", "Velmora,KR999,SN1,1.00-0"},
         {"/FUPDATE.INI", "/ACOM7"},
         "\n",
         "refused",
         0,
         "This firmware update is not intended for this instrument. - Update for KR470A - "
         "Current instrument is KR999"},
        {"refused, no update file",
         {},
         {"/Fmissing.ini", "/ACOM7"},
         "\n",
         "refused",
         0,
         "Could not open the Update INI file missing.ini."},
        {"failed, checksum answered N",
         {"--bad-checksum-pass", "1"},
         {"/FUPDATE.INI", "/ACOM7"},
         "y\nn\n\n",
         "failed",
         1,
         "The INI file may be corrupt, may need to get another version."},
        {"failed, the line dropped",
         {"--hangup-on", "*OPC?"},
         {"/FUPDATE.INI", "/ACOM7"},
         "y\n\n",
         "failed",
         1,
         "An unknown error occurred!"},
        {"failed, no such port",
         {},
         {"/FUPDATE.INI", "/ACOM9"},
         "\n",
         "failed",
         0,
         "An unknown error occurred!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(resultPath_);
        EXPECT_EQ(Run(c).status, 0);
        std::vector<json> records = Records();
        ASSERT_EQ(records.size(), 1u);
        const json& r = records[0];
        EXPECT_EQ(r["result"], c.result);
        EXPECT_EQ(r["passes"], c.passes);
        EXPECT_EQ(r["message"], c.message);
        EXPECT_EQ(r["port"], c.words[1].substr(2));
        EXPECT_TRUE(r["seconds"].is_number());
        EXPECT_EQ(r["time"].get<std::string>().size(), 20u);  // 2026-12-07T23:15:32Z
    }
}

TEST_F(ResultRecordTest, AnUpdateRecordsFileRevisionDeviceAndBothIdentifications) {
    Run({"", {}, {"/FUPDATE.INI", "/ACOM7"}, "y\n\n", "", 0, nullptr}, true, {"OSPREY_CONFIRM=1"});
    Run({"", {}, {"/FUPDATE.INI", "/ACOM9"}, "\n", "", 0, nullptr});
    std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 2u);  // appended, one line a run
    EXPECT_EQ(records[0]["device"], device_);
    EXPECT_EQ(records[0]["update_file"], "UPDATE.INI");
    EXPECT_EQ(records[0]["revision"], "1.05");
    EXPECT_EQ(records[0]["idn_before"], kIdn);
    EXPECT_EQ(records[0]["idn_after"], "Velmora,KR470A,SN470001,1.05-2.10-0.9");
    // A port that could not be opened: where it would have been, nothing asked.
    EXPECT_EQ(records[1]["device"], absent_);
    EXPECT_EQ(records[1]["idn_before"], nullptr);
    EXPECT_EQ(records[1]["idn_after"], nullptr);
}

// Nothing is sent after "dlo:comp" unless a confirming query is asked for, so
// a plain record cannot know the new revision: it says committed.
TEST_F(ResultRecordTest, ACommitIsRecordedAsCommittedWithNothingSentAfterIt) {
    ProcessResult run = Run({"", {}, {"/FUPDATE.INI", "/ACOM7"}, "y\n\n", "", 0, nullptr});
    std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "committed");
    EXPECT_EQ(records[0]["idn_after"], nullptr);
    ASSERT_FALSE(TranscriptLines().empty());
    EXPECT_EQ(TranscriptLines().back().rfind("dlo:comp ", 0), 0u);
    EXPECT_EQ(run.errors, "");
}

TEST_F(ResultRecordTest, AConfirmingQueryRecordsUpdatedOnlyWhenTheInstrumentMatchesTheFile) {
    const Case c{"", {}, {"/FUPDATE.INI", "/ACOM7"}, "y\n\n", "", 0, nullptr};
    ProcessResult confirmed = Run(c, true, {"OSPREY_CONFIRM=1"});
    EXPECT_EQ(TranscriptLines().back(), "*IDN?");
    EXPECT_EQ(confirmed.errors,
              "Osprey: confirmed: the instrument identifies as "
              "Velmora,KR470A,SN470001,1.05-2.10-0.9\n");

    Case stale = c;
    stale.simulator = {"--new-revision", "1.04"};
    ProcessResult unconfirmed = Run(stale, true, {"OSPREY_CONFIRM=1"});
    EXPECT_EQ(unconfirmed.errors,
              "Osprey: the update is not confirmed: after the commit the instrument reports "
              "revision 1.04, not the update's 1.05.\n");
    Case silent = c;
    silent.simulator = {"--hangup-on", "*IDN?@2"};  // no answer, and at once
    ProcessResult unanswered = Run(silent, true, {"OSPREY_CONFIRM=1"});

    std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]["result"], "updated");
    EXPECT_EQ(records[0]["message"], nullptr);
    EXPECT_EQ(records[1]["result"], "unconfirmed");
    EXPECT_EQ(records[1]["message"],
              "after the commit the instrument reports revision 1.04, not the update's 1.05");
    EXPECT_EQ(records[1]["idn_after"], "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    EXPECT_EQ(records[2]["result"], "unconfirmed");
    EXPECT_EQ(records[2]["message"], "the instrument did not answer \"*IDN?\" after the commit");
    EXPECT_EQ(records[2]["idn_after"], nullptr);
    // The screen is the same whatever the query found, and as without it.
    ProcessResult plain = Run(c, false);
    EXPECT_EQ(confirmed.output, plain.output);
    EXPECT_EQ(unconfirmed.output, plain.output);
    EXPECT_EQ(unanswered.output, plain.output);
}

TEST_F(ResultRecordTest, AnyReplyBytesStillMakeValidJson) {
    std::string odd = "Velmora,\"KR\\470\"\t\x01,SN\xff\xc3(,1.04-0";
    Run({"", {"--idn", odd}, {"/FUPDATE.INI", "/ACOM7"}, "\n", "", 0, nullptr});
    std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["idn_before"],
              "Velmora,\"KR\\470\"\t\x01,SN\xef\xbf\xbd\xef\xbf\xbd(,1.04-0");
    EXPECT_EQ(records[0]["result"], "refused");
}

TEST_F(ResultRecordTest, TheScreenIsTheSameWithAndWithoutTheRecord) {
    for (const Case& c :
         std::vector<Case>{{"", {}, {"/FUPDATE.INI", "/ACOM7", "/L"}, "y\n\n", "", 0, nullptr},
                           {"",
                            {"--bad-checksum-pass", "1"},
                            {"/FUPDATE.INI", "/ACOM7"},
                            "y\nn\n\n",
                            "",
                            0,
                            nullptr}}) {
        ProcessResult plain = Run(c, false);
        ProcessResult recorded = Run(c, true);
        EXPECT_EQ(recorded.output, plain.output);
        EXPECT_EQ(recorded.status, plain.status);
    }
}

// A wrapper reads the last line: a run that ends before an update (a usage
// error, /H, /D, /V) must still leave a line of its own, never an older one.
TEST_F(ResultRecordTest, EveryRunThatReadsItsOptionsAppendsExactlyOneLine) {
    const std::vector<Case> cases = {
        {"usage error", {}, {"/Q"}, "", "usage", 0, nullptr},
        {"help", {}, {"/H"}, "", "usage", 0, nullptr},
        {"missing argument", {}, {"/F"}, "", "usage", 0, nullptr},
        {"description", {}, {"/FUPDATE.INI", "/D"}, "", "described", 0, nullptr},
        {"description of no file",
         {},
         {"/Fmissing.ini", "/D"},
         "",
         "refused",
         0,
         "Error:: Could not open INI file missing.ini."},
        {"version", {}, {"/V"}, "", "version", 0, nullptr},
    };
    const std::map<std::string, int> statuses = {
        {"usage", 1}, {"described", 0}, {"refused", 1}, {"version", 0}};
    std::ofstream(resultPath_) << R"({"result":"updated"})" << '\n';  // an earlier run's
    size_t lines = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Run(c).status, statuses.at(c.result));
        std::vector<json> records = Records();
        ASSERT_EQ(records.size(), ++lines);
        EXPECT_EQ(records.back()["result"], c.result);
        EXPECT_EQ(records.back()["message"], c.message);
        EXPECT_EQ(records.back()["passes"], 0);
    }
}

// A result file that cannot take the line is refused before the port is
// opened: a run whose result would be lost never starts.
TEST_F(ResultRecordTest, AResultFileThatCannotBeAppendedIsRefusedBeforeThePort) {
    const std::string fifo = (dir_.Path() / "result.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("nowhere.jsonl", dir_.Path() / "dangling.jsonl");
    std::vector<std::string> refused = {dir_.Path().string(), "/dev/full", fifo,
                                        (dir_.Path() / "dangling.jsonl").string()};
    if (geteuid() != 0) {
        dir_.Write("read-only.jsonl", "");
        std::filesystem::permissions(dir_.Path() / "read-only.jsonl",
                                     std::filesystem::perms::owner_read);
        refused.push_back((dir_.Path() / "read-only.jsonl").string());
    }
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        resultPath_ = path;
        // No answers: a refused run reads none, and writing them could meet a closed pipe.
        ProcessResult r = Run({"", {}, {"/FUPDATE.INI", "/ACOM7"}, "", "", 0, nullptr});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "");
        EXPECT_NE(r.errors.find("Osprey: cannot append the result to OSPREY_RESULT=" + path),
                  std::string::npos)
            << r.errors;
        EXPECT_NE(r.errors.find("nothing was started."), std::string::npos) << r.errors;
        EXPECT_TRUE(TranscriptLines().empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "nowhere.jsonl"));
}

// OSPREY_RESULT naming the /L log: the screen's text would be written over the
// result lines (or the earlier lines kept away under the log's time-stamped
// name). The log is refused instead; the result file keeps one line a run.
TEST_F(ResultRecordTest, AResultFileNamedLikeTheLogKeepsItsLinesAndTheLogIsRefused) {
    resultPath_ = (dir_.Path() / "VlmFirmwareUpdate.log").string();
    for (size_t run = 1; run <= 2; ++run) {
        ProcessResult r = Run({"", {}, {"/FUPDATE.INI", "/ACOM7", "/L"}, "y\n\n", "", 0, nullptr});
        EXPECT_NE(r.errors.find("Osprey: cannot create log file VlmFirmwareUpdate.log: it is the "
                                "result file (OSPREY_RESULT); logging is off."),
                  std::string::npos)
            << r.errors;
        std::vector<json> records = Records();
        ASSERT_EQ(records.size(), run);
        EXPECT_EQ(records.back()["result"], "committed");
    }
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
        files += entry.path().filename().string().starts_with("VlmFirmwareUpdate") ? 1 : 0;
    }
    EXPECT_EQ(files, 1u);  // no earlier "log" kept aside
}

// Under a file-size limit (ulimit -f) a result file already past it takes no
// line: that is said on stderr, and the run is not killed by SIGXFSZ.
TEST_F(ResultRecordTest, AResultFilePastTheFileSizeLimitIsSaidOnStderrAndTheRunEndsNormally) {
    std::ofstream(resultPath_) << std::string(20000, 'x') << '\n';
    ProcessResult r = RunProcess({"/usr/bin/prlimit", "--fsize=10000", OSPREY_PATH, "/V"}, "",
                                 Environment(), dir_.Path().string());
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.output.empty());
    EXPECT_NE(r.errors.find("Osprey: cannot append the result to " + resultPath_),
              std::string::npos)
        << r.errors;
}

TEST_F(ResultRecordTest, AnotherUsersLinkInAStickyFolderIsNeverFollowed) {
    if (!testsupport::SharedFolder::CanActAsAnotherUser())
        GTEST_SKIP() << "needs root to make another user's link";
    testsupport::SharedFolder shared;
    const std::filesystem::path victim = shared.Top() / "victim";
    std::ofstream(victim) << "victim's\n";
    resultPath_ = shared.Link("result.jsonl", victim);
    ProcessResult r = Run({"", {}, {"/FUPDATE.INI", "/ACOM7"}, "", "", 0, nullptr});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("another user's symbolic link"), std::string::npos) << r.errors;
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "victim's\n");
    // The folder's own user's link is followed, as the kernel does.
    resultPath_ = shared.Link("own.jsonl", victim, 0);
    EXPECT_EQ(Run({"", {}, {"/V"}, "", "", 0, nullptr}).status, 0);
    std::ifstream again(victim);
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(again), {}).find("\"version\""),
              std::string::npos);
}
// Polls (10 ms at a time, 10 s at most) until `reached` holds.
bool WaitUntil(const std::function<bool()>& reached) {
    for (int tries = 0; tries < 1000; ++tries) {
        if (reached())
            return true;
        poll(nullptr, 0, 10);
    }
    return reached();
}

std::string FileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Osprey started with its input on a pipe the test keeps open, so it waits at
// each prompt until the test writes the answer; stderr goes to a file.
class SignalledRun {
  public:
    SignalledRun(const std::vector<std::string>& words, const std::vector<std::string>& environment,
                 const std::string& folder, const std::string& errorsPath)
        : errorsPath_(errorsPath) {
        int in[2];
        if (pipe(in) != 0)
            return;
        int out = open("/dev/null", O_WRONLY | O_CLOEXEC);
        int err = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = testsupport::Spawn(words, environment, folder, in[0], out, err);
        close(in[0]);
        close(out);
        close(err);
        input_ = in[1];
    }
    ~SignalledRun() {
        if (input_ >= 0)
            close(input_);
    }
    void Type(const std::string& text) {
        EXPECT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void Signal(int signal) { kill(pid_, signal); }
    // The exit status; closes the input first.
    int Wait() {
        close(input_);
        input_ = -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        return status;
    }
    std::string Errors() const { return FileText(errorsPath_); }

  private:
    std::string errorsPath_;
    pid_t pid_ = -1;
    int input_ = -1;
};

// A run ended by a signal after the download started still leaves its line,
// so a script never reads the run before it as this one's result.
TEST_F(ResultRecordTest, AnInterruptedRunIsRecordedAsFailed) {
    const std::string transcript = (dir_.Path() / "transcript.txt").string();
    Simulator simulator(
        {SIMULATOR_PATH, "--link", device_, "--silent", "*STB?", "--transcript", transcript});
    SignalledRun run({OSPREY_PATH, "/FUPDATE.INI", "/ACOM7"}, Environment(), dir_.Path().string(),
                     ErrorsPath());
    run.Type("y\n");
    // Osprey now waits for the silent "*STB?" (bounded: 10 s at most here).
    ASSERT_TRUE(WaitUntil([&] { return FileText(transcript).find("*STB?") != std::string::npos; }));
    run.Signal(SIGINT);
    int status = run.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "failed");
    EXPECT_NE(records[0]["message"].get<std::string>().find("interrupted"), std::string::npos);
    EXPECT_NE(records[0]["message"].get<std::string>().find("may now identify as a loader"),
              std::string::npos);
    EXPECT_EQ(records[0]["idn_before"], kIdn);
    EXPECT_EQ(records[0]["device"], device_);
    EXPECT_NE(run.Errors().find("may now identify as a loader"), std::string::npos);
}

// Ctrl-C at the last prompt of a committed update: what happened is said and
// recorded, no warning about download mode.
TEST_F(ResultRecordTest, CtrlCAtTheLastPromptAfterACommitSaysItWasCommitted) {
    Simulator simulator({SIMULATOR_PATH, "--link", device_});
    SignalledRun run({OSPREY_PATH, "/FUPDATE.INI", "/ACOM7"}, Environment(), dir_.Path().string(),
                     ErrorsPath());
    run.Type("y\n");
    // The record is written just before "Press Enter to exit.".
    ASSERT_TRUE(WaitUntil([&] { return !FileText(resultPath_).empty(); }));
    run.Signal(SIGINT);
    int status = run.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_EQ(run.Errors(),
              "\nOsprey: interrupted (SIGINT). The port is released. The new firmware was "
              "committed.\n");
    std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "committed");
}

// Ctrl-C at the last question before "dlo:start": nothing was changed.
TEST_F(ResultRecordTest, CtrlCBeforeTheDownloadStartedIsRecordedAsDeclined) {
    Simulator simulator({SIMULATOR_PATH, "--link", device_, "--transcript", Transcript()});
    SignalledRun run({OSPREY_PATH, "/FUPDATE.INI", "/ACOM7"}, Environment(), dir_.Path().string(),
                     ErrorsPath());
    ASSERT_TRUE(
        WaitUntil([&] { return FileText(Transcript()).find("dlo:csum?") != std::string::npos; }));
    run.Signal(SIGINT);
    int status = run.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_EQ(run.Errors(),
              "\nOsprey: interrupted (SIGINT). The port is released. The download had not "
              "started: the instrument's firmware is unchanged.\n");
    std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "declined");
    EXPECT_EQ(records[0]["message"],
              "interrupted by a signal before the download started; the instrument's firmware "
              "is unchanged");
    EXPECT_EQ(FileText(Transcript()).find("dlo:start"), std::string::npos);
}

// nohup: a hang-up the parent ignores stays ignored, and the run goes on.
TEST_F(ResultRecordTest, AHangUpIgnoredByTheParentLeavesTheRunGoing) {
    Simulator simulator({SIMULATOR_PATH, "--link", device_});
    SignalledRun run(
        {"/bin/sh", "-c", "trap '' HUP; exec \"$0\" \"$@\"", OSPREY_PATH, "/FUPDATE.INI", "/ACOM7"},
        Environment(), dir_.Path().string(), ErrorsPath());
    run.Type("y\n");
    ASSERT_TRUE(WaitUntil([&] { return !FileText(resultPath_).empty(); }));
    run.Signal(SIGHUP);
    run.Type("\n");
    int status = run.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(run.Errors(), "");
}

}  // namespace
}  // namespace osprey
