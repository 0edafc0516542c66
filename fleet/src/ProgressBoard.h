// The progress of every instrument, one line each: redrawn in place on a
// terminal, or one JSON object a line (a change of state, and every tenth of
// a pass) for a program reading the output. Shared by the update threads.
#pragma once

#include <chrono>
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
    enum class Mode { kTerminal, kJsonLines };
    ProgressBoard(std::ostream& out, Mode mode, const std::vector<std::string>& addresses,
                  BoardSize size = {});

    // `done`: the instrument's last state, its result.
    void SetState(size_t row, const std::string& state, bool done = false);
    // `lines` of `maximum` sent in pass `pass`.
    void SetProgress(size_t row, int pass, int lines, int maximum);
    // Draws the last state of every line (a terminal's board is drawn at
    // most ten times a second while the updates run).
    void Finish();

  private:
    struct Line {
        std::string address, state = "waiting";
        int pass = 0, lines = 0, maximum = 0;
        int tenth = -1;  // the last tenth of the pass written as JSON
        bool done = false;
    };
    void Changed(size_t row, bool always);
    void Draw();
    // The lines to show, busiest first when they do not all fit.
    std::vector<std::string> Visible() const;
    void WriteJson(const Line& line);
    std::string Text(const Line& line) const;

    std::mutex mutex_;
    std::ostream& out_;
    Mode mode_;
    std::vector<Line> lines_;
    BoardSize size_;
    size_t drawnLines_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace fleet
