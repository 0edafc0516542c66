// The narrow port interface under SerialLink. It carries the operations of a
// serial communications API; one implementation per platform fills it, and
// the unit tests use a fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace osprey {

enum Parity : uint8_t {
    kNoParity = 0,
    kOddParity = 1,
    kEvenParity = 2,
    kMarkParity = 3,
    kSpaceParity = 4
};
enum StopBits : uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };
enum DtrControl : uint8_t { kDtrDisable = 0, kDtrEnable = 1, kDtrHandshake = 2 };
enum RtsControl : uint8_t { kRtsDisable = 0, kRtsEnable = 1, kRtsHandshake = 2, kRtsToggle = 3 };

// Line settings as the driver keeps them.
struct LineSettings {
    uint32_t baudRate = 9600;
    uint8_t byteSize = 8;
    Parity parity = kNoParity;
    StopBits stopBits = kOneStopBit;
    bool binary = true;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    DtrControl dtrControl = kDtrEnable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool outX = false;
    bool inX = false;
    bool errorReplace = false;
    bool discardNull = false;
    RtsControl rtsControl = kRtsEnable;
    bool abortOnError = false;
    uint16_t xonLimit = 0;
    uint16_t xoffLimit = 0;
    char xonChar = 0x11;
    char xoffChar = 0x13;
    char errorChar = 0;
    char eofChar = 0;
    char eventChar = 0;

    bool operator==(const LineSettings&) const = default;
};

// Time-outs in milliseconds. A read interval of all bits set with zero totals
// makes a read return at once with whatever has arrived.
struct PortTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

enum class IoStatus { kOk, kTimedOut, kFailed };

struct IoResult {
    IoStatus status = IoStatus::kOk;
    size_t count = 0;
};

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Opens the device exclusively. False when it is absent or in use.
    virtual bool Open(std::string_view devicePath) = 0;
    // The default line settings text for the device, or `fallback`.
    virtual std::string DefaultSettings(std::string_view devicePath, std::string_view fallback) = 0;
    virtual bool SetupQueues(uint32_t inputBytes, uint32_t outputBytes) = 0;
    // Applies the settings; false when the device refused any of them, in
    // which case the device is left as it was.
    virtual bool ApplySettings(const LineSettings& settings) = 0;
    virtual bool SetTimeouts(const PortTimeouts& timeouts) = 0;
    // Writes within the write time-out last set. kTimedOut when it passed.
    virtual IoResult Write(std::span<const char> bytes) = 0;
    // Waits up to waitMs for bytes to arrive (blocking in the OS), then
    // returns what is there, possibly nothing. kFailed on a line error or
    // hang-up.
    virtual IoResult Read(std::span<char> into, uint32_t waitMs) = 0;
    virtual bool Purge() = 0;
    // Clears the device's error state and returns its error flags.
    virtual uint32_t ClearErrors() = 0;
    virtual void Close() = 0;
    // A millisecond counter that wraps around at 2^32.
    virtual uint32_t TickCount() = 0;
    // The system's text for the last failure.
    virtual std::string LastErrorText() = 0;
};

// The platform's port; defined by the platform layer (one file a platform).
std::unique_ptr<SerialPort> CreatePlatformPort();

// Builds line settings from a mode text such as "9600,N,8,1" (baud, parity
// letter, data bits, stop bits). False when the text is not such a text.
// Both builds use this one parser, so a profile text means the same rate on
// either (the system's own parser differs between Windows and Wine).
bool BuildLineSettings(std::string_view text, LineSettings& settings);

// The rates either build sets: 1 to 12000000 baud, the Linux serial
// library's range. A driver that would take 0 (Wine's) is not asked.
inline constexpr uint32_t kHighestBaudRate = 12000000;
inline bool IsSettableBaudRate(uint32_t baud) {
    return baud != 0 && baud <= kHighestBaudRate;
}

}  // namespace osprey
