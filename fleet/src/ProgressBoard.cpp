#include "ProgressBoard.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "JsonLine.h"
#include "Printable.h"

namespace fleet {
namespace {

constexpr size_t kAddressWidth = 36;

std::string Fitted(const std::string& text, size_t width) {
    if (text.size() <= width) {
        return text + std::string(width - text.size(), ' ');
    }
    return "..." + text.substr(text.size() - (width - 3));
}

}  // namespace

ProgressBoard::Mode BoardModeFor(bool onTerminal, const char* term) {
    if (!onTerminal) {
        return ProgressBoard::Mode::kJsonLines;
    }
    const bool dumb = term == nullptr || *term == '\0' || std::string_view(term) == "dumb";
    return dumb ? ProgressBoard::Mode::kPlainLines : ProgressBoard::Mode::kTerminal;
}

ProgressBoard::ProgressBoard(std::ostream& out, Mode mode,
                             const std::vector<std::string>& addresses, BoardSize size, Clock clock)
    : out_(out), mode_(mode), size_(size), clock_(std::move(clock)) {
    for (const std::string& address : addresses) {
        lines_.emplace_back().address = address;
    }
}

void ProgressBoard::SetState(size_t row, const std::string& state, bool done) {
    std::lock_guard lock(mutex_);
    if (row >= lines_.size() || lines_[row].state == state) {
        return;
    }
    lines_[row].state = state;
    lines_[row].done = done;
    Changed(row, true);
}

void ProgressBoard::SetProgress(size_t row, int pass, int lines, int maximum) {
    std::lock_guard lock(mutex_);
    if (row >= lines_.size()) {
        return;
    }
    Line& line = lines_[row];
    line.pass = pass;
    line.lines = lines;
    line.maximum = maximum;
    Changed(row, false);
}

void ProgressBoard::Refresh() {
    std::lock_guard lock(mutex_);
    if (mode_ == Mode::kTerminal && pending_) {
        DrawIfDue();
    }
}

void ProgressBoard::Finish() {
    std::lock_guard lock(mutex_);
    if (mode_ == Mode::kTerminal) {
        Draw();
    }
    out_.flush();
}

void ProgressBoard::Changed(size_t row, bool always) {
    if (mode_ != Mode::kTerminal) {
        Line& line = lines_[row];
        int tenth = line.maximum > 0 ? line.lines * 10 / line.maximum : 0;
        if (always || tenth != line.tenth) {
            line.tenth = tenth;
            WriteLine(line);
        }
        return;
    }
    pending_ = true;
    DrawIfDue();
}

void ProgressBoard::DrawIfDue() {
    auto now = clock_();
    if (shown_.empty() || now - lastDraw_ >= kRedrawInterval) {
        lastDraw_ = now;
        Draw();
    }
}

void ProgressBoard::WriteLine(const Line& line) {
    if (mode_ == Mode::kPlainLines) {
        std::string text = Text(line);
        text.erase(text.find_last_not_of(' ') + 1);  // the padding is for a board, not a line
        out_ << text << '\n' << std::flush;
        return;
    }
    fileio::JsonLine json;
    json.Add("address", line.address);
    json.Add("state", line.state);
    json.Add("pass", line.pass);
    json.Add("lines", line.lines);
    json.Add("of", line.maximum);
    out_ << json.Text() << '\n' << std::flush;
}

std::string ProgressBoard::Text(const Line& line) const {
    std::string text =
        Fitted(Printable(line.address), kAddressWidth) + " " + Fitted(line.state, 12);
    if (line.maximum > 0) {
        std::array<char, 64> figures{};
        std::snprintf(figures.data(), figures.size(), " pass %d %6d/%-6d %3d%%", line.pass,
                      line.lines, line.maximum, line.lines * 100 / line.maximum);
        text += figures.data();
    }
    return text;
}

std::vector<std::string> ProgressBoard::Visible() const {
    // One row is left free: the cursor stays below the board.
    const size_t room = size_.rows > 1 ? size_.rows - 1 : lines_.size();
    std::vector<std::string> texts;
    if (lines_.size() <= room) {
        for (const Line& line : lines_) {
            texts.push_back(Text(line));
        }
        return texts;
    }
    // Busy lines first, then those waiting, then those done; the last row counts the rest.
    auto rank = [](const Line& line) { return line.done ? 2 : line.state == "waiting" ? 1 : 0; };
    for (int wanted = 0; wanted <= 2; ++wanted) {
        for (const Line& line : lines_) {
            if (rank(line) == wanted && texts.size() + 1 < room) {
                texts.push_back(Text(line));
            }
        }
    }
    size_t done = 0;
    for (const Line& line : lines_) {
        done += rank(line) == 2 ? 1 : 0;
    }
    texts.push_back("... " + std::to_string(lines_.size() - texts.size()) + " more not shown; " +
                    std::to_string(done) + " of " + std::to_string(lines_.size()) + " done");
    return texts;
}

// Rewrites only the rows whose text changed since the last draw, then puts
// the cursor back below the board.
void ProgressBoard::Draw() {
    std::vector<std::string> texts = Visible();
    for (std::string& text : texts) {
        if (size_.columns > 1 && text.size() >= size_.columns) {
            text.resize(size_.columns - 1);  // a wrapped line would throw the redraw off
        }
    }
    bool written = false;
    for (size_t row = 0; row < texts.size(); ++row) {
        if (row < shown_.size()) {
            if (texts[row] != shown_[row]) {
                MoveTo(row);
                out_ << "\r\x1b[K" << texts[row];
                shown_[row] = texts[row];
                written = true;
            }
            continue;
        }
        MoveTo(shown_.size());  // a new row below the board
        out_ << "\r\x1b[K" << texts[row] << '\n';
        shown_.push_back(texts[row]);
        cursorRow_ = shown_.size();
        written = true;
    }
    if (written) {
        MoveTo(shown_.size());
        out_ << '\r' << std::flush;
    }
    pending_ = false;
}

void ProgressBoard::MoveTo(size_t row) {
    if (row < cursorRow_) {
        out_ << "\x1b[" << cursorRow_ - row << 'A';
    } else if (row > cursorRow_) {
        out_ << "\x1b[" << row - cursorRow_ << 'B';
    }
    cursorRow_ = row;
}

}  // namespace fleet
