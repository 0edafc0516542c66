#include "StopSignal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

namespace fleet {

static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

StopSignal::StopSignal() {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
    }
}

StopSignal::~StopSignal() {
    for (int fd : pipe_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void StopSignal::Request() {
    if (!requested_.exchange(true) && pipe_[1] >= 0) {
        char byte = 1;
        [[maybe_unused]] ssize_t written = write(pipe_[1], &byte, 1);
    }
}

bool StopSignal::WaitFor(int32_t milliseconds) const {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (!Requested()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd wake{pipe_[0], POLLIN, 0};
        poll(&wake, pipe_[0] >= 0 ? 1 : 0, static_cast<int>(left.count()));
    }
    return true;
}

size_t StopSignal::OnStop(std::function<void()> interrupt) const {
    std::lock_guard lock(mutex_);
    const size_t ticket = nextTicket_++;
    if (delivered_) {
        interrupt();  // the stop came first: the wait ends as soon as it starts
    }
    interrupts_.emplace(ticket, std::move(interrupt));
    return ticket;
}

void StopSignal::Withdraw(size_t ticket) const {
    std::lock_guard lock(mutex_);
    interrupts_.erase(ticket);
}

void StopSignal::DeliverInterrupts() const {
    std::lock_guard lock(mutex_);
    if (delivered_) {
        return;
    }
    delivered_ = true;
    for (auto& [ticket, interrupt] : interrupts_) {
        interrupt();
    }
}

}  // namespace fleet
