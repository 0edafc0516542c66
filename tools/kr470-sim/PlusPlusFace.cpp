#include "PlusPlusFace.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace kr470 {
namespace {

constexpr char kEscape = 27;
constexpr int kFirstSecondary = 96;  // "++addr" carries secondary n as 96 + n
constexpr int kHighestAddress = 30;
constexpr const char* kVersion = "kr470-sim \"++\" GPIB controller, version 1.0\n";

// A whole decimal number, or -1.
int Number(const std::string& text) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos)
        return -1;
    return std::atoi(text.c_str());
}

std::string Terminator(int eos) {
    switch (eos) {
        case 0:
            return "\r\n";
        case 1:
            return "\r";
        case 2:
            return "\n";
        default:
            return "";
    }
}

}  // namespace

PlusPlusFace::PlusPlusFace(GpibFaceSettings settings, DeliverLine deliver)
    : settings_(settings), deliver_(std::move(deliver)) {}

FaceOutput PlusPlusFace::Feed(std::string_view bytes, HostLine& from) {
    FaceOutput out;
    for (char c : bytes) {
        if (silent_ || out.hangUp)
            break;
        TakeByte(c, from, out);
    }
    return out;
}

void PlusPlusFace::TakeByte(char c, HostLine& from, FaceOutput& out) {
    if (from.escaped) {
        from.escaped = false;
        Keep(c, from);
        return;
    }
    if (c == kEscape) {
        from.escaped = true;
        return;
    }
    if (c == '\r' || c == '\n') {
        EndOfLine(from, out);
        return;
    }
    if (c == '+' && from.leadingPlus == from.text.size())
        ++from.leadingPlus;
    Keep(c, from);
}

void PlusPlusFace::Keep(char c, HostLine& from) {
    if (from.overlong)
        return;
    from.text.push_back(c);
    if (from.text.size() > kLongestLine) {
        from.overlong = true;
        from.text.clear();
    }
}

void PlusPlusFace::EndOfLine(HostLine& from, FaceOutput& out) {
    std::string line;
    line.swap(from.text);
    const bool command = from.leadingPlus >= 2;
    from.leadingPlus = 0;
    if (from.overlong) {
        from.overlong = false;
        std::fprintf(stderr, "kr470-sim: a line longer than %zu bytes was dropped\n", kLongestLine);
        return;
    }
    if (command) {
        Command(line.substr(2), out);
    } else if (!line.empty()) {
        Message(line, out);
    }
}

void PlusPlusFace::Command(const std::string& text, FaceOutput& out) {
    std::istringstream words(text);
    std::string name, argument;
    words >> name;
    std::getline(words >> std::ws, argument);
    if (name == "read") {
        Talk(out);
    } else if (name == "addr") {
        Addressing(argument, out);
    } else if (name == "auto") {
        Setting(argument, autoRead_, 1, out);
    } else if (name == "eoi") {
        Setting(argument, eoi_, 1, out);
    } else if (name == "eos") {
        Setting(argument, eos_, 3, out);
    } else if (name == "mode") {
        Setting(argument, mode_, 1, out);
    } else if (name == "read_tmo_ms") {
        Setting(argument, readTimeoutMs_, 3000, out);
    } else if (name == "ver") {
        out.toHost += kVersion;
    } else if (name == "clr" && InstrumentAddressed()) {
        input_.Clear();  // a selected device clear empties its buffers
        replies_.clear();
    }
    // "++ifc" takes the bus, which this controller always holds; other
    // commands are ignored, as the hardware does.
}

void PlusPlusFace::Setting(const std::string& argument, int& value, int highest, FaceOutput& out) {
    if (argument.empty()) {
        out.toHost += std::to_string(value) + "\n";
        return;
    }
    int number = Number(argument);
    if (number >= 0 && number <= highest)
        value = number;
}

void PlusPlusFace::Addressing(const std::string& argument, FaceOutput& out) {
    if (argument.empty()) {
        out.toHost += std::to_string(primary_) +
                      (secondary_ >= 0 ? " " + std::to_string(kFirstSecondary + secondary_) : "") +
                      "\n";
        return;
    }
    std::istringstream words(argument);
    std::string first, second;
    words >> first >> second;
    int primary = Number(first);
    int secondary = second.empty() ? kFirstSecondary - 1 : Number(second);
    if (primary < 0 || primary > kHighestAddress || secondary < kFirstSecondary - 1 ||
        secondary > kFirstSecondary + kHighestAddress)
        return;
    primary_ = primary;
    secondary_ = secondary - kFirstSecondary;
}

bool PlusPlusFace::InstrumentAddressed() const {
    return primary_ == settings_.primary && secondary_ == settings_.secondary;
}

void PlusPlusFace::Message(const std::string& data, FaceOutput& out) {
    if (mode_ != 1 || !InstrumentAddressed())
        return;  // no listener at that address: the bytes go nowhere
    input_.Append(data + Terminator(eos_));
    std::string line;
    while (!out.hangUp && input_.Next(line)) {
        Response response = deliver_(line);
        out.hangUp = response.hangUp;
        if (response.reply && !response.hangUp && replies_.size() < kMostUnreadReplies)
            replies_.push_back(*response.reply + "\n");
    }
    if (autoRead_ == 1 && !out.hangUp)
        Talk(out);
}

// The addressed instrument talks, if it has something to say. With nothing,
// the controller's read ends at its time-out with nothing sent; nothing can
// come later here, since the instrument only answers what it was sent.
void PlusPlusFace::Talk(FaceOutput& out) {
    if (settings_.answeredReads >= 0 && readsAnswered_ >= settings_.answeredReads) {
        silent_ = true;
        return;
    }
    ++readsAnswered_;
    if (InstrumentAddressed() && !replies_.empty()) {
        out.toHost += replies_.front();
        replies_.pop_front();
    }
}

}  // namespace kr470
