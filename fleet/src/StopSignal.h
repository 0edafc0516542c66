// A request to stop every update, made from a signal handler or another
// thread, a wait that ends early when it comes, and the interrupts of the
// waits under way that a watching thread delivers when it comes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

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

    // Registers what ends a wait under way (an I/O call's) at once; it runs
    // on the thread that delivers the interrupts, never after Withdraw has
    // returned. Returns the ticket for Withdraw.
    size_t OnStop(std::function<void()> interrupt) const;
    void Withdraw(size_t ticket) const;
    // Once the request has come: runs every interrupt registered, the first
    // time only; one registered later runs as it is registered.
    void DeliverInterrupts() const;

  private:
    std::atomic<bool> requested_{false};
    mutable std::mutex mutex_;
    mutable std::map<size_t, std::function<void()>> interrupts_;
    mutable size_t nextTicket_ = 0;
    mutable bool delivered_ = false;  // the request reached the interrupts
    int pipe_[2] = {-1, -1};          // written once on the request, never drained
};

}  // namespace fleet
