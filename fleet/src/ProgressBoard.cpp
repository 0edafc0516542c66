#include "ProgressBoard.h"

#include <array>
#include <cstdio>

#include "JsonLine.h"

namespace fleet {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr size_t kAddressWidth = 36;

std::string Fitted(const std::string& text, size_t width) {
    if (text.size() <= width) {
        return text + std::string(width - text.size(), ' ');
    }
    return "..." + text.substr(text.size() - (width - 3));
}

}  // namespace

ProgressBoard::ProgressBoard(std::ostream& out, Mode mode,
                             const std::vector<std::string>& addresses, BoardSize size)
    : out_(out), mode_(mode), size_(size) {
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

void ProgressBoard::Finish() {
    std::lock_guard lock(mutex_);
    if (mode_ == Mode::kTerminal) {
        Draw();
    }
    out_.flush();
}

void ProgressBoard::Changed(size_t row, bool always) {
    if (mode_ == Mode::kJsonLines) {
        Line& line = lines_[row];
        int tenth = line.maximum > 0 ? line.lines * 10 / line.maximum : 0;
        if (always || tenth != line.tenth) {
            line.tenth = tenth;
            WriteJson(line);
        }
        return;
    }
    auto now = std::chrono::steady_clock::now();
    if (always || now - lastDraw_ >= kRedrawInterval) {
        lastDraw_ = now;
        Draw();
    }
}

void ProgressBoard::WriteJson(const Line& line) {
    osprey::JsonLine json;
    json.Add("address", line.address);
    json.Add("state", line.state);
    json.Add("pass", line.pass);
    json.Add("lines", line.lines);
    json.Add("of", line.maximum);
    out_ << json.Text() << '\n' << std::flush;
}

std::string ProgressBoard::Text(const Line& line) const {
    std::string text = Fitted(line.address, kAddressWidth) + " " + Fitted(line.state, 12);
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

// Moves up over the board drawn last and writes every line again.
void ProgressBoard::Draw() {
    if (drawnLines_ > 0) {
        out_ << "\x1b[" << drawnLines_ << "A";
    }
    std::vector<std::string> texts = Visible();
    for (std::string& text : texts) {
        if (size_.columns > 1 && text.size() >= size_.columns) {
            text.resize(size_.columns - 1);  // a wrapped line would throw the redraw off
        }
        out_ << "\r\x1b[K" << text << '\n';
    }
    out_ << std::flush;
    drawnLines_ = texts.size();
}

}  // namespace fleet
