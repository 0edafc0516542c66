// The serial transport on Windows: a port of the serial library's Win32
// module, so a port behaves here as it does under Osprey.exe (output held to
// the line's rate) and takes the settings text and handshakes Linux takes.

#include <kio/HeldPorts.h>

#include "SlicedSerialTransport.h"
#include "WinComm.h"
#include "WinLineConfig.h"

namespace kio {
namespace {

// What the driver may hold each way; output is held to its size.
constexpr uint32_t kInputQueue = 4096;
constexpr uint32_t kOutputQueue = 1024;
// Receive faults that fail a read, as the line-error counters do on Linux.
constexpr DWORD kLineFaults = CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER | CE_BREAK;

// Reads return at once with what has arrived (the module waits for the first
// byte itself); a write has `writeMs` in the driver (0: no limit).
COMMTIMEOUTS TimeoutsFor(uint32_t writeMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = writeMs;
    return timeouts;
}

class WinSerialTransport : public SlicedSerialTransport {
  public:
    bool Open(const std::string& device, const serialio::LineConfig& config, std::string& why) {
        if (!comm_.Open(serialio::CommDevicePath(device))) {
            why = device + ": " + serialio::SystemErrorText(comm_.LastError());
            return false;
        }
        comm_.SetQueues(kInputQueue, kOutputQueue);  // Wine ignores the sizes: held all the same
        DCB dcb{};
        serialio::ToDcb(config, dcb);
        if (!comm_.ApplyState(dcb)) {
            why = device + ": the device does not take these line settings";
            return false;
        }
        return SetWriteLimit(0);
    }

    bool WriteAll(std::span<const char> bytes, uint32_t timeoutMs) override {
        if (Interrupted() || !SetWriteLimit(timeoutMs)) {
            return false;
        }
        return comm_.Write(bytes, timeoutMs).state == serialio::WinIo::kOk;
    }

  private:
    // The driver ends each wait within kLongestDriverWaitMs, inside the slice.
    long ReadSlice(std::span<char> into, uint32_t sliceMs) override {
        static_assert(serialio::kLongestDriverWaitMs <= kInterruptCheckMs);
        serialio::WinTransfer read = comm_.Read(into, sliceMs);
        if (read.state != serialio::WinIo::kOk || (comm_.ClearErrors() & kLineFaults) != 0) {
            return -1;
        }
        return static_cast<long>(read.count);
    }

    // The driver's own write time-out, set only when it changes.
    bool SetWriteLimit(uint32_t timeoutMs) {
        if (writeLimitSet_ && writeLimitMs_ == timeoutMs) {
            return true;
        }
        writeLimitSet_ = comm_.SetTimeouts(TimeoutsFor(timeoutMs));
        writeLimitMs_ = timeoutMs;
        return writeLimitSet_;
    }

    serialio::WinComm comm_;
    bool writeLimitSet_ = false;
    uint32_t writeLimitMs_ = 0;
};

}  // namespace

std::unique_ptr<Transport> OpenSerial(const std::string& device, const std::string& settings,
                                      const std::string& handshake, std::string& why) {
    return OpenSerialAs<WinSerialTransport>(device, settings, handshake, why);
}

void ReleaseHeldPortsNow() {
    serialio::ReleaseHeldCommPortsNow();
}

}  // namespace kio
