#include "TextStream.h"

#include <string_view>

#include "RegularFile.h"
#include "RuntimeError.h"

namespace kestrel {

std::unique_ptr<TextStream> TextStream::OpenTextFile(const std::string& path) {
    auto stream = std::make_unique<TextStream>();
    std::string problem;
    switch (fileio::ReadRegularFile(path, kLargestTextFile, stream->text_, problem)) {
        case fileio::ReadStatus::kRead:
            break;
        case fileio::ReadStatus::kMissing:
            throw RuntimeError::FileNotFound(path);
        case fileio::ReadStatus::kUnreadable:
        case fileio::ReadStatus::kRefused:
            throw RuntimeError::FileAccess(problem);
    }
    if (std::string_view(stream->text_).starts_with("\xEF\xBB\xBF")) {
        stream->position_ = 3;
    }
    return stream;
}

void TextStream::Close() {
    text_.clear();
    text_.shrink_to_fit();
    position_ = 0;
}

std::string TextStream::ReadLine() {
    if (AtEndOfStream()) {
        throw RuntimeError::PastEndOfFile();
    }
    size_t lf = text_.find('\n', position_);
    size_t end = lf == std::string::npos ? text_.size() : lf;
    std::string line = text_.substr(position_, end - position_);
    position_ = lf == std::string::npos ? text_.size() : lf + 1;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace kestrel
