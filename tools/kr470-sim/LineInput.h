// Bytes arriving for the instrument, cut into command lines. A line ends at
// LF, or where a message ends without one (VXI-11 END); a CR right before its
// end is dropped, as a SCPI instrument takes CR LF for LF. What waits for its
// end is held to the longest line the instrument takes: the rest of a longer
// line is thrown away as it comes and the line is dropped whole, so a peer
// that never ends a line costs neither memory nor a rescan of what came.
// On a serial line or a socket, a line left unfinished for longer than its
// time-out (the sender stopped in the middle of a command, as an interrupted
// update does) is dropped when the next bytes come, so the next session's
// first command is read as it was sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace kr470 {

// Far above the longest command: a record of 255 bytes is 514 characters,
// "dlo? \"" and "\" " around it make 522.
inline constexpr size_t kLongestLine = 1024;

class LineInput {
  public:
    explicit LineInput(int64_t staleAfterMs = 1000, size_t longest = kLongestLine)
        : staleAfterMs_(staleAfterMs), longest_(longest) {}

    // Takes bytes; the lines they end wait for Next.
    void Append(std::string_view bytes);
    // The same for bytes that arrived at `nowMs` (any steady clock), after
    // dropping an unfinished line left idle past the time-out.
    void Append(std::string_view bytes, int64_t nowMs);
    // The message ended (END): what came since the last line end is a line.
    void EndMessage();
    // The next whole line, oldest first; false when none waits.
    bool Next(std::string& line);
    // The unfinished line the last timed Append dropped, if any.
    const std::string& DroppedIdle() const { return droppedIdle_; }
    // Forgets everything received (a device clear).
    void Clear();

  private:
    void EndLine();

    int64_t staleAfterMs_;
    size_t longest_;
    std::string partial_;  // the line under way, at most `longest_` bytes
    bool overlong_ = false;
    int64_t lastMs_ = 0;
    std::string droppedIdle_;
    std::deque<std::string> lines_;
};

}  // namespace kr470
