#include "WinPort.h"

#include <algorithm>
#include <array>
#include <limits>

#include "SerialPort.h"
#include "WinDcb.h"
#include "WinDiagnostics.h"

namespace osprey {
namespace {

constexpr DWORD kProfileTextSize = 30;

COMMTIMEOUTS ToCommTimeouts(const PortTimeouts& t) {
    COMMTIMEOUTS c{};
    c.ReadIntervalTimeout = t.readInterval;
    c.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
    c.ReadTotalTimeoutConstant = t.readTotalConstant;
    c.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
    c.WriteTotalTimeoutConstant = t.writeTotalConstant;
    return c;
}

IoStatus ToIoStatus(serialio::WinIo state) {
    switch (state) {
        case serialio::WinIo::kOk:
            return IoStatus::kOk;
        case serialio::WinIo::kTimedOut:
            return IoStatus::kTimedOut;
        default:
            return IoStatus::kFailed;
    }
}

IoResult ToIoResult(const serialio::WinTransfer& transfer) {
    return {ToIoStatus(transfer.state), transfer.count};
}

}  // namespace

std::unique_ptr<SerialPort> CreatePlatformPort() {
    return std::make_unique<WinPort>();
}

void ReleaseHeldPortNow() {
    serialio::ReleaseHeldCommPortsNow();
}

uint32_t WriteLimitMs(const PortTimeouts& timeouts, size_t count) {
    if (timeouts.writeTotalMultiplier == 0 && timeouts.writeTotalConstant == 0) {
        return serialio::kNoWriteLimit;
    }
    uint64_t limit = uint64_t{timeouts.writeTotalMultiplier} * count + timeouts.writeTotalConstant;
    return static_cast<uint32_t>(std::min<uint64_t>(limit, serialio::kNoWriteLimit - 1));
}

bool WinPort::Open(std::string_view devicePath) {
    if (!comm_.Open(devicePath)) {
        DWORD error = comm_.LastError();
        ReportOpenFailure(std::string(devicePath), error, SystemErrorText(error));
        return false;
    }
    return true;
}

std::string WinPort::DefaultSettings(std::string_view devicePath, std::string_view fallback) {
    std::array<char, kProfileTextSize> text{};
    GetProfileStringA("ports", std::string(devicePath).c_str(), std::string(fallback).c_str(),
                      text.data(), kProfileTextSize);
    return text.data();
}

bool WinPort::SetupQueues(uint32_t inputBytes, uint32_t outputBytes) {
    return comm_.SetQueues(inputBytes, outputBytes);
}

// The settings fill every field of the block but the reserved ones, which
// stay 0 as the system asks.
bool WinPort::ApplySettings(const LineSettings& settings) {
    DCB asked{};
    ToDcb(settings, asked);
    return comm_.ApplyState(asked);
}

bool WinPort::SetTimeouts(const PortTimeouts& timeouts) {
    timeouts_ = timeouts;
    return comm_.SetTimeouts(ToCommTimeouts(timeouts));
}

IoResult WinPort::Write(std::span<const char> bytes) {
    return ToIoResult(comm_.Write(bytes, WriteLimitMs(timeouts_, bytes.size())));
}

IoResult WinPort::Read(std::span<char> into, uint32_t waitMs) {
    return ToIoResult(comm_.Read(into, waitMs));
}

bool WinPort::Purge() {
    return comm_.Purge();
}

uint32_t WinPort::ClearErrors() {
    return comm_.ClearErrors();
}

void WinPort::Close() {
    comm_.Close();
}

uint32_t WinPort::TickCount() {
    return GetTickCount();
}

std::string WinPort::LastErrorText() {
    return SystemErrorText(comm_.LastError());
}

}  // namespace osprey
