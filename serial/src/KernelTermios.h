// The tty's settings through the kernel's termios2 interface: any baud rate,
// and a whole-settings copy that can be put back from a signal handler. Kept
// apart: the kernel's termios2 header clashes with libc's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace serialio {

// An opaque copy of a tty's settings, speeds included.
struct SavedTermios {
    alignas(8) std::array<unsigned char, 64> bytes{};
    bool valid = false;
};

bool SaveTermios(int fd, SavedTermios& saved);
// Puts the copy back. Only an ioctl: safe in a signal handler.
bool RestoreTermios(int fd, const SavedTermios& saved);

// Sets input and output speed: the standard encoding for a standard rate, the
// custom one for any other. False with errno set when the call failed.
bool SetLineSpeed(int fd, uint32_t baud);
// The output speed the device reports, 0 when it cannot be read.
uint32_t GetLineSpeed(int fd);
// True when the settings carry the custom-rate encoding.
bool UsesCustomSpeed(int fd);

}  // namespace serialio
