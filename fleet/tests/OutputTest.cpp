// What the tool shows: the progress board in both modes, the summary table,
// the JSON report and the exit status.
#include <gtest/gtest.h>

#include <sstream>

#include "ProgressBoard.h"
#include "Report.h"

namespace fleet {
namespace {

JobReport Report(const std::string& address, Outcome outcome) {
    JobReport report;
    report.address = address;
    report.updateFile = "fw.ini";
    report.outcome = outcome;
    return report;
}

TEST(ProgressBoardTest, JsonLinesAtEachStateAndEachTenthOfAPass) {
    std::ostringstream out;
    ProgressBoard board(out, ProgressBoard::Mode::kJsonLines, {"ASRL1", "ASRL2"});
    board.SetState(1, "downloading");
    board.SetState(1, "downloading");  // no change, no line
    for (int lines = 0; lines <= 1000; lines += 100) {
        board.SetProgress(1, 1, lines, 1000);
    }
    board.SetProgress(1, 1, 1050, 1000);  // past the end: still the last tenth
    board.Finish();
    std::string text = out.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 10);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "{\"address\":\"ASRL2\",\"state\":\"downloading\",\"pass\":0,\"lines\":0,\"of\":0}");
    EXPECT_NE(text.find("\"lines\":1000,\"of\":1000}\n"), std::string::npos);
}

TEST(ProgressBoardTest, TerminalBoardRedrawsEveryLineInPlace) {
    std::ostringstream out;
    ProgressBoard board(out, ProgressBoard::Mode::kTerminal, {"ASRL1", "ASRL2"});
    board.SetState(0, "identifying");
    board.SetState(1, "downloading");
    std::string text = out.str();
    EXPECT_EQ(text.find("\x1b[2A"), text.rfind("\x1b[2A"));  // moved up once, for the redraw
    EXPECT_NE(text.rfind("\r\x1b[KASRL2"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
}

TEST(ProgressBoardTest, SmallTerminalShowsTheBusyFirstAndCountsTheRest) {
    std::ostringstream out;
    ProgressBoard board(out, ProgressBoard::Mode::kTerminal,
                        {"ASRL1", "ASRL2", "ASRL3", "TCPIP0::a-very-long-host-name::5025::SOCKET"},
                        {4, 30});
    board.SetState(0, "updated", true);
    board.SetState(3, "downloading");
    std::string last = out.str().substr(out.str().rfind("\x1b[3A") + 4);
    std::vector<std::string> shown;
    for (size_t at = 0; (at = last.find("\r\x1b[K", at)) != std::string::npos; at += 4) {
        shown.push_back(last.substr(at + 4, last.find('\n', at) - at - 4));
    }
    ASSERT_EQ(shown.size(), 3u);  // the terminal's rows less the one the cursor stays on
    EXPECT_EQ(shown[0].substr(0, 12), "...very-long");  // busy first, its address cut from the left
    EXPECT_EQ(shown[1].substr(0, 5), "ASRL2");          // then those waiting
    EXPECT_EQ(shown[2], "... 2 more not shown; 1 of 4 ");
    for (const std::string& line : shown) {
        EXPECT_LE(line.size(), 29u);  // never wraps
    }
}

TEST(ReportTest, TableAlignsColumnsAndListsMessagesAndDownloadMode) {
    JobReport updated = Report("ASRL1::INSTR", Outcome::kUpdated);
    updated.identificationBefore = "V,KR470A,SN1,1.04";
    updated.identificationAfter = "V,KR470A,SN1,1.05";
    updated.passes = 1;
    updated.seconds = 61.04;
    JobReport failed = Report("TCPIP0::127.0.0.1::5025::SOCKET", Outcome::kFailed);
    failed.message = "Record 4 Failes to load / Update file may be corrupt!";
    failed.mayBeInDownloadMode = true;
    EXPECT_EQ(SummaryTable({updated, failed}),
              "ADDRESS                          BEFORE             AFTER              RESULT   "
              "PASSES  SECONDS\n"
              "ASRL1::INSTR                     V,KR470A,SN1,1.04  V,KR470A,SN1,1.05  updated  "
              "1       61.0\n"
              "TCPIP0::127.0.0.1::5025::SOCKET  -                  -                  failed   "
              "0       0.0\n"
              "TCPIP0::127.0.0.1::5025::SOCKET: Record 4 Failes to load / Update file may be "
              "corrupt!\n"
              "TCPIP0::127.0.0.1::5025::SOCKET may be left in download mode: the download was "
              "not committed, so it may now identify as a loader; run the same update again to "
              "recover it (if that reports a wrong start token, switch it off and on first).\n");
}

TEST(ReportTest, TableShowsNoControlBytesFromAnInstrument) {
    JobReport hostile = Report("ASRL1::INSTR", Outcome::kFailed);
    hostile.identificationBefore = "V,KR470A,\x1b]0;owned\x07\x1b[2J,1.04\r\nX";
    hostile.message = "Bad reply \x1b[31mred\n";
    std::string table = SummaryTable({hostile});
    EXPECT_EQ(table.find('\x1b'), std::string::npos);
    EXPECT_EQ(table.find('\x07'), std::string::npos);
    EXPECT_EQ(table.find('\r'), std::string::npos);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3);  // headings, row, message
    EXPECT_NE(table.find("V,KR470A,?]0;owned??[2J,1.04??X"), std::string::npos) << table;
}

TEST(ReportTest, JsonReportHasOneObjectPerInstrumentAndTheStatus) {
    JobReport current = Report("ASRL\"1", Outcome::kCurrent);
    current.message = "already at the update's revision";
    std::string json = JsonReport({current, Report("ASRL2", Outcome::kStopped)}, 3);
    EXPECT_EQ(json,
              "{\"instruments\":[\n"
              "{\"address\":\"ASRL\\\"1\",\"update_file\":\"fw.ini\",\"idn_before\":null,"
              "\"idn_after\":null,\"result\":\"current\",\"message\":\"already at the update's "
              "revision\",\"passes\":0,\"seconds\":0.000,\"download_mode\":false,\"log\":\"\"},\n"
              "{\"address\":\"ASRL2\",\"update_file\":\"fw.ini\",\"idn_before\":null,"
              "\"idn_after\":null,\"result\":\"stopped\",\"message\":null,\"passes\":0,"
              "\"seconds\":0.000,\"download_mode\":false,\"log\":\"\"}\n"
              "],\"exit_status\":3}\n");
}

TEST(ReportTest, ExitStatusIsZeroOnlyWhenEveryInstrumentIsDone) {
    std::vector<JobReport> done = {Report("a", Outcome::kUpdated), Report("b", Outcome::kCurrent)};
    EXPECT_EQ(ExitStatus(done, false, false), kAllDone);
    EXPECT_EQ(ExitStatus(done, true, false), kStoppedByRequest);
    done.push_back(Report("c", Outcome::kRefused));
    EXPECT_EQ(ExitStatus(done, false, false), kSomeNotDone);
    EXPECT_EQ(ExitStatus({Report("a", Outcome::kReady)}, false, true), kAllDone);
    EXPECT_EQ(ExitStatus({Report("a", Outcome::kReady)}, false, false), kSomeNotDone);
    EXPECT_EQ(ExitStatus({Report("a", Outcome::kUpdated)}, false, true), kSomeNotDone);
}

}  // namespace
}  // namespace fleet
