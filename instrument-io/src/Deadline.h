// Time limits set once and spent by several steps: each step is given what is
// left, in whole milliseconds, never more than a uint32_t holds.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace kio {

using DeadlineClock = std::chrono::steady_clock;

inline DeadlineClock::time_point DeadlineIn(uint32_t milliseconds) {
    return DeadlineClock::now() + std::chrono::milliseconds(milliseconds);
}

// 0 once the deadline has passed.
inline uint32_t MsLeft(DeadlineClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - DeadlineClock::now());
    if (left.count() <= 0)
        return 0;
    return static_cast<uint32_t>(std::min<int64_t>(left.count(), UINT32_MAX));
}

}  // namespace kio
