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
using testing::ProcessResult;
using testing::RunProcess;
using testing::Simulator;
using testing::TempDir;

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
    ProcessResult Run(const Case& c, bool record = true) {
        std::vector<std::string> sim = {SIMULATOR_PATH, "--link", device_};
        sim.insert(sim.end(), c.simulator.begin(), c.simulator.end());
        Simulator simulator(sim);
        std::vector<std::string> words = c.words;
        words.insert(words.begin(), OSPREY_PATH);
        std::vector<std::string> environment = {
            "OSPREY_PORTS=" + (dir_.Path() / "ports.ini").string(), "OSPREY_RESET_STEP_MS=1"};
        if (record)
            environment.push_back("OSPREY_RESULT=" + resultPath_);
        return RunProcess(words, c.answers, environment, dir_.Path().string());
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
        {"updated", {}, {"/FUPDATE.INI", "/ACOM7"}, "y\n\n", "updated", 1, nullptr},
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
    Run({"", {}, {"/FUPDATE.INI", "/ACOM7"}, "y\n\n", "", 0, nullptr});
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
    const std::string transcript = (dir_.Path() / "transcript.txt").string();
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
        ProcessResult r =
            Run({"", {"--transcript", transcript}, {"/FUPDATE.INI", "/ACOM7"}, "", "", 0, nullptr});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "");
        EXPECT_NE(r.errors.find("Osprey: cannot append the result to OSPREY_RESULT=" + path),
                  std::string::npos)
            << r.errors;
        EXPECT_NE(r.errors.find("nothing was started."), std::string::npos) << r.errors;
        std::ifstream sent(transcript);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(sent), {}), "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "nowhere.jsonl"));
}

TEST_F(ResultRecordTest, AnotherUsersLinkInAStickyFolderIsNeverFollowed) {
    if (!testing::SharedFolder::CanActAsAnotherUser())
        GTEST_SKIP() << "needs root to make another user's link";
    testing::SharedFolder shared;
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

// A run ended by a signal after the download started still leaves its line,
// so a script never reads the run before it as this one's result.
TEST_F(ResultRecordTest, AnInterruptedRunIsRecordedAsFailed) {
    const std::string transcript = (dir_.Path() / "transcript.txt").string();
    Simulator simulator(
        {SIMULATOR_PATH, "--link", device_, "--silent", "*STB?", "--transcript", transcript});
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(write(in[1], "y\n\n", 3), 3);
    int out = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t pid = testing::Spawn({OSPREY_PATH, "/FUPDATE.INI", "/ACOM7"},
                               {"OSPREY_PORTS=" + (dir_.Path() / "ports.ini").string(),
                                "OSPREY_RESET_STEP_MS=1", "OSPREY_RESULT=" + resultPath_},
                               dir_.Path().string(), in[0], out, out);
    close(in[0]);
    close(out);
    // Osprey now waits for the silent "*STB?" (bounded: 10 s at most here).
    bool waiting = false;
    for (int tries = 0; tries < 1000 && !waiting; ++tries) {
        std::ifstream file(transcript);
        std::stringstream text;
        text << file.rdbuf();
        waiting = text.str().find("*STB?") != std::string::npos;
        if (!waiting)
            poll(nullptr, 0, 10);
    }
    ASSERT_TRUE(waiting);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    close(in[1]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "failed");
    EXPECT_NE(records[0]["message"].get<std::string>().find("interrupted"), std::string::npos);
    EXPECT_EQ(records[0]["idn_before"], kIdn);
    EXPECT_EQ(records[0]["device"], device_);
}

}  // namespace
}  // namespace osprey
