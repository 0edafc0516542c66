// The serial port on the Win32 communications API: "\\.\COM<n>" through the
// serial library's Win32 port (opened exclusively, output held to the line's
// rate), its defaults from the "ports" section of the system profile, its
// settings through the device-control block, synchronous transfers.
#pragma once

#include <windows.h>

#include "SerialPort.h"
#include "WinComm.h"

namespace osprey {

class WinPort final : public SerialPort {
  public:
    bool Open(std::string_view devicePath) override;
    std::string DefaultSettings(std::string_view devicePath, std::string_view fallback) override;
    bool SetupQueues(uint32_t inputBytes, uint32_t outputBytes) override;
    bool ApplySettings(const LineSettings& settings) override;
    bool SetTimeouts(const PortTimeouts& timeouts) override;
    IoResult Write(std::span<const char> bytes) override;
    IoResult Read(std::span<char> into, uint32_t waitMs) override;
    bool Purge() override;
    uint32_t ClearErrors() override;
    void Close() override;
    uint32_t TickCount() override;
    std::string LastErrorText() override;

  private:
    serialio::WinComm comm_;
    PortTimeouts timeouts_{};
};

// The system's text for a Win32 error code, without its line end.
using serialio::SystemErrorText;

// Purges and closes the port the run holds, if any; callable from a console
// control handler while the run's thread is inside a transfer.
void ReleaseHeldPortNow();

// The milliseconds a write of `count` bytes may take under `timeouts`, as the
// driver counts them; serialio::kNoWriteLimit when both parts are 0.
uint32_t WriteLimitMs(const PortTimeouts& timeouts, size_t count);

}  // namespace osprey
