// A request to stop every update, made from a signal handler or another
// thread, and a wait that ends early when it comes.
#pragma once

#include <atomic>
#include <cstdint>

namespace fleet {

class StopSignal {
  public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Async-signal-safe: an atomic store and one write to a pipe.
    void Request();
    bool Requested() const { return requested_.load(); }
    // Blocks until the request or `milliseconds` have passed; true on the request.
    bool WaitFor(int32_t milliseconds) const;

  private:
    std::atomic<bool> requested_{false};
    int pipe_[2] = {-1, -1};  // written once on the request, never drained
};

}  // namespace fleet
