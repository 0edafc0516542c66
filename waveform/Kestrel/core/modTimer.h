// The plug-in's timing: one blocking millisecond wait, used by the update
// procedure during the instrument's resets and by the finder at load.
#pragma once

#include <cstdint>
#include <functional>

namespace kestrel {

// Blocks the calling thread; no window messages are processed meanwhile.
// KESTREL_WAIT_LIMIT_MS, when set, caps every wait (rehearsals against the
// simulator, which resets at once).
void Wait(int32_t milliseconds);

// `milliseconds` as KESTREL_WAIT_LIMIT_MS caps it: what Wait blocks for, for
// a hook that waits its own way.
int32_t CappedWait(int32_t milliseconds);

// Tests put their own wait in place for the calling thread; an empty hook
// restores the real one.
using WaitHook = std::function<void(int32_t milliseconds)>;
void SetWaitHook(WaitHook hook);

}  // namespace kestrel
