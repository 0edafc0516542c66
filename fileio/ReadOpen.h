// How a file is opened for reading on this platform, and whether it is a socket.
#pragma once

#include <sys/types.h>

namespace fileio {

// A read-only descriptor that never blocks in the open, never becomes a
// controlling terminal, is not inherited, and reads bytes as they are.
// -1 with errno set when the file cannot be opened.
int OpenForReading(const char* path);

// Whether the mode is a socket's (Windows files never are).
bool IsSocket(mode_t mode);

}  // namespace fileio
