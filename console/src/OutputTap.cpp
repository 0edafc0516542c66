#include "OutputTap.h"

#include <cstdio>

namespace osprey {

OutputTap::OutputTap(FILE* through, Listener listener)
    : through_(through), listener_(std::move(listener)) {
    cookie_io_functions_t functions{};
    functions.write = &OutputTap::Write;
    stream_ = fopencookie(this, "w", functions);
}

OutputTap::~OutputTap() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
}

ssize_t OutputTap::Write(void* self, const char* bytes, size_t size) {
    auto* tap = static_cast<OutputTap*>(self);
    size_t written = std::fwrite(bytes, 1, size, tap->through_);
    // Flushed as the writer flushes the tap, so the screen sees what it would.
    std::fflush(tap->through_);
    tap->listener_(std::string_view(bytes, written));
    return written == size ? static_cast<ssize_t>(size) : -1;
}

}  // namespace osprey
