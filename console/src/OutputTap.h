// A stdio stream that passes everything written to it on to another stream,
// byte for byte, and shows each piece to a listener on the way.
#pragma once

#include <cstdio>
#include <functional>
#include <string_view>

namespace osprey {

class OutputTap {
  public:
    using Listener = std::function<void(std::string_view)>;
    OutputTap(FILE* through, Listener listener);
    ~OutputTap();  // flushes and closes the tap, not the stream behind it
    OutputTap(const OutputTap&) = delete;
    OutputTap& operator=(const OutputTap&) = delete;

    // The stream to write to; null when the tap could not be made.
    FILE* Stream() const { return stream_; }

  private:
    static ssize_t Write(void* self, const char* bytes, size_t size);

    FILE* through_;
    Listener listener_;
    FILE* stream_ = nullptr;
};

}  // namespace osprey
