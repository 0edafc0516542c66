#include "TextFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace osprey {

TextFile::~TextFile() {
    Close();
}

bool TextFile::Open(const char* path) {
    Close();
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    begin_ = end_ = 0;
    return fd_ >= 0;
}

void TextFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    begin_ = end_ = 0;
}

void TextFile::Rewind() {
    if (fd_ >= 0) {
        ::lseek(fd_, 0, SEEK_SET);
    }
    begin_ = end_ = 0;
}

bool TextFile::Fill() {
    if (fd_ < 0) {
        return false;
    }
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, Available());
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        return false;  // full: the caller takes what is there
    }
    for (;;) {
        ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (n > 0) {
            end_ += static_cast<size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return false;  // end of file, or a read error, which ends the file too
    }
}

bool TextFile::AtEnd() {
    return Available() == 0 && !Fill();
}

std::optional<size_t> TextFile::ReadPiece(std::span<char> into) {
    if (into.empty() || AtEnd()) {
        return std::nullopt;
    }
    // A piece never outgrows the buffer, with room for a CR LF after it.
    const size_t limit = std::min(into.size() - 1, kBufferSize - 2);
    size_t length = 0;
    size_t consumed = 0;
    for (;;) {
        const char* start = buffer_.data() + begin_;
        size_t scan = std::min(Available(), limit + 2);
        const void* found = std::memchr(start, '\n', scan);
        if (found != nullptr) {
            size_t lf = static_cast<size_t>(static_cast<const char*>(found) - start);
            size_t text = (lf > 0 && start[lf - 1] == '\r') ? lf - 1 : lf;
            if (text <= limit) {
                length = text;
                consumed = lf + 1;
            } else {
                length = consumed = limit;
            }
            break;
        }
        if (Available() >= limit + 2 || !Fill()) {
            // No line end within reach: a full piece, or the last line.
            length = consumed = std::min(Available(), limit);
            break;
        }
    }
    std::copy_n(buffer_.data() + begin_, length, into.data());
    into[length] = '\0';
    begin_ += consumed;
    return length;
}

}  // namespace osprey
