// What the fuzz targets share: the console pointed away from the terminal,
// with a given text as the user's answers, and the input as a file on disk
// for the update-file reader.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Console.h"

namespace osprey::fuzz {

// The input cut at every `separator` byte; the last piece may be empty.
inline std::vector<std::string> Pieces(const uint8_t* data, size_t size, char separator) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator)
            pieces.emplace_back();
        else
            pieces.back().push_back(static_cast<char>(data[i]));
    }
    return pieces;
}

// Console output goes nowhere; answers come from `answers`.
class QuietConsole {
  public:
    explicit QuietConsole(const std::string& answers = "") {
        input_ = std::tmpfile();
        std::fputs(answers.c_str(), input_);
        std::rewind(input_);
        static FILE* nowhere = std::fopen("/dev/null", "w");
        Console() = {input_, nowhere};
        sleepMilliseconds = [](unsigned) {};
    }
    ~QuietConsole() { std::fclose(input_); }

  private:
    FILE* input_;
};

// The bytes as a file the reader can open by path; removed at the end.
class MemoryFile {
  public:
    MemoryFile(const uint8_t* data, size_t size) {
        fd_ = memfd_create("fuzz-input", MFD_CLOEXEC);
        if (fd_ >= 0 && size > 0 && write(fd_, data, size) != static_cast<ssize_t>(size)) {
            close(fd_);
            fd_ = -1;
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    const char* Path() const { return path_.c_str(); }

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace osprey::fuzz
