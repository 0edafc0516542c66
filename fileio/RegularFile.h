// Opening and reading a file that must be a regular file: a FIFO, a device or
// a directory is refused before a byte is read, and nothing blocks in open.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace fileio {

// What a file that is not a regular one is, for messages: "a FIFO", "a directory".
const char* FileKind(mode_t mode);

enum class ReadStatus {
    kRead,        // the whole file is in `text`
    kMissing,     // there is no such file
    kUnreadable,  // it could not be opened or read (permissions, I/O); `problem` says why
    kRefused,     // it is not a regular file, or too large; `problem` says why
};

// Opens `path` for reading without blocking and without making it the
// controlling terminal, then insists on a regular file of at most `maxBytes`.
// Returns the descriptor, or -1 with `problem` (a sentence that names the
// path) and `status` saying which kind of failure it was.
int OpenRegularFile(const std::string& path, uint64_t maxBytes, std::string& problem,
                    ReadStatus& status);

// Reads the whole regular file at `path`, at most `maxBytes`; a file that
// grows past the bound while being read is refused too.
ReadStatus ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& text,
                           std::string& problem);

// True when `path` is the null device (/dev/null or a link to it): a file
// that is always empty, which a caller may take as "no file".
bool IsNullDevice(const std::string& path);

}  // namespace fileio
