#include "ProgressBoard.h"

#include <array>
#include <cstdio>

#include "JsonLine.h"

namespace fleet {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr size_t kAddressWidth = 44;

std::string Fitted(const std::string& text, size_t width) {
    if (text.size() <= width) {
        return text + std::string(width - text.size(), ' ');
    }
    return "..." + text.substr(text.size() - (width - 3));
}

}  // namespace

ProgressBoard::ProgressBoard(std::ostream& out, Mode mode,
                             const std::vector<std::string>& addresses)
    : out_(out), mode_(mode) {
    for (const std::string& address : addresses) {
        lines_.emplace_back().address = address;
    }
}

void ProgressBoard::SetState(size_t row, const std::string& state) {
    std::lock_guard lock(mutex_);
    if (row >= lines_.size() || lines_[row].state == state) {
        return;
    }
    lines_[row].state = state;
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

// Moves up over the board drawn last and writes every line again.
void ProgressBoard::Draw() {
    if (drawn_ && !lines_.empty()) {
        out_ << "\x1b[" << lines_.size() << "A";
    }
    for (const Line& line : lines_) {
        out_ << "\r\x1b[K" << Text(line) << '\n';
    }
    out_ << std::flush;
    drawn_ = true;
}

}  // namespace fleet
