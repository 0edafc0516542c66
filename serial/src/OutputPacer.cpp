#include "OutputPacer.h"

#include <algorithm>

namespace serialio {

void OutputPacer::SetRate(uint32_t baud, unsigned frameBits) {
    nsPerByte_ = baud == 0 ? 0 : uint64_t{frameBits} * 1000000000u / baud;
}

void OutputPacer::Sent(size_t bytes, uint64_t nowNs) {
    lineFreeAt_ = std::max(lineFreeAt_, nowNs) + bytes * nsPerByte_;
}

void OutputPacer::Drained(uint64_t nowNs) {
    lineFreeAt_ = std::min(lineFreeAt_, nowNs);
}

size_t OutputPacer::Pending(uint64_t nowNs) const {
    if (nsPerByte_ == 0 || lineFreeAt_ <= nowNs) {
        return 0;
    }
    // Rounded up: a byte part-way out still occupies the line.
    return static_cast<size_t>((lineFreeAt_ - nowNs + nsPerByte_ - 1) / nsPerByte_);
}

uint32_t OutputPacer::MillisecondsFor(size_t bytes) const {
    uint64_t ms = (bytes * nsPerByte_ + 999999u) / 1000000u;
    return static_cast<uint32_t>(std::clamp<uint64_t>(ms, 1, 0xffffffffu));
}

}  // namespace serialio
