// The instrument's line input on a serial line or a socket: bytes into
// command lines. A line left unfinished for longer than its time-out (the
// sender stopped in the middle of a command, as an interrupted update does)
// is dropped when the next bytes come, so the next session's first command is
// read as it was sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kr470 {

class LineInput {
  public:
    explicit LineInput(int64_t staleAfterMs = 1000) : staleAfterMs_(staleAfterMs) {}

    // Bytes that arrived at `nowMs` (any steady clock); returns the lines they
    // complete, without their LF.
    std::vector<std::string> Feed(std::string_view bytes, int64_t nowMs);

    // The unfinished line dropped by the last Feed, if any.
    const std::string& Dropped() const { return dropped_; }

  private:
    int64_t staleAfterMs_;
    std::string pending_;
    std::string dropped_;
    int64_t lastMs_ = 0;
};

}  // namespace kr470
