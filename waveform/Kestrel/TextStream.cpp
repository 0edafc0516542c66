#include "TextStream.h"

#include "RuntimeError.h"

namespace kestrel {

std::unique_ptr<TextStream> TextStream::OpenTextFile(const std::string& path) {
    auto stream = std::make_unique<TextStream>();
    stream->file_.open(path, std::ios::binary);
    if (!stream->file_) {
        throw RuntimeError::FileNotFound(path);
    }
    return stream;
}

bool TextStream::AtEndOfStream() {
    return !file_.is_open() || file_.peek() == std::char_traits<char>::eof();
}

std::string TextStream::ReadLine() {
    if (AtEndOfStream()) {
        throw RuntimeError::PastEndOfFile();
    }
    std::string line;
    std::getline(file_, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace kestrel
