// The text stream the update-file routines read: open a file by path, read
// whole lines without their LF or CR LF, report the end, close. Reading past
// the end is a run-time error.
//
// Only a regular file is opened (never blocking in open), at most
// kLargestTextFile bytes, read whole at the open; a UTF-8 byte-order mark at
// its start is skipped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

// Far above any real update file (a few megabytes).
inline constexpr uint64_t kLargestTextFile = 64u * 1024 * 1024;

class TextStream {
  public:
    // Throws RuntimeError when the file cannot be opened or is no regular file.
    static std::unique_ptr<TextStream> OpenTextFile(const std::string& path);
    std::string ReadLine();
    bool AtEndOfStream() const { return position_ >= text_.size(); }
    void Close();

  private:
    std::string text_;
    size_t position_ = 0;
};

}  // namespace kestrel
