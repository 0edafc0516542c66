// The serial ports the library's sessions hold open, put back from a signal
// handler: a program that ends on a signal leaves each port as it found it.
#pragma once

#include <kio/Export.h>

namespace kio {

// Abandons pending output, restores the settings, ends exclusive mode, closes
// and removes the lock file of every serial port a session holds open. Only
// async-signal-safe calls.
KIO_API void ReleaseHeldPortsNow();

}  // namespace kio
