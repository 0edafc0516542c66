// Any baud rate on a Linux tty, standard or not, through the termios2
// interface. Kept apart: the kernel's termios2 header clashes with libc's.
#pragma once

#include <cstdint>

namespace osprey {

// Sets input and output speed. False with errno set when the call failed.
bool SetLineSpeed(int fd, uint32_t baud);

// The output speed the device reports, 0 when it cannot be read.
uint32_t GetLineSpeed(int fd);

}  // namespace osprey
