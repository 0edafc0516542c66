#include "LineInput.h"

#include <cstdio>

namespace kr470 {

void LineInput::Append(std::string_view bytes) {
    for (char c : bytes) {
        if (c == '\n') {
            EndLine();
        } else if (!overlong_) {
            partial_.push_back(c);
            // A CR may follow the longest line: it is dropped at the LF.
            const bool crAfterLongest = partial_.size() == longest_ + 1 && c == '\r';
            if (partial_.size() > longest_ && !crAfterLongest) {
                overlong_ = true;
                partial_.clear();
                partial_.shrink_to_fit();
            }
        }
    }
}

void LineInput::Append(std::string_view bytes, int64_t nowMs) {
    droppedIdle_.clear();
    if ((!partial_.empty() || overlong_) && nowMs - lastMs_ > staleAfterMs_) {
        droppedIdle_.swap(partial_);
        overlong_ = false;
    }
    lastMs_ = nowMs;
    Append(bytes);
}

void LineInput::EndMessage() {
    if (!partial_.empty() || overlong_)
        EndLine();
}

void LineInput::EndLine() {
    if (overlong_) {
        overlong_ = false;
        std::fprintf(stderr, "kr470-sim: a line longer than %zu bytes was dropped\n", longest_);
        return;
    }
    if (!partial_.empty() && partial_.back() == '\r')
        partial_.pop_back();
    lines_.push_back(std::move(partial_));
    partial_.clear();
}

bool LineInput::Next(std::string& line) {
    if (lines_.empty())
        return false;
    line = std::move(lines_.front());
    lines_.pop_front();
    return true;
}

void LineInput::Clear() {
    partial_.clear();
    overlong_ = false;
    lines_.clear();
}

}  // namespace kr470
