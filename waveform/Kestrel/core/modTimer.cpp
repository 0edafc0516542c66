#include "modTimer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace kestrel {
namespace {

// Per thread, like the module values: each update's thread may wait its own way.
WaitHook& Hook() {
    thread_local WaitHook hook;
    return hook;
}

}  // namespace

int32_t CappedWait(int32_t milliseconds) {
    const char* limit = std::getenv("KESTREL_WAIT_LIMIT_MS");
    if (limit == nullptr || *limit == '\0') {
        return milliseconds;
    }
    char* end = nullptr;
    long value = std::strtol(limit, &end, 10);
    if (*end != '\0' || value < 0) {
        return milliseconds;  // not a number: the designed wait
    }
    return static_cast<int32_t>(std::min<long>(milliseconds, value));
}

void Wait(int32_t milliseconds) {
    if (Hook()) {
        Hook()(milliseconds);
        return;
    }
    milliseconds = CappedWait(milliseconds);
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

void SetWaitHook(WaitHook hook) {
    Hook() = std::move(hook);
}

}  // namespace kestrel
