#include "Console.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ConsoleCapture.h"
#include "ScopedEnv.h"
#include "TempFile.h"

namespace osprey {
namespace {

using testing::ConsoleCapture;

TEST(ShowProgress, DrawsTheBarAndBacksUpOverIt) {
    ConsoleCapture capture;
    ShowProgress(50, 201, 1000);
    std::string line = "|" + std::string(10, '*') + std::string(39, '-') + "| 20.10%";
    ASSERT_EQ(line.size(), 58u);
    EXPECT_EQ(capture.Output(), line + std::string(58, '\b'));
}

TEST(ShowProgress, FullBarEndsWithDone) {
    ConsoleCapture capture;
    ShowProgress(50, 1002, 1002);
    EXPECT_EQ(capture.Output(), "|" + std::string(49, '*') + "| 100.00%\nDone!\n");
}

TEST(ShowProgress, NarrowBarsAndText) {
    ConsoleCapture capture;
    ShowProgress(1, 1, 1, "left");
    ShowProgress(0, 1, 2);
    EXPECT_EQ(capture.Output(), "|| 100.00% left\nDone!\n|| 50.00%" + std::string(9, '\b'));
}

TEST(PromptUser, AcceptsEitherCaseAndAsksAgainOnOtherAnswers) {
    ConsoleCapture capture("maybe\n\nno thanks\n");
    EXPECT_EQ(PromptUser("Q? _\b", false), 'N');
    EXPECT_EQ(capture.Output(), "Q? _\bQ? _\bQ? _\b");
}

TEST(PromptUser, EndOfInputIsNoAndNeverLoops) {
    ConsoleCapture capture("x\n");
    EXPECT_EQ(PromptUser("Q?", false), 'N');
    EXPECT_EQ(PromptUser("\nPress Enter to exit.", true), 0);
}

TEST(PromptUser, AnyAnswerReturnsTheFirstCharacterOfALongLine) {
    ConsoleCapture capture(std::string(5000, 'q') + "\ny\n");
    EXPECT_EQ(PromptUser("go", true), 'q');
    EXPECT_EQ(PromptUser("go", false), 'Y');  // the long line was read whole
}

TEST(WaitForReset, CountsUpwardWithBackspaces) {
    ConsoleCapture capture;
    WaitForReset(3);
    EXPECT_EQ(capture.Output(),
              "\nWaiting 3 seconds for unit to reset...\n1\b\b2\b\b3\b\b...done!\n");
}

TEST(ResetStep, DefaultsTo1200AndFollowsTheEnvironment) {
    testsupport::ScopedEnv step("OSPREY_RESET_STEP_MS", std::nullopt);
    EXPECT_EQ(ResetStepMilliseconds(), 1200u);
    step.Set("5");
    EXPECT_EQ(ResetStepMilliseconds(), 5u);
    // Anything but a positive number keeps the instrument's full restart time.
    for (const char* text : {"abc", "0", "-5", "12abc", " ", "99999999999"}) {
        step.Set(text);
        EXPECT_EQ(ResetStepMilliseconds(), 1200u) << text;
    }
}

TEST(PrintDurationEstimate, FollowsTheRateTable) {
    struct Row {
        uint32_t baud;
        bool strict;
        const char* text;
    };
    const char* warning =
        "Warning: Should use baud rate greater than 9600.\n"
        "         This update MAY require a 2 or more hours to complete!\n";
    for (Row row : {Row{115200, false, "The Update will take about 9 minutes.\n"},
                    Row{57600, true, "The Update will take about 14 minutes.\n"},
                    Row{38400, false, "The Update will take about 14 minutes.\n"},
                    Row{38400, true, "The Update will take about 20 minutes.\n"},
                    Row{19200, false, "The Update will take about 30 minutes.\n"},
                    Row{19200, true, "The Update will take about 32 minutes.\n"},
                    Row{9600, false, "The Update will take about 60 minutes.\n"},
                    Row{9600, true, "The Update will take about 64 minutes.\n"},
                    Row{14400, false, ""}, Row{4800, true, warning}}) {
        ConsoleCapture capture;
        strictChecking = row.strict;
        PrintDurationEstimate(row.baud);
        EXPECT_EQ(capture.Output(), row.text) << row.baud;
    }
    strictChecking = false;
}

TEST(TeePrintf, CopiesIntoTheLogFileWhileLoggingIsOn) {
    ConsoleCapture capture;
    FILE* log = std::tmpfile();
    logFile = log;
    logEnabled = true;
    TeePrintf("%d\b\b", 7);
    logEnabled = false;
    TeePrintf("screen only");
    std::rewind(log);
    char text[16] = {};
    std::fread(text, 1, sizeof text - 1, log);
    EXPECT_STREQ(text, "7\b\b");
    EXPECT_EQ(capture.Output(), "7\b\bscreen only");
    std::fclose(log);
    logFile = nullptr;
}

// Runs each test in a folder of its own, where the log file is made.
class LogFileTest : public ::testing::Test {
  protected:
    LogFileTest() : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir_.Path());
    }
    ~LogFileTest() override {
        StopLogging();
        std::filesystem::current_path(saved_);
    }
    std::string LogText() const {
        std::ifstream in(dir_.Path() / kLogFileName, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    testsupport::TempDir dir_;
    std::filesystem::path saved_;
};

TEST_F(LogFileTest, ALinkOrAFifoIsNeverLoggedTo) {
    std::ofstream(dir_.Path() / "victim") << "precious";
    std::filesystem::create_symlink("victim", dir_.Path() / kLogFileName);
    ::testing::internal::CaptureStderr();
    StartLogging();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Osprey: cannot create log file VlmFirmwareUpdate.log: it is a symbolic link; "
              "logging is off.\n");
    EXPECT_FALSE(logEnabled);
    std::filesystem::remove(dir_.Path() / kLogFileName);
    std::ifstream victim(dir_.Path() / "victim");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "precious");

    ASSERT_EQ(mkfifo(kLogFileName, 0600), 0);
    int reader = open(kLogFileName, O_RDONLY | O_NONBLOCK);  // with a reader, open succeeds
    for (int round = 0; round < 2; ++round) {
        ::testing::internal::CaptureStderr();
        StartLogging();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "Osprey: cannot create log file VlmFirmwareUpdate.log: it is not a regular "
                  "file; logging is off.\n");
        EXPECT_FALSE(logEnabled);
        close(reader);  // and without one
    }
}

// Running again (what the advice says after a failure) must not lose the
// failed run's log: it is kept under the time it was last written.
TEST_F(LogFileTest, AnEarlierRunsLogIsKeptUnderTheTimeItWasWritten) {
    ConsoleCapture capture;
    const std::filesystem::path log = dir_.Path() / kLogFileName;
    const utimbuf written{1796685332, 1796685332};  // 2026-12-07T23:15:32Z
    for (const char* earlier : {"first run", "second run"}) {
        std::ofstream(log) << earlier;
        ASSERT_EQ(utime(log.c_str(), &written), 0);
        StartLogging();
        TeePrintf("this run");
        StopLogging();
        EXPECT_EQ(LogText(), "this run");
    }
    auto kept = [&](const char* name) {
        std::ifstream in(dir_.Path() / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(kept("VlmFirmwareUpdate-20261207-231532.log"), "first run");
    EXPECT_EQ(kept("VlmFirmwareUpdate-20261207-231532-2.log"), "second run");

    // An empty log (a run that showed nothing, or /L twice) is not kept.
    std::ofstream(log).close();
    StartLogging();
    StopLogging();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                            std::filesystem::directory_iterator()),
              3);
}

TEST_F(LogFileTest, EverythingShownIsInTheLogAtOnce) {
    ConsoleCapture capture;
    std::ofstream(dir_.Path() / kLogFileName) << "an older run";
    StartLogging();
    ASSERT_TRUE(logEnabled);
    TeePrintf("shown %d\n", 1);
    ShowProgress(4, 1, 2);
    EXPECT_EQ(LogText(), capture.Output());  // nothing waits in a buffer
    CloseLogNow();
    TeePrintf("after");
    StopLogging();
    EXPECT_EQ(LogText(), "shown 1\n|*--| 50.00%" + std::string(12, '\b'));
}

TEST_F(LogFileTest, TheFirstFailedWriteIsSaidOnceAndTheScreenGoesOn) {
    ConsoleCapture capture;
    FILE* screen = std::fopen("/dev/null", "w");
    Console().output = screen;  // the screen is no file the limit applies to
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    StartLogging();  // from here on a file-size limit fails writes instead of ending the run
    rlimit small = saved;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    ::testing::internal::CaptureStderr();
    const std::string line(600, 'x');
    for (int i = 0; i < 4; ++i)
        TeePrintf("%s\n", line.c_str());
    std::string said = ::testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(said,
              "Osprey: cannot write log file VlmFirmwareUpdate.log: File too large; "
              "logging is off.\n");
    EXPECT_FALSE(logEnabled);
    EXPECT_EQ(LogText().size(), 1000u);
    std::fclose(screen);
}

}  // namespace
}  // namespace osprey
