#include "OutputPacer.h"

#include <algorithm>

namespace serialio {
namespace {

// Never less (a guard for a queue that fills at no known rate)...
constexpr uint64_t kShortestWaitNs = 50000;
// ...and, while more than half the queue is out, up to this long for more
// room: short beside the half queue's time at any rate, long beside a wake-up.
constexpr uint64_t kGatheringWaitNs = 250000;

}  // namespace

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

uint64_t OutputPacer::NanosecondsUntilRoom(size_t pending, size_t wanted, size_t capacity) const {
    size_t excess = pending + wanted > capacity ? pending + wanted - capacity : 1;
    size_t aboveHalf = pending - std::min(pending, capacity / 2);
    uint64_t gathering = std::min(aboveHalf * nsPerByte_, kGatheringWaitNs);
    return std::max({excess * nsPerByte_, gathering, kShortestWaitNs});
}

}  // namespace serialio
