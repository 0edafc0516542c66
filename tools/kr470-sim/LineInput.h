// Bytes arriving for the instrument, cut into command lines. A line ends at
// LF, or where a message ends without one (VXI-11 END); a CR right before its
// end is dropped, as a SCPI instrument takes CR LF for LF. What waits for its
// end is held to the longest line the instrument takes: the rest of a longer
// line is thrown away as it comes and the line is dropped whole, so a peer
// that never ends a line costs neither memory nor a rescan of what came.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace kr470 {

// Far above the longest command: a record of 255 bytes is 514 characters,
// "dlo? \"" and "\" " around it make 522.
inline constexpr size_t kLongestLine = 1024;

class LineInput {
  public:
    explicit LineInput(size_t longest = kLongestLine) : longest_(longest) {}

    // Takes bytes; the lines they end wait for Next.
    void Append(std::string_view bytes);
    // The message ended (END): what came since the last line end is a line.
    void EndMessage();
    // The next whole line, oldest first; false when none waits.
    bool Next(std::string& line);
    // Lines dropped for being too long so far.
    size_t Dropped() const { return dropped_; }
    // Forgets everything received (a device clear).
    void Clear();

  private:
    void EndLine();

    size_t longest_;
    std::string partial_;  // the line under way, at most `longest_` bytes
    bool overlong_ = false;
    size_t dropped_ = 0;
    std::deque<std::string> lines_;
};

}  // namespace kr470
