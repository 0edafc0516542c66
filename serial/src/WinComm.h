// A Win32 communications port ("\\.\COM<n>"), the one under Osprey.exe and
// instrument-io alike: opened exclusively, its device-control block applied
// and read back, time-outs, purge, error flags, the system's error texts, and
// output held to what the line carries. A driver's queue is bounded by the
// sizes SetupComm asks for; Wine ignores them and its WriteFile on a
// pseudo-terminal returns once the kernel buffer took the bytes, so without
// the hold a writer runs seconds ahead of a paced line and every reply time-out
// passes before the instrument has read the question.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "OutputPacer.h"

namespace serialio {

enum class WinIo { kOk, kTimedOut, kFailed };

struct WinTransfer {
    WinIo state = WinIo::kOk;
    size_t count = 0;
};

// The output queue a port holds to until SetupComm names another size.
inline constexpr uint32_t kDefaultOutputQueue = 1024;
// The longest single wait in the driver. Requests on a synchronous handle are
// served one at a time, so a purge from another thread waits for the read in
// progress: it must not be a whole reply time-out.
inline constexpr uint32_t kLongestDriverWaitMs = 200;
// The rates a port is asked for: 1 to 12000000 baud, the Linux serial
// library's range. A driver that would take 0 (Wine's) is not asked.
inline constexpr uint32_t kHighestCommBaud = 12000000;
// A write time-out of this many milliseconds never passes.
inline constexpr uint32_t kNoWriteLimit = INFINITE;

class WinComm {
  public:
    WinComm() = default;
    WinComm(const WinComm&) = delete;
    WinComm& operator=(const WinComm&) = delete;
    ~WinComm();

    // `path` as CreateFileA takes it ("\\.\COM5"). False, LastError() set,
    // when it is absent or in use.
    bool Open(std::string_view path);
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Asks the driver for its queue sizes and holds output to `outputBytes`.
    bool SetQueues(uint32_t inputBytes, uint32_t outputBytes);
    bool ReadState(DCB& dcb);
    // Applies `asked` and reads it back: a rate outside the range, or a rate
    // or framing the driver quietly changed, counts as refused, and the
    // settings before are put back.
    bool ApplyState(const DCB& asked);
    bool SetTimeouts(const COMMTIMEOUTS& timeouts);
    // Writes all of `bytes` within `limitMs` (kNoWriteLimit: no limit),
    // never more than the queue ahead of the line's rate (or one timer tick's
    // worth of the line, where that is more); waits sleep in the system. kTimedOut with the count
    // that went when the time ran out.
    WinTransfer Write(std::span<const char> bytes, uint32_t limitMs);
    // What has arrived; when nothing has, waits up to waitMs (at most
    // kLongestDriverWaitMs, in the driver) for the first byte and takes what
    // came with it.
    WinTransfer Read(std::span<char> into, uint32_t waitMs);
    bool Purge();
    // The driver's error flags since the last call, cleared.
    DWORD ClearErrors();
    void Close();
    DWORD LastError() const { return lastError_; }

  private:
    bool Failed();
    bool SetDriverTimeouts(const COMMTIMEOUTS& timeouts);
    size_t HeldTo() const;
    bool WaitForRoom(size_t pending, size_t wanted, uint64_t startNs, uint32_t limitMs);
    WinTransfer ReadNow(std::span<char> into);
    WinTransfer WaitForFirstByte(std::span<char> into, uint32_t waitMs);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    int heldSlot_ = -1;
    DWORD lastError_ = ERROR_SUCCESS;
    COMMTIMEOUTS timeouts_{};
    size_t outputQueue_ = kDefaultOutputQueue;
    size_t bytesPerTick_ = 0;  // what the line carries in one of the system's timer ticks
    OutputPacer pacer_;
};

// The system's text for a Win32 error code, without its line end.
std::string SystemErrorText(DWORD error);

// The path CreateFileA opens for a port name: "COM12" is "\\.\COM12" (the
// only form that reaches COM10 and above); a path is kept as it is.
std::string CommDevicePath(std::string_view name);

// Bits on the wire per byte for the block's framing: start, data, parity, stop.
unsigned FrameBitsOf(const DCB& dcb);

// True when the driver's copy holds the rate and framing that were asked for;
// a driver may take settings it cannot do and quietly keep others.
bool SameFraming(const DCB& asked, const DCB& taken);

// Purges and closes every port this process holds open; callable from a
// console control handler while another thread is inside a transfer.
void ReleaseHeldCommPortsNow();

}  // namespace serialio
