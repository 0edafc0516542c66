// How many written bytes are still on their way out, as a line of the set
// rate drains them. A UART's driver can say how much it still holds; a
// pseudo-terminal cannot, and its reader may be paced like a real line, so the
// writer keeps its own count and takes the larger of the two.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serialio {

class OutputPacer {
  public:
    void SetRate(uint32_t baud, unsigned frameBits);
    // `bytes` handed to the driver at `nowNs` (a monotonic clock).
    void Sent(size_t bytes, uint64_t nowNs);
    // The other end answered: it has read everything sent before.
    void Drained(uint64_t nowNs);
    size_t Pending(uint64_t nowNs) const;
    // Milliseconds the line needs for `bytes`, at least 1.
    uint32_t MillisecondsFor(size_t bytes) const;
    // How long a writer with `pending` bytes still out waits before it adds
    // `wanted` more to a queue of `capacity`: until they fit, or a little
    // longer where that comes soon, so the pieces that follow go out together
    // rather than each after a wake-up of its own. In nanoseconds: at the
    // fastest rates a whole queue leaves the line in under a millisecond.
    uint64_t NanosecondsUntilRoom(size_t pending, size_t wanted, size_t capacity) const;

  private:
    uint64_t nsPerByte_ = 0;
    uint64_t lineFreeAt_ = 0;  // when the last byte sent leaves the wire
};

}  // namespace serialio
