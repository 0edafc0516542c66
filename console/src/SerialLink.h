// The console updater's one way to the instrument: an RS-232 port opened from
// an address such as "COM1::Baud=57600,Parity=NONE,Handshake=DTR_DSR,Size=8".
// Every failure leaves as a thrown LinkError code.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "SerialPort.h"

namespace osprey {

// Thrown by the link: 1 I/O failure, 2 time-out, 3 bad parameter, 4 port not
// opened, any other value the line-error flags of a failed read.
using LinkError = int;
inline constexpr LinkError kIoFailure = 1;
inline constexpr LinkError kTimeout = 2;
inline constexpr LinkError kBadParameter = 3;
inline constexpr LinkError kPortNotOpened = 4;

enum HandshakeMode : int32_t {
    kHandshakeNone = 1,
    kHandshakeXonXoff = 2,
    kHandshakeRtsCts = 3,
    kHandshakeDtrDsr = 4
};
enum LineSetting : int {
    kSetBaudRate = 1,
    kSetParity = 2,
    kSetByteSize = 3,
    kSetStopBits = 4,
    kSetHandshake = 5
};

class SerialLink {
  public:
    SerialLink();
    explicit SerialLink(std::unique_ptr<SerialPort> port);
    virtual ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    void Open(std::string_view address);
    uint32_t BaudRate() const { return settings_.baudRate; }
    int Write(std::string_view command, size_t& bytesSent);
    int Query(std::string_view command, std::span<char> reply, size_t& replyLength);
    // How long a query waits for its reply (12 s unless set).
    void SetReplyTimeout(uint32_t milliseconds) { timeout_ = milliseconds; }

    // Read-only views for diagnostics and tests.
    const LineSettings& Settings() const { return settings_; }
    int32_t Handshake() const { return handshakeMode_; }
    const char* DevicePath() const { return devicePath_.data(); }

  private:
    void OpenPort(int portNumber);
    void Configure();
    void ApplySettings(std::string_view upperAddress);
    int SetParameter(LineSetting setting, int32_t value);
    int Read(std::span<char> buffer, size_t& length);
    void TakeFollowingTerminator(uint32_t deadline);
    uint32_t ClearError();
    void Purge();
    void Close();

    uint32_t StartDeadline();
    uint32_t MillisecondsLeft(uint32_t deadline);
    bool DeadlinePassed(uint32_t deadline);

    uint32_t timeout_ = 12000;
    std::unique_ptr<SerialPort> port_;
    bool portOpen_ = false;
    std::array<char, 32> devicePath_{};
    LineSettings settings_{};
    int32_t handshakeMode_ = kHandshakeDtrDsr;
    PortTimeouts timeouts_{};
    char terminator_ = '\n';
    std::string line_;             // the command being written and its line end
    std::optional<char> carried_;  // first byte of the next reply, read early
};

// Formats a command into the caller's buffer and returns its length. A
// command that does not fit is never cut short: it throws kBadParameter.
[[gnu::format(printf, 2, 3)]] size_t FormatCommand(std::span<char> buffer, const char* format, ...);

// Formats a command into the caller's buffer and writes it when it is not
// empty. Returns the bytes sent, 0 when nothing was sent. A command that does
// not fit the buffer is never sent cut short: it throws kBadParameter.
[[gnu::format(printf, 3, 4)]] size_t WriteFormatted(SerialLink& link, std::span<char> buffer,
                                                    const char* format, ...);

}  // namespace osprey
