#include "PosixPort.h"

#include <cerrno>
#include <cstring>

#include "OpenDiagnostics.h"
#include "PortsFile.h"
#include "SerialPort.h"

namespace osprey {
namespace {

IoResult ToIoResult(const serialio::Transfer& transfer) {
    IoResult result;
    result.count = transfer.count;
    result.status = transfer.state == serialio::IoState::kOk         ? IoStatus::kOk
                    : transfer.state == serialio::IoState::kTimedOut ? IoStatus::kTimedOut
                                                                     : IoStatus::kFailed;
    return result;
}

serialio::Handshake HandshakeOf(const LineSettings& settings) {
    if (settings.outxCtsFlow || settings.rtsControl == kRtsHandshake) {
        return serialio::Handshake::kRtsCts;
    }
    if (settings.outX || settings.inX) {
        return serialio::Handshake::kXonXoff;
    }
    if (settings.outxDsrFlow || settings.dtrControl == kDtrHandshake) {
        return serialio::Handshake::kDtrDsr;
    }
    return serialio::Handshake::kNone;
}

}  // namespace

bool ToLineConfig(const LineSettings& settings, serialio::LineConfig& config) {
    constexpr char kParityLetters[] = {'N', 'O', 'E', 'M', 'S'};
    if (settings.parity > kSpaceParity) {
        return false;
    }
    config.baud = settings.baudRate;
    config.dataBits = settings.byteSize;
    config.parity = kParityLetters[settings.parity];
    config.stopBits = settings.stopBits == kOneStopBit ? 1 : 2;
    config.handshake = HandshakeOf(settings);
    config.xonChar = settings.xonChar;
    config.xoffChar = settings.xoffChar;
    return true;
}

std::unique_ptr<SerialPort> CreatePlatformPort() {
    return std::make_unique<PosixPort>();
}

bool PosixPort::Open(std::string_view devicePath) {
    Close();
    std::optional<int> number = PortNumberOf(devicePath);
    if (!number) {
        lastErrno_ = ENOENT;
        return false;
    }
    PortEntry entry = LookUpPort(*number, "9600,N,8,1");
    serialio::OpenFailure why;
    if (!device_.Open(entry.device, why)) {
        lastErrno_ = why.error;
        ReportOpenFailure(*number, entry.device, why);
        return false;
    }
    return true;
}

std::string PosixPort::DefaultSettings(std::string_view devicePath, std::string_view fallback) {
    std::optional<int> number = PortNumberOf(devicePath);
    if (!number) {
        return std::string(fallback);
    }
    return LookUpPort(*number, fallback).settings;
}

bool PosixPort::SetupQueues(uint32_t, uint32_t) {
    // The transmit queue is held to its 1024 bytes by the device's writes; the
    // receive side needs no limit. Only an open port is needed.
    if (!device_.IsOpen()) {
        lastErrno_ = EBADF;
        return false;
    }
    return true;
}

bool PosixPort::ApplySettings(const LineSettings& settings) {
    serialio::LineConfig config;
    if (!ToLineConfig(settings, config) || !device_.Configure(config)) {
        lastErrno_ = device_.LastError();
        return false;
    }
    return true;
}

bool PosixPort::SetTimeouts(const PortTimeouts& timeouts) {
    timeouts_ = timeouts;
    return device_.IsOpen();
}

IoResult PosixPort::Write(std::span<const char> bytes) {
    IoResult result = ToIoResult(device_.Write(bytes, timeouts_.writeTotalConstant));
    lastErrno_ = device_.LastError();
    return result;
}

IoResult PosixPort::Read(std::span<char> into, uint32_t waitMs) {
    IoResult result = ToIoResult(device_.Read(into, waitMs));
    lastErrno_ = device_.LastError();
    return result;
}

bool PosixPort::Purge() {
    return device_.Purge();
}

uint32_t PosixPort::ClearErrors() {
    return device_.TakeErrorFlags();
}

void PosixPort::Close() {
    device_.Close();
}

uint32_t PosixPort::TickCount() {
    return serialio::MonotonicMs();
}

std::string PosixPort::LastErrorText() {
    return std::strerror(lastErrno_);
}

}  // namespace osprey
