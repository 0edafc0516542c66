// The ports this process holds open, kept where a signal handler can reach
// them: on SIGINT and the like the program puts each back (settings, exclusive
// mode, lock file) before it ends.
#pragma once

#include <cstddef>
#include <string_view>

#include "KernelTermios.h"

namespace serialio {

// Enough for a fleet update holding one port per instrument; a port beyond
// them is not restored by a signal handler, only by its normal close.
inline constexpr size_t kMostHeldPorts = 64;

// Records an open port; returns its slot, or -1 when every slot is taken.
int HoldPort(int fd, const SavedTermios& saved, std::string_view lockPath);
// Forgets the slot (the port is being closed normally).
void ForgetPort(int slot);
// Abandons pending output, restores the settings, ends exclusive mode, closes
// and removes the lock file of every held port. Only async-signal-safe calls.
void ReleaseHeldPortsNow();

}  // namespace serialio
