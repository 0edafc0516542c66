#include "Console.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "ConsoleCapture.h"

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
    unsetenv("OSPREY_RESET_STEP_MS");
    EXPECT_EQ(ResetStepMilliseconds(), 1200u);
    setenv("OSPREY_RESET_STEP_MS", "5", 1);
    EXPECT_EQ(ResetStepMilliseconds(), 5u);
    // Anything but a positive number keeps the instrument's full restart time.
    for (const char* text : {"abc", "0", "-5", "12abc", " ", "99999999999"}) {
        setenv("OSPREY_RESET_STEP_MS", text, 1);
        EXPECT_EQ(ResetStepMilliseconds(), 1200u) << text;
    }
    unsetenv("OSPREY_RESET_STEP_MS");
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

}  // namespace
}  // namespace osprey
