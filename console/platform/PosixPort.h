// The serial port on a POSIX tty: a built-in port, a USB adapter or a
// pseudo-terminal. Device nodes come from the ports file.
#pragma once

#include <termios.h>

#include "SerialPort.h"

namespace osprey {

class PosixPort final : public SerialPort {
  public:
    ~PosixPort() override;

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

    // Error flag reported by ClearErrors after a hang-up or a failed read.
    static constexpr uint32_t kLineGone = 0x8000;

  private:
    bool OpenDevice(const char* path);
    bool WaitForDataSetReady(uint32_t waitMs);
    void SetDataTerminalReady(bool on);

    int fd_ = -1;
    int lastErrno_ = 0;
    uint32_t errorFlags_ = 0;
    bool dsrFlow_ = false;
    bool hasModemLines_ = true;  // false once the device said it has none
    PortTimeouts timeouts_{};
};

}  // namespace osprey
