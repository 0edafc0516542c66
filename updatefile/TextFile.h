// A text file read line by line, for the update-file reader. Lines end in LF
// or CR LF; the line end is never part of the text. A line longer than the
// caller's piece comes back as several pieces.
//
// The update-file builder's check reads a text it already holds through the
// same reader (OpenText), so it splits lines as the programs do.
//
// The whole file is read into memory when it is opened, so every later read,
// the check of the code section and each download pass alike, sees the same
// bytes even if the file is changed on disk meanwhile. Only a regular file of
// at most kLargestUpdateFile bytes is read; a UTF-8 byte-order mark at its
// start is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace osprey {

// Far above any real update file (a few megabytes).
inline constexpr uint64_t kLargestUpdateFile = 64u * 1024 * 1024;

class TextFile {
  public:
    bool Open(const char* path);
    // Serves `text` as if it had been read from a file.
    void OpenText(std::string text);
    bool IsOpen() const { return open_; }
    void Close();
    void Rewind() {
        position_ = start_;
        lineNumber_ = 0;
        pieceEndedLine_ = true;
    }
    // True when no byte is left to read.
    bool AtEnd() const { return position_ >= text_.size(); }
    // Why the last Open failed for a file that exists (a directory, a FIFO, a
    // device, too large), or empty when it failed because the file is missing
    // or could not be opened at all.
    const std::string& Refusal() const { return refusal_; }

    // Reads the next piece of a line into `into` (at most into.size() - 1
    // characters) and terminates it with a zero. Returns its length, or
    // nothing when the file has ended. When a piece stops right before a line
    // end, that line end is consumed with it.
    std::optional<size_t> ReadPiece(std::span<char> into);
    // True when the last piece read ended its line (false: more of it follows).
    bool PieceEndedLine() const { return pieceEndedLine_; }
    // The line (from 1) the last piece came from; 0 before the first piece.
    size_t LineNumber() const { return lineNumber_; }

  private:
    void ServeFromStart();
    std::string text_;
    size_t start_ = 0;  // after a byte-order mark
    size_t position_ = 0;
    size_t lineNumber_ = 0;
    bool open_ = false;
    bool pieceEndedLine_ = true;
    std::string refusal_;
};

// The reason a path cannot serve as an update file, without reading it: empty
// when it is a regular file of a size the reader takes, or does not exist.
std::string UpdateFileRefusal(const char* path);

}  // namespace osprey
