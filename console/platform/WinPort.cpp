#include "WinPort.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <limits>

#include "SerialPort.h"
#include "WinDcb.h"
#include "WinDiagnostics.h"

namespace osprey {
namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kProfileTextSize = 30;
// The longest single wait in the driver. Requests on a synchronous handle are
// served one at a time, so a control handler's purge waits for the read in
// progress: it must not be a whole reply time-out.
constexpr uint32_t kLongestWaitMs = 200;

// The open port, where the console control handler can reach it.
std::atomic<HANDLE> heldPort{INVALID_HANDLE_VALUE};

COMMTIMEOUTS ToCommTimeouts(const PortTimeouts& t) {
    COMMTIMEOUTS c{};
    c.ReadIntervalTimeout = t.readInterval;
    c.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
    c.ReadTotalTimeoutConstant = t.readTotalConstant;
    c.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
    c.WriteTotalTimeoutConstant = t.writeTotalConstant;
    return c;
}

DWORD Clamp(size_t count) {
    return static_cast<DWORD>(std::min<size_t>(count, std::numeric_limits<DWORD>::max()));
}

}  // namespace

std::unique_ptr<SerialPort> CreatePlatformPort() {
    return std::make_unique<WinPort>();
}

std::string SystemErrorText(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text),
        0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length)
                                                        : "error " + std::to_string(error);
    LocalFree(text);
    // The system's texts end in CR LF; the caller's format ends the line.
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

void ReleaseHeldPortNow() {
    HANDLE handle = heldPort.exchange(INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE) {
        PurgeComm(handle, kPurgeAll);  // also ends a transfer the run's thread waits in
        CloseHandle(handle);
    }
}

WinPort::~WinPort() {
    Close();
}

bool WinPort::Failed() {
    lastError_ = GetLastError();
    return false;
}

bool WinPort::Open(std::string_view devicePath) {
    Close();
    std::string path(devicePath);
    handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        lastError_ = GetLastError();
        ReportOpenFailure(path, lastError_, SystemErrorText(lastError_));
        return false;
    }
    heldPort.store(handle_);
    return true;
}

std::string WinPort::DefaultSettings(std::string_view devicePath, std::string_view fallback) {
    std::array<char, kProfileTextSize> text{};
    GetProfileStringA("ports", std::string(devicePath).c_str(), std::string(fallback).c_str(),
                      text.data(), kProfileTextSize);
    return text.data();
}

bool WinPort::SetupQueues(uint32_t inputBytes, uint32_t outputBytes) {
    return SetupComm(handle_, inputBytes, outputBytes) ? true : Failed();
}

// Applies the settings and reads them back: what the driver quietly changed
// counts as refused, and the settings before are put back.
bool WinPort::ApplySettings(const LineSettings& settings) {
    if (!IsSettableBaudRate(settings.baudRate)) {
        lastError_ = ERROR_INVALID_PARAMETER;  // as the Linux build refuses it
        return false;
    }
    DCB before{};
    before.DCBlength = sizeof(DCB);
    if (!GetCommState(handle_, &before)) {
        return Failed();
    }
    DCB asked = before;
    ToDcb(settings, asked);
    if (!SetCommState(handle_, &asked)) {
        Failed();
        SetCommState(handle_, &before);
        return false;
    }
    DCB taken{};
    taken.DCBlength = sizeof(DCB);
    if (!GetCommState(handle_, &taken) || !SameFraming(asked, taken)) {
        lastError_ = ERROR_INVALID_PARAMETER;
        SetCommState(handle_, &before);
        return false;
    }
    return true;
}

bool WinPort::SetDriverTimeouts(const PortTimeouts& timeouts) {
    COMMTIMEOUTS driver = ToCommTimeouts(timeouts);
    return SetCommTimeouts(handle_, &driver) ? true : Failed();
}

bool WinPort::SetTimeouts(const PortTimeouts& timeouts) {
    timeouts_ = timeouts;
    return SetDriverTimeouts(timeouts);
}

IoResult WinPort::Write(std::span<const char> bytes) {
    DWORD written = 0;
    if (!WriteFile(handle_, bytes.data(), Clamp(bytes.size()), &written, nullptr)) {
        lastError_ = GetLastError();
        return {lastError_ == ERROR_COUNTER_TIMEOUT ? IoStatus::kTimedOut : IoStatus::kFailed,
                written};
    }
    return {IoStatus::kOk, written};
}

IoResult WinPort::ReadNow(std::span<char> into) {
    DWORD received = 0;
    if (!ReadFile(handle_, into.data(), Clamp(into.size()), &received, nullptr)) {
        lastError_ = GetLastError();
        return {IoStatus::kFailed, received};
    }
    return {IoStatus::kOk, received};
}

// One byte asked for with a total time-out: the driver returns with the first
// byte or at the time-out, and the thread sleeps in the driver meanwhile.
IoResult WinPort::WaitForFirstByte(std::span<char> into, uint32_t waitMs) {
    PortTimeouts waiting = timeouts_;
    waiting.readInterval = 0;
    waiting.readTotalMultiplier = 0;
    waiting.readTotalConstant = std::min(waitMs, kLongestWaitMs);
    if (!SetDriverTimeouts(waiting)) {
        return {IoStatus::kFailed, 0};
    }
    IoResult first = ReadNow(into.first(1));
    SetDriverTimeouts(timeouts_);
    return first;
}

// What has arrived; when nothing has, waits up to waitMs for the first byte
// and takes what came with it.
IoResult WinPort::Read(std::span<char> into, uint32_t waitMs) {
    IoResult result = ReadNow(into);
    if (result.status != IoStatus::kOk || result.count > 0 || waitMs == 0 || into.empty()) {
        return result;
    }
    result = WaitForFirstByte(into, waitMs);
    if (result.status != IoStatus::kOk || result.count == 0) {
        return result;
    }
    IoResult rest = ReadNow(into.subspan(1));
    return {rest.status, 1 + rest.count};
}

bool WinPort::Purge() {
    return PurgeComm(handle_, kPurgeAll) ? true : Failed();
}

uint32_t WinPort::ClearErrors() {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(handle_, &errors, &status);
    return errors;
}

void WinPort::Close() {
    if (handle_ == INVALID_HANDLE_VALUE) {
        return;
    }
    // A control handler may have closed it already; then it is not closed twice.
    HANDLE expected = handle_;
    if (heldPort.compare_exchange_strong(expected, INVALID_HANDLE_VALUE)) {
        CloseHandle(handle_);
    }
    handle_ = INVALID_HANDLE_VALUE;
}

uint32_t WinPort::TickCount() {
    return GetTickCount();
}

std::string WinPort::LastErrorText() {
    return SystemErrorText(lastError_);
}

}  // namespace osprey
