#include "SerialLink.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <string>

#include "Console.h"
#include "Decimal.h"

namespace osprey {
namespace {

constexpr const char* kFallbackSettings = "9600,N,8,1";
constexpr uint32_t kQueueBytes = 1024;
constexpr uint32_t kDeadlineSlackMs = 15;
// How long a full reply waits for the byte behind it: it is already on its way.
constexpr uint32_t kFollowingByteWaitMs = 100;

// "COM%d" semantics: the prefix, then optional blanks and sign, then at least
// one digit.
bool ReadPortNumber(std::string_view text, std::string_view prefix, int& number) {
    if (!text.starts_with(prefix)) {
        return false;
    }
    std::string_view rest = text.substr(prefix.size());
    size_t i = 0;
    while (i < rest.size() && std::isspace(static_cast<unsigned char>(rest[i]))) {
        ++i;
    }
    if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) {
        ++i;
    }
    if (i >= rest.size() || rest[i] < '0' || rest[i] > '9') {
        return false;
    }
    number = DecimalInteger(rest);
    return true;
}

// The value after the first occurrence of `key`, or nothing.
bool FindItem(std::string_view text, std::string_view key, std::string_view& value) {
    size_t at = text.find(key);
    if (at == std::string_view::npos) {
        return false;
    }
    value = text.substr(at + key.size());
    return true;
}

// Index (from 1) of the first word that `value` begins with, or 0.
int MatchWord(std::string_view value, std::initializer_list<std::string_view> words) {
    int index = 1;
    for (std::string_view word : words) {
        if (value.starts_with(word)) {
            return index;
        }
        ++index;
    }
    return 0;
}

StopBits StopBitsFor(uint8_t byteSize) {
    return byteSize == 5 ? kOne5StopBits : kTwoStopBits;
}

}  // namespace

SerialLink::SerialLink() : SerialLink(CreatePlatformPort()) {}

SerialLink::SerialLink(std::unique_ptr<SerialPort> port) : port_(std::move(port)) {
    timeouts_.readInterval = std::numeric_limits<uint32_t>::max();
}

SerialLink::~SerialLink() {
    Close();
}

void SerialLink::Open(std::string_view address) {
    std::string upper(address);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    int portNumber = 0;
    if (!ReadPortNumber(upper, "COM", portNumber) && !ReadPortNumber(upper, "ASRL", portNumber)) {
        throw kBadParameter;
    }
    OpenPort(portNumber);
    ApplySettings(upper);
}

void SerialLink::OpenPort(int portNumber) {
    std::snprintf(devicePath_.data(), devicePath_.size(), "\\\\.\\COM%d", portNumber);
    if (!port_->Open(devicePath_.data())) {
        throw kPortNotOpened;
    }
    portOpen_ = true;
    Configure();
}

void SerialLink::Configure() {
    // Only the baud rate of the profile's default settings survives.
    std::string profile = port_->DefaultSettings(devicePath_.data(), kFallbackSettings);
    std::array<char, 30> text{};
    profile.copy(text.data(), text.size() - 1);
    if (!BuildLineSettings(text.data(), settings_)) {
        BuildLineSettings(kFallbackSettings, settings_);
    }
    LineSettings configured;
    configured.baudRate = settings_.baudRate;
    configured.xonLimit = 256;
    configured.xoffLimit = 256;
    configured.errorChar = static_cast<char>(0xFF);
    configured.eventChar = static_cast<char>(0xFF);
    configured.xonChar = 0x11;
    configured.xoffChar = 0x13;
    configured.eofChar = '\n';
    configured.byteSize = 8;
    configured.parity = kNoParity;
    configured.stopBits = kOneStopBit;
    configured.binary = true;
    configured.abortOnError = true;
    configured.dtrControl = kDtrDisable;
    configured.rtsControl = kRtsDisable;
    settings_ = configured;
    handshakeMode_ = kHandshakeDtrDsr;

    if (!port_->SetupQueues(kQueueBytes, kQueueBytes)) {
        std::fprintf(Console().output, "SetupComm Error::%s\n", port_->LastErrorText().c_str());
        std::fflush(Console().output);
        throw kIoFailure;
    }
    port_->ApplySettings(settings_);
    port_->SetTimeouts(timeouts_);
    SetParameter(kSetHandshake, handshakeMode_);
}

void SerialLink::ApplySettings(std::string_view upperAddress) {
    std::string_view value;
    if (FindItem(upperAddress, "BAUD=", value)) {
        SetParameter(kSetBaudRate, DecimalInteger(value));
    }
    if (FindItem(upperAddress, "PARITY=", value)) {
        int parity = MatchWord(value, {"NONE", "ODD", "EVEN"});
        if (parity == 0) {
            throw kBadParameter;
        }
        SetParameter(kSetParity, parity - 1);
    }
    if (FindItem(upperAddress, "STOP=", value)) {
        int32_t stop = DecimalInteger(value);
        if (stop != 1 && stop != 2) {
            throw kBadParameter;
        }
        SetParameter(kSetStopBits, stop == 1 ? 0 : 1);
    }
    if (FindItem(upperAddress, "SIZE=", value)) {
        SetParameter(kSetByteSize, DecimalInteger(value));
    }
    if (FindItem(upperAddress, "HANDSHAKE=", value)) {
        int mode = MatchWord(value, {"NONE", "XON_XOFF", "RTS_CTS", "DTR_DSR"});
        if (mode == 0) {
            throw kBadParameter;
        }
        SetParameter(kSetHandshake, mode);
    }
}

int SerialLink::SetParameter(LineSetting setting, int32_t value) {
    const LineSettings keptSettings = settings_;
    const int32_t keptMode = handshakeMode_;
    switch (setting) {
        case kSetBaudRate:
            settings_.baudRate = static_cast<uint32_t>(value);
            break;
        case kSetParity:
            settings_.parity = static_cast<Parity>(value);
            break;
        case kSetByteSize:
            // A size the byte cannot hold is one no device can do.
            settings_.byteSize = (value >= 0 && value <= 255) ? static_cast<uint8_t>(value) : 0;
            if (settings_.stopBits != kOneStopBit) {
                settings_.stopBits = StopBitsFor(settings_.byteSize);
            }
            break;
        case kSetStopBits:
            settings_.stopBits = value == 0 ? kOneStopBit : StopBitsFor(settings_.byteSize);
            break;
        case kSetHandshake:
            handshakeMode_ = value;
            settings_.outxCtsFlow = value == kHandshakeRtsCts;
            settings_.outxDsrFlow = value == kHandshakeDtrDsr;
            settings_.dtrControl = value == kHandshakeDtrDsr ? kDtrHandshake : kDtrDisable;
            settings_.outX = value == kHandshakeXonXoff;
            settings_.inX = value == kHandshakeXonXoff;
            settings_.rtsControl = value == kHandshakeRtsCts ? kRtsHandshake : kRtsDisable;
            break;
    }
    if (!port_->ApplySettings(settings_)) {
        port_->ApplySettings(keptSettings);
        settings_ = keptSettings;
        handshakeMode_ = keptMode;
        throw kBadParameter;
    }
    return 0;
}

uint32_t SerialLink::StartDeadline() {
    return port_->TickCount() + timeout_ + kDeadlineSlackMs;
}

uint32_t SerialLink::MillisecondsLeft(uint32_t deadline) {
    int32_t left = static_cast<int32_t>(deadline - port_->TickCount());
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

bool SerialLink::DeadlinePassed(uint32_t deadline) {
    return static_cast<int32_t>(deadline - port_->TickCount()) <= 0;
}

int SerialLink::Write(std::string_view command, size_t& bytesSent) {
    uint32_t deadline = StartDeadline();
    timeouts_.readInterval = std::numeric_limits<uint32_t>::max();
    timeouts_.readTotalMultiplier = 0;
    timeouts_.readTotalConstant = 0;
    timeouts_.writeTotalMultiplier = 0;
    timeouts_.writeTotalConstant = MillisecondsLeft(deadline);
    port_->SetTimeouts(timeouts_);

    // The command and its line end leave in one write: one system call a
    // line instead of two, and never a command without its end.
    line_.assign(command);
    line_.push_back(terminator_);
    bytesSent = 0;
    std::span<const char> rest(line_.data(), line_.size());
    while (!rest.empty()) {
        IoResult result = port_->Write(rest);
        if (result.status == IoStatus::kFailed) {
            throw kIoFailure;
        }
        if (result.status == IoStatus::kTimedOut || DeadlinePassed(deadline)) {
            throw kTimeout;
        }
        if (result.count == 0) {
            throw kTimeout;  // the driver took nothing: never loop on it
        }
        bytesSent += result.count;
        rest = rest.subspan(std::min(result.count, rest.size()));
    }
    return 0;
}

int SerialLink::Read(std::span<char> buffer, size_t& length) {
    std::fill(buffer.begin(), buffer.end(), '\0');
    uint32_t deadline = StartDeadline();
    length = 0;
    // One byte always stays free for the terminating zero.
    const size_t limit = buffer.empty() ? 0 : buffer.size() - 1;
    size_t total = 0;
    if (carried_ && limit > 0) {
        buffer[total++] = *carried_;
        carried_.reset();
    }
    auto complete = [&] { return total > 0 && buffer[total - 1] == terminator_; };
    while (total < limit && !complete()) {
        IoResult result =
            port_->Read(buffer.subspan(total, limit - total), MillisecondsLeft(deadline));
        if (result.status == IoStatus::kFailed) {
            throw static_cast<LinkError>(ClearError());
        }
        if (DeadlinePassed(deadline)) {
            throw kTimeout;
        }
        total += std::min(result.count, limit - total);
    }
    if (complete()) {
        buffer[--total] = '\0';
    } else if (total == limit && limit > 0) {
        TakeFollowingTerminator(deadline);
    }
    length = total;
    return 0;
}

// A reply that exactly fills the buffer still owns the LF behind it: left in
// the driver it would read as the next (empty) reply. Any other byte is the
// start of the next reply and is kept for it.
void SerialLink::TakeFollowingTerminator(uint32_t deadline) {
    char next = 0;
    IoResult result = port_->Read(std::span<char>(&next, 1),
                                  std::min(MillisecondsLeft(deadline), kFollowingByteWaitMs));
    if (result.status == IoStatus::kFailed) {
        throw static_cast<LinkError>(ClearError());
    }
    if (result.count == 1 && next != terminator_) {
        carried_ = next;
    }
}

int SerialLink::Query(std::string_view command, std::span<char> reply, size_t& replyLength) {
    size_t sent = 0;
    Write(command, sent);
    return Read(reply, replyLength);
}

uint32_t SerialLink::ClearError() {
    return port_->ClearErrors();
}

void SerialLink::Purge() {
    carried_.reset();
    port_->Purge();
}

void SerialLink::Close() {
    if (!portOpen_) {
        return;
    }
    Purge();
    port_->Close();
    portOpen_ = false;
}

namespace {

// Ends a va_list on every way out, a thrown code included.
struct VaListEnd {
    va_list& args;
    ~VaListEnd() { va_end(args); }
};

size_t FormatCommandList(std::span<char> buffer, const char* format, va_list args) {
    if (buffer.empty()) {
        throw kBadParameter;
    }
    int length = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    if (length < 0 || static_cast<size_t>(length) >= buffer.size()) {
        throw kBadParameter;
    }
    return static_cast<size_t>(length);
}

}  // namespace

size_t FormatCommand(std::span<char> buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VaListEnd end{args};
    return FormatCommandList(buffer, format, args);
}

size_t WriteFormatted(SerialLink& link, std::span<char> buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VaListEnd end{args};
    size_t length = FormatCommandList(buffer, format, args);
    size_t sent = 0;
    if (length > 0) {
        link.Write(std::string_view(buffer.data(), length), sent);
    }
    return sent;
}

}  // namespace osprey
