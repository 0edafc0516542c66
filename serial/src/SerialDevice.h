// One serial device on a POSIX tty, opened exclusively (a lock file, flock
// and TIOCEXCL), in raw mode with settings read back after every change. Its
// output is held to about a kilobyte on the way out, so a slow line never
// builds a backlog that outlasts a deadline. Close puts the settings the port
// had at open back.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "KernelTermios.h"
#include "LineConfig.h"
#include "LineErrors.h"
#include "OutputPacer.h"

namespace serialio {

struct OpenFailure {
    int error = 0;     // errno; EBUSY when another program holds the port
    pid_t holder = 0;  // the PID named by a live lock file
    // No lock file could be made in the folder KR470_LOCK_DIR names (said on
    // standard error); `error` is why.
    bool lockRefused = false;
};

enum class IoState { kOk, kTimedOut, kFailed };

struct Transfer {
    IoState state = IoState::kOk;
    size_t count = 0;
};

// The bytes allowed to wait in the driver and on the line: the 1024-byte
// transmit queue the link asks for.
inline constexpr size_t kMaxPendingOutput = 1024;

class SerialDevice {
  public:
    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    bool Open(const std::string& path, OpenFailure& why);
    bool IsOpen() const { return fd_ >= 0; }
    // Applies the settings and reads them back. When the device refuses any of
    // them it is left as it was and false comes back.
    bool Configure(const LineConfig& config);
    const LineConfig& Config() const { return config_; }
    // Writes within limitMs; kTimedOut with the count written so far.
    Transfer Write(std::span<const char> bytes, uint32_t limitMs);
    // Waits up to waitMs for bytes, then returns what is there. kFailed on a
    // hang-up or when the driver counted a line error during the read.
    Transfer Read(std::span<char> into, uint32_t waitMs);
    // Raises DTR and RTS as an open does, for a caller with no handshake that
    // talks to a device which may wait for either (a port finder's probe).
    void RaiseModemLines();
    // The error flags gathered since the last call.
    uint32_t TakeErrorFlags();
    // Abandons pending output and input.
    bool Purge();
    // Lets pending output leave, restores the settings the port had at open,
    // and releases it (exclusive mode, flock, lock file).
    void Close();
    int LastError() const { return lastErrno_; }

  private:
    bool AcquireLock(const std::string& path, OpenFailure& why);
    bool OpenExclusive(const std::string& path, OpenFailure& why);
    bool ApplyTermios(const LineConfig& config);
    void SetModemLines(Handshake mode);
    bool WaitForDataSetReady(uint32_t waitMs);
    size_t PendingOutput(uint64_t nowNs);
    bool WaitForRoom(size_t wanted, uint32_t start, uint32_t limitMs);
    bool CheckLineErrors();
    void DrainOutput();
    void ReleaseLock();

    int fd_ = -1;
    int lastErrno_ = 0;
    int heldSlot_ = -1;
    uint32_t errorFlags_ = 0;
    bool hasModemLines_ = true;  // false once the device said it has none
    bool hasCounters_ = false;
    ErrorCounts counts_{};
    std::string lockPath_;
    SavedTermios saved_{};
    LineConfig config_{};
    OutputPacer pacer_;
};

// Milliseconds and nanoseconds of the monotonic clock.
uint32_t MonotonicMs();
uint64_t MonotonicNs();

}  // namespace serialio
