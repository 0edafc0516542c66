// The serial port on a POSIX tty: a built-in port, a USB adapter or a
// pseudo-terminal. Device nodes come from the ports file; the device itself is
// the shared serial library's.
#pragma once

#include "SerialDevice.h"
#include "SerialPort.h"

namespace osprey {

class PosixPort final : public SerialPort {
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
    serialio::SerialDevice device_;
    int lastErrno_ = 0;
    PortTimeouts timeouts_{};
};

// The line settings record in the serial library's terms. False for a parity
// no tty has.
bool ToLineConfig(const LineSettings& settings, serialio::LineConfig& config);

}  // namespace osprey
