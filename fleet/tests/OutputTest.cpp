// What the tool shows: the progress board in every mode, the summary table,
// the JSON report and the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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

// What a terminal shows after `text`: the cursor moves, line clears and
// lines the board writes, played on a grid of rows.
struct Screen {
    std::vector<std::string> rows{""};
    size_t row = 0, column = 0;
    size_t moves = 0;  // cursor movements

    void Play(const std::string& text) {
        for (size_t at = 0; at < text.size(); ++at) {
            char c = text[at];
            if (c == '\x1b') {
                size_t end = text.find_first_of("ABK", at);
                int count = end > at + 2 ? std::stoi(text.substr(at + 2, end - at - 2)) : 1;
                if (text[end] == 'A' || text[end] == 'B') {
                    ++moves;
                    row = text[end] == 'A' ? row - static_cast<size_t>(count)
                                           : row + static_cast<size_t>(count);
                } else {
                    rows[row].resize(std::min(rows[row].size(), column));
                }
                at = end;
            } else if (c == '\r') {
                column = 0;
            } else if (c == '\n') {
                ++row;
                column = 0;
                rows.resize(std::max(rows.size(), row + 1));
            } else {
                rows[row].resize(std::max(rows[row].size(), column + 1), ' ');
                rows[row][column++] = c;
            }
        }
    }
    std::string Row(size_t n) const { return rows[n].substr(0, rows[n].find("  ")); }
};

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    ProgressBoard::Clock Reader() {
        return [this] { return now; };
    }
};

TEST(ProgressBoardTest, TerminalBoardRedrawsOnlyChangedRowsAFewTimesASecond) {
    std::ostringstream out;
    FakeClock clock;
    ProgressBoard board(out, ProgressBoard::Mode::kTerminal, {"ASRL1", "ASRL2", "ASRL3"}, {},
                        clock.Reader());
    board.SetState(0, "identifying");  // the first change draws the board
    Screen screen;
    screen.Play(out.str());
    EXPECT_EQ(screen.rows.size(), 4u);  // three rows, the cursor below them
    EXPECT_NE(screen.rows[0].find("identifying"), std::string::npos);
    out.str("");

    for (int lines = 0; lines < 1000; ++lines) {  // within the interval: nothing drawn
        board.SetProgress(2, 1, lines, 1000);
    }
    board.SetState(1, "downloading");
    board.Refresh();
    EXPECT_EQ(out.str(), "");

    clock.now += ProgressBoard::kRedrawInterval;
    board.Refresh();  // the waiting changes, and only those rows
    std::string redraw = out.str();
    screen.Play(redraw);
    EXPECT_EQ(std::count(redraw.begin(), redraw.end(), '\n'), 0);
    EXPECT_EQ(redraw.find("ASRL1"), std::string::npos);
    EXPECT_NE(screen.rows[1].find("downloading"), std::string::npos) << redraw;
    EXPECT_NE(screen.rows[2].find("pass 1    999/1000    99%"), std::string::npos) << redraw;
    EXPECT_EQ(screen.row, 3u);  // back below the board
    EXPECT_EQ(screen.column, 0u);

    out.str("");
    clock.now += ProgressBoard::kRedrawInterval;
    board.Refresh();  // nothing changed: nothing written
    board.SetProgress(2, 1, 999, 1000);
    EXPECT_EQ(out.str(), "");
}

TEST(ProgressBoardTest, FourThousandChangesOnTwoThousandRowsCostLittleOutput) {
    std::ostringstream out;
    FakeClock clock;
    std::vector<std::string> addresses;
    for (int n = 0; n < 2000; ++n) {
        addresses.push_back("TCPIP0::10.0." + std::to_string(n / 250) + "." +
                            std::to_string(n % 250) + "::5025::SOCKET");
    }
    ProgressBoard board(out, ProgressBoard::Mode::kTerminal, addresses, {}, clock.Reader());
    for (size_t n = 0; n < addresses.size(); ++n) {
        board.SetState(n, "identifying");
        board.SetState(n, "downloading");
        clock.now += std::chrono::milliseconds(10);  // 20 s in all: about 80 redraws
    }
    board.Finish();
    Screen screen;
    screen.Play(out.str());
    EXPECT_NE(screen.rows[1999].find("downloading"), std::string::npos);
    // Each row is written when it first shows and again when its state changes:
    // a few hundred bytes a row, not the whole board at every change.
    EXPECT_LT(out.str().size(), 2000u * 3 * 80);
}

TEST(ProgressBoardTest, DumbTerminalGetsPlainLinesWithoutCursorMovement) {
    std::ostringstream out;
    ProgressBoard board(out, ProgressBoard::Mode::kPlainLines, {"ASRL1", "ASRL\x1b[2J2"});
    board.SetState(1, "downloading");
    for (int lines = 0; lines <= 1000; lines += 250) {
        board.SetProgress(1, 1, lines, 1000);
    }
    board.Finish();
    std::string text = out.str();
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 4);  // the state, then each quarter
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "ASRL?[2J2" + std::string(36 - 9, ' ') + " downloading");
    EXPECT_NE(text.find("pass 1   1000/1000   100%\n"), std::string::npos) << text;
}

TEST(ProgressBoardTest, ModeFollowsTheOutputAndTheTerminalType) {
    EXPECT_EQ(BoardModeFor(true, "xterm-256color"), ProgressBoard::Mode::kTerminal);
    EXPECT_EQ(BoardModeFor(true, "dumb"), ProgressBoard::Mode::kPlainLines);
    EXPECT_EQ(BoardModeFor(true, ""), ProgressBoard::Mode::kPlainLines);
    EXPECT_EQ(BoardModeFor(true, nullptr), ProgressBoard::Mode::kPlainLines);
    EXPECT_EQ(BoardModeFor(false, "xterm"), ProgressBoard::Mode::kJsonLines);
}

TEST(ProgressBoardTest, SmallTerminalShowsTheBusyFirstAndCountsTheRest) {
    std::ostringstream out;
    ProgressBoard board(out, ProgressBoard::Mode::kTerminal,
                        {"ASRL1", "ASRL2", "ASRL3", "TCPIP0::a-very-long-host-name::5025::SOCKET"},
                        {4, 30});
    board.SetState(0, "updated", true);
    board.SetState(3, "downloading");
    board.Finish();
    Screen screen;
    screen.Play(out.str());
    ASSERT_EQ(screen.rows.size(), 4u);  // the terminal's rows, the last one the cursor's
    EXPECT_EQ(screen.rows[0].substr(0, 12), "...very-long");  // busy first, cut from the left
    EXPECT_EQ(screen.rows[1].substr(0, 5), "ASRL2");          // then those waiting
    EXPECT_EQ(screen.rows[2], "... 2 more not shown; 1 of 4 ");
    for (const std::string& line : screen.rows) {
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

// A terminal in UTF-8 takes U+009B as CSI and U+009D as OSC, as it takes ESC [ and ESC ].
TEST(ReportTest, TableShowsNoEightBitControlsFromAnInstrument) {
    JobReport hostile = Report("ASRL1::INSTR", Outcome::kFailed);
    hostile.identificationBefore =
        "V,KR470A \xce\xa9,\xc2\x9b"
        "2J\xc2\x9d"
        "0;owned\xc2\x9c,1.04";
    std::string table = SummaryTable({hostile});
    EXPECT_EQ(table.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(table.find("\xc2\x9d"), std::string::npos);
    EXPECT_NE(table.find("V,KR470A \xce\xa9,?2J?0;owned?,1.04"), std::string::npos) << table;
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
