// What the simulator has to send on one non-blocking descriptor, sent as the
// peer takes it. A peer that stops reading is not read from either once this
// much waits (the caller asks Full), so it costs a bounded amount of memory
// and never holds the loop that serves everyone else.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace kr470 {

inline constexpr size_t kMostQueuedBytes = 256 * 1024;

class Outbox {
  public:
    explicit Outbox(int fd) : fd_(fd) {}
    // Queues bytes and sends what the descriptor takes now. False once the
    // peer is gone.
    bool Send(std::string_view bytes);
    // Sends more of what waits (when poll says the descriptor takes it).
    bool Flush();
    bool Empty() const { return pending_.empty(); }
    bool Full() const { return pending_.size() >= kMostQueuedBytes; }

  private:
    ssize_t Put(const char* data, size_t size);

    int fd_;
    bool socket_ = true;  // until send() says otherwise
    std::string pending_;
};

}  // namespace kr470
