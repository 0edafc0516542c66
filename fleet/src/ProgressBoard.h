// The progress of every instrument, one line each: redrawn in place on a
// terminal, plain lines on a terminal that cannot move its cursor
// (TERM=dumb), or one JSON object a line for a program reading the output
// (plain and JSON lines at a change of state and every tenth of a pass).
// Shared by the update threads.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace fleet {

// A terminal's size bounds the board (0: unbounded): every line is cut to the
// width, and when the instruments outnumber the rows, the busy ones are shown
// first and the last line counts the rest.
struct BoardSize {
    size_t rows = 0, columns = 0;
};

class ProgressBoard {
  public:
    enum class Mode { kTerminal, kPlainLines, kJsonLines };
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // A terminal is redrawn at most this often; changes in between wait for the next redraw.
    static constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

    ProgressBoard(std::ostream& out, Mode mode, const std::vector<std::string>& addresses,
                  BoardSize size = {}, Clock clock = std::chrono::steady_clock::now);

    // `done`: the instrument's last state, its result.
    void SetState(size_t row, const std::string& state, bool done = false);
    // `lines` of `maximum` sent in pass `pass`.
    void SetProgress(size_t row, int pass, int lines, int maximum);
    // Draws the changes that are waiting, once the redraw interval has passed
    // (for a caller that wakes now and then while the updates run).
    void Refresh();
    // Draws the last state of every line.
    void Finish();

  private:
    struct Line {
        std::string address, state = "waiting";
        int pass = 0, lines = 0, maximum = 0;
        int tenth = -1;  // the last tenth of the pass written as a line
        bool done = false;
    };
    void Changed(size_t row, bool always);
    void DrawIfDue();
    void Draw();
    void MoveTo(size_t row);
    // The lines to show, busiest first when they do not all fit.
    std::vector<std::string> Visible() const;
    void WriteLine(const Line& line);
    std::string Text(const Line& line) const;

    std::mutex mutex_;
    std::ostream& out_;
    Mode mode_;
    std::vector<Line> lines_;
    BoardSize size_;
    Clock clock_;
    std::vector<std::string> shown_;  // what the terminal shows, row by row
    size_t cursorRow_ = 0;            // the cursor's row (shown_.size(): below the board)
    bool pending_ = false;            // a change not drawn yet
    std::chrono::steady_clock::time_point lastDraw_{};
};

// JSON lines when standard output is no terminal; plain lines on a terminal
// that cannot move its cursor (`term` "dumb", empty or unset).
ProgressBoard::Mode BoardModeFor(bool onTerminal, const char* term);

}  // namespace fleet
