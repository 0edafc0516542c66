// A text file read line by line, for the update-file reader. Lines end in LF
// or CR LF; the line end is never part of the text. A line longer than the
// caller's piece comes back as several pieces.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>

namespace osprey {

class TextFile {
  public:
    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    bool Open(const char* path);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();
    void Rewind();
    // True when no byte is left to read.
    bool AtEnd();

    // Reads the next piece of a line into `into` (at most into.size() - 1
    // characters) and terminates it with a zero. Returns its length, or
    // nothing when the file has ended. When a piece stops right before a line
    // end, that line end is consumed with it.
    std::optional<size_t> ReadPiece(std::span<char> into);

  private:
    bool Fill();  // reads more bytes; false at the end
    size_t Available() const { return end_ - begin_; }

    static constexpr size_t kBufferSize = 64 * 1024;
    int fd_ = -1;
    std::array<char, kBufferSize> buffer_{};
    size_t begin_ = 0;
    size_t end_ = 0;
};

}  // namespace osprey
