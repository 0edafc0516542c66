// Osprey against the simulated instrument on a pseudo-terminal, with its
// standard output compared byte for byte.
#include <poll.h>
#include <sys/file.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Process.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"

namespace osprey {
namespace {

using testsupport::ProcessResult;
using testsupport::RunProcess;
using testsupport::Simulator;
using testsupport::TempDir;

const std::string kFinal = "\nPress Enter to exit.";
const std::string kIdentification = "Velmora,KR470A,SN470001,1.04-2.10-0.9";

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class EndToEndTest : public ::testing::Test {
  protected:
    EndToEndTest() {
        device_ = (dir_.Path() / "kr470").string();
        dir_.Write("ports.ini",
                   "; the simulator\n[COM7]\ndevice = " + device_ + "\nsettings=57600,N,8,1\n");
        input_.records = kr470::GenerateImage(250 * 32, 11, "KR470A 1.05");
        input_.revision = "1.05";
        input_.description = {"KR470A firmware 1.05", "", "never shown"};
    }

    void StartSimulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {SIMULATOR_PATH, "--link", device_, "--transcript",
                                         (dir_.Path() / "transcript.txt").string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        simulator_ = std::make_unique<Simulator>(argv);
        ASSERT_FALSE(simulator_->FirstLine().empty());
    }

    ProcessResult Osprey(std::vector<std::string> words, const std::string& answers = "\n") {
        words.insert(words.begin(), OSPREY_PATH);
        return RunProcess(
            words, answers,
            {"OSPREY_PORTS=" + (dir_.Path() / "ports.ini").string(), "OSPREY_RESET_STEP_MS=1"},
            dir_.Path().string());
    }

    std::vector<std::string> Transcript() {
        simulator_->Stop();
        std::vector<std::string> lines;
        std::istringstream in(ReadText(dir_.Path() / "transcript.txt"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string WriteUpdateFile() {
        return dir_.Write("UPDATE.INI", kr470::BuildUpdateFile(input_));
    }

    TempDir dir_;
    std::string device_;
    kr470::UpdateFileInput input_;
    std::unique_ptr<Simulator> simulator_;
};

std::string Bar(int stars, int dashes, const std::string& percent) {
    return "|" + std::string(static_cast<size_t>(stars), '*') +
           std::string(static_cast<size_t>(dashes), '-') + "| " + percent;
}

TEST_F(EndToEndTest, NormalUpdatePrintsExactlyTheDialogueAndCommits) {
    StartSimulator();
    WriteUpdateFile();
    ProcessResult r = Osprey({"/FUPDATE.INI", "/ACOM7"}, "y\n\n");
    EXPECT_EQ(r.status, 0);
    std::string line1 = Bar(0, 49, "0.40%");     // line 1 of 250 records
    std::string line201 = Bar(40, 9, "80.40%");  // line 201
    std::string reset =
        "\nWaiting 5 seconds for unit to reset...\n1\b\b2\b\b3\b\b4\b\b5\b\b...done!\n";
    std::string expected =
        "The Update will take about 9 minutes.\n" + kIdentification + "\n" +
        "Verifying code section of Update file.\nRecord count and CheckSum match!\nCode section "
        "OK.\n"
        "Instrument Version 1.04\nUpdate Version 1.05\n"
        "\nDo you want to Continue with update? (Y/N) _\b"
        "NOTE: During update please don't touch the buttons on the Front Panel!\n" +
        reset + line1 + std::string(line1.size(), '\b') + line201 +
        std::string(line201.size(), '\b') + Bar(49, 0, "100.00%") + "\nDone!\n" + reset +
        "\nSuccessfully updated instrument firmware.\n" + kFinal;
    EXPECT_EQ(r.output, expected);

    std::vector<std::string> lines = Transcript();
    ASSERT_EQ(lines.size(), 3 + 5 + 253 + 5u);
    EXPECT_EQ(lines[0], "SYST:REM");
    EXPECT_EQ(lines[1], "SYST:ERR?");
    EXPECT_EQ(lines[2], "*IDN?");
    EXPECT_EQ(lines[5], "dlo:start 0012345");
    EXPECT_EQ(lines[8], "dlo \"" + input_.records[0] + "\" ");
    EXPECT_EQ(lines[260], "dlo \"" + input_.records.back() + "\" ");
    EXPECT_EQ(lines.back().substr(0, 9), "dlo:comp ");
}

TEST_F(EndToEndTest, StrictCheckingLogsEverythingButTheFinalPrompt) {
    StartSimulator({"--refuse", "4:2", "--idn", "Velmora,loader,SN1,0.1"});
    WriteUpdateFile();
    ProcessResult r = Osprey({"/L", "/C", "/FUPDATE.INI", "/Acom7"}, "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.output.starts_with("The Update will take about 14 minutes.\n"));
    EXPECT_TRUE(r.output.ends_with("\nSuccessfully updated instrument firmware.\n" + kFinal));
    EXPECT_EQ(ReadText(dir_.Path() / "VlmFirmwareUpdate.log"),
              r.output.substr(0, r.output.size() - kFinal.size()));
    std::vector<std::string> lines = Transcript();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "dlo? \"" + input_.records[3] + "\" "), 3);
}

TEST_F(EndToEndTest, DescriptionIsPrintedAndLoggedInEitherOrder) {
    WriteUpdateFile();
    for (auto words : std::vector<std::vector<std::string>>{{"/D", "/FUPDATE.INI", "/L"},
                                                            {"/L", "-FUPDATE.INI", "D"}}) {
        ProcessResult r = Osprey(words, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, "KR470A firmware 1.05\n");
        EXPECT_EQ(ReadText(dir_.Path() / "VlmFirmwareUpdate.log"), r.output);
    }
    ProcessResult missing = Osprey({"/D", "/Fmissing.ini"}, "");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output, "\nError:: Could not open INI file missing.ini.\n");
}

TEST_F(EndToEndTest, UsageAndVersionEndTheRun) {
    ProcessResult usage = Osprey({"/F"}, "");
    EXPECT_EQ(usage.status, 1);
    EXPECT_TRUE(usage.output.starts_with(std::string("Usage: ") + OSPREY_PATH + "\n"));
    EXPECT_TRUE(usage.output.ends_with("\tH - This help message.\n"));
    ProcessResult version = Osprey({"/L", "/V", "/C"}, "");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.output.starts_with("Version 1.00.04, Built on "));
    EXPECT_TRUE(std::filesystem::exists(dir_.Path() / "VlmFirmwareUpdate.log"));
    EXPECT_EQ(ReadText(dir_.Path() / "VlmFirmwareUpdate.log"), "");
}

TEST_F(EndToEndTest, LinkFailuresEndInTheirMessageAndTheFinalPrompt) {
    struct Case {
        std::string address;
        std::string message;
    };
    for (const Case& c :
         {Case{"LPT1", "\nI/O Parameter error occurred!\n"},
          Case{"COM7::BAUD=57600", "\nAn unknown error occurred!\n"},  // no simulator: port absent
          Case{"COM7::PARITY=X", "\nAn unknown error occurred!\n"}}) {
        ProcessResult r = Osprey({"/A" + c.address}, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, c.message + "Update of firmware FAILED!\n" + kFinal) << c.address;
    }
}

TEST_F(EndToEndTest, PortInUseIsNotOpened) {
    StartSimulator();
    int held = open(device_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    ProcessResult r = Osprey({"/ACOM7"}, "");
    EXPECT_EQ(r.output, "\nAn unknown error occurred!\nUpdate of firmware FAILED!\n" + kFinal);
    close(held);
}

TEST_F(EndToEndTest, HangUpInTheMiddleOfAPassIsAFailureNotAHang) {
    StartSimulator({"--hangup-after-records", "100"});
    WriteUpdateFile();
    ProcessResult r = Osprey({"/FUPDATE.INI", "/ACOM7"}, "y\n\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.output.ends_with("Update of firmware FAILED!\n" + kFinal)) << r.output;
    EXPECT_EQ(r.output.find("Successfully"), std::string::npos);
}

TEST_F(EndToEndTest, SilentInstrumentTimesOutWithTheRs232Hint) {
    StartSimulator({"--silent", "*IDN?"});
    ProcessResult r = Osprey({"/ACOM7"}, "");
    EXPECT_EQ(r.output,
              "The Update will take about 9 minutes.\n"
              "\nI/O Timeout error occurred!\nCheck that the KR470 is set to RS-232.\n"
              "Update of firmware FAILED!\n" +
                  kFinal);
}

TEST_F(EndToEndTest, DeclinedUpdateStillExitsZeroAndSendsNoDownloadCommand) {
    StartSimulator({"--error", "-410,\"Query INTERRUPTED\""});
    WriteUpdateFile();
    ProcessResult r = Osprey({"/FUPDATE.INI", "/ACOM7::Baud=14400"}, "n\n\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.output.starts_with("\"Query INTERRUPTED\"\n" + kIdentification +
                                     "\n"));  // 14400: no estimate
    EXPECT_TRUE(r.output.ends_with("\nUpdate of firmware FAILED!\n" + kFinal));
    std::vector<std::string> lines = Transcript();
    EXPECT_EQ(lines.back(), "dlo:csum?");
}

// Runs Osprey with the answers given up front and its output going to a file,
// so that the test can act on the update file while a pass is on the wire.
class RunningOsprey {
  public:
    RunningOsprey(std::vector<std::string> argv, const std::vector<std::string>& environment,
                  const std::filesystem::path& folder, const std::string& answers)
        : outputPath_(folder / "osprey-output.txt") {
        int in[2];
        if (pipe2(in, O_CLOEXEC) != 0)
            return;
        int out = open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = testsupport::Spawn(argv, environment, folder.string(), in[0], out);
        close(in[0]);
        close(out);
        if (write(in[1], answers.data(), answers.size()) < 0) {
        }
        close(in[1]);
    }
    ~RunningOsprey() { Wait(); }
    // Waits for the end of the run (killed after 60 s); returns its output.
    std::string Wait() {
        for (int waited = 0; pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; waited += 10) {
            if (waited > 60000) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
            poll(nullptr, 0, 10);
        }
        pid_ = -1;
        return ReadText(outputPath_);
    }

  private:
    std::filesystem::path outputPath_;
    pid_t pid_ = -1;
};

size_t CountRecordLines(const std::filesystem::path& transcript) {
    std::istringstream in(ReadText(transcript));
    size_t count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.starts_with("dlo \"") ? 1 : 0;
    return count;
}

// Rewrites the last records of the update file in place, record checksums
// kept valid, as soon as the first record is on the wire; returns how many
// records the instrument had received when the file had changed.
size_t RewriteDuringThePass(const std::string& path, const std::string& original,
                            const std::vector<std::string>& records,
                            const std::filesystem::path& transcript) {
    std::vector<std::string> altered = kr470::GenerateImage(records.size() * 32, 99, "KR470A 1.05");
    std::string text = original;
    for (size_t i = records.size() - 500; i + 2 < records.size(); ++i)
        text.replace(text.find(records[i]), altered[i].size(), altered[i]);
    for (int waited = 0; CountRecordLines(transcript) == 0 && waited < 30000; waited += 2)
        poll(nullptr, 0, 2);
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);  // in place: the same file
    EXPECT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    close(fd);
    return CountRecordLines(transcript);
}

TEST_F(EndToEndTest, TheRecordsSentAreTheRecordsCheckedEvenIfTheFileChangesInAPass) {
    input_.records = kr470::GenerateImage(3000 * 32, 11, "KR470A 1.05");
    const std::string original = kr470::BuildUpdateFile(input_);
    const std::vector<std::string> environment = {
        "OSPREY_PORTS=" + (dir_.Path() / "ports.ini").string(), "OSPREY_RESET_STEP_MS=1"};
    const std::vector<std::string> argv = {OSPREY_PATH, "/FUPDATE.INI", "/ACOM7::BAUD=2000000"};
    // The line paced so that the pass lasts a while, as on a real cable.
    const std::vector<std::string> paced = {"--baud", "2000000"};

    StartSimulator(paced);
    WriteUpdateFile();
    std::string unchangedOutput = RunningOsprey(argv, environment, dir_.Path(), "y\n\n").Wait();
    std::vector<std::string> unchanged = Transcript();
    ASSERT_TRUE(unchangedOutput.find("Successfully updated") != std::string::npos);

    StartSimulator(paced);
    std::string path = WriteUpdateFile();
    RunningOsprey run(argv, environment, dir_.Path(), "y\n\n");
    size_t sentWhenChanged =
        RewriteDuringThePass(path, original, input_.records, dir_.Path() / "transcript.txt");
    std::string output = run.Wait();
    EXPECT_GT(sentWhenChanged, 0u);
    EXPECT_LT(sentWhenChanged, input_.records.size() - 500);  // the file changed mid-pass
    EXPECT_EQ(Transcript(), unchanged);
    EXPECT_EQ(output, unchangedOutput);
}

}  // namespace
}  // namespace osprey
