#include "TextFile.h"

#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "RegularFile.h"

namespace osprey {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

bool TextFile::Open(const char* path) {
    Close();
    std::string problem;
    switch (fileio::ReadRegularFile(path, kLargestUpdateFile, text_, problem)) {
        case fileio::ReadStatus::kRead:
            break;
        case fileio::ReadStatus::kMissing:
        case fileio::ReadStatus::kUnreadable:
            return false;  // the caller's plain message says enough
        case fileio::ReadStatus::kRefused:
            refusal_ = problem;
            return false;
    }
    ServeFromStart();
    return true;
}

void TextFile::OpenText(std::string text) {
    Close();
    text_ = std::move(text);
    ServeFromStart();
}

void TextFile::ServeFromStart() {
    start_ = std::string_view(text_).starts_with(kByteOrderMark) ? 3 : 0;
    open_ = true;
    Rewind();
}

void TextFile::Close() {
    text_.clear();
    text_.shrink_to_fit();
    start_ = 0;
    Rewind();
    open_ = false;
    refusal_.clear();
}

std::optional<size_t> TextFile::ReadPiece(std::span<char> into) {
    if (into.empty() || AtEnd()) {
        return std::nullopt;
    }
    lineNumber_ += pieceEndedLine_ ? 1 : 0;
    const size_t limit = into.size() - 1;
    std::string_view rest = std::string_view(text_).substr(position_);
    // Look as far as a full piece and its CR LF.
    size_t lf = rest.substr(0, std::min(rest.size(), limit + 2)).find('\n');
    size_t length = 0;
    size_t consumed = 0;
    if (lf != std::string_view::npos) {
        size_t line = (lf > 0 && rest[lf - 1] == '\r') ? lf - 1 : lf;
        length = std::min(line, limit);
        consumed = line <= limit ? lf + 1 : limit;
        pieceEndedLine_ = line <= limit;
    } else {
        length = consumed = std::min(rest.size(), limit);
        pieceEndedLine_ = rest.size() <= limit;
    }
    std::copy_n(rest.data(), length, into.data());
    into[length] = '\0';
    position_ += consumed;
    return length;
}

std::string UpdateFileRefusal(const char* path) {
    std::string problem;
    fileio::ReadStatus status = fileio::ReadStatus::kRead;
    int fd = fileio::OpenRegularFile(path, kLargestUpdateFile, problem, status);
    if (fd >= 0) {
        ::close(fd);
    }
    return status == fileio::ReadStatus::kRefused ? problem : std::string();
}

}  // namespace osprey
