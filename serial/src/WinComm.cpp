#include "WinComm.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <limits>

namespace serialio {
namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// The least a writer hands over at a time once the queue is nearly full: a
// wake-up for every few bytes would cost more than the line gains.
constexpr size_t kSmallestPiece = 256;
constexpr uint64_t kNsPerMs = 1000000;
// Windows wakes a sleeper on its timer tick (15.6 ms unless a program asks
// for finer): at the fastest rates a 1024-byte queue leaves the line sooner,
// so the hold is never less than what the line carries in a tick.
constexpr uint32_t kTimerTickMs = 16;
constexpr size_t kMostHeldPorts = 64;

// The open ports, where a console control handler can reach them; a free
// slot holds null (CreateFileA never opens a port as null).
std::array<std::atomic<HANDLE>, kMostHeldPorts> held{};

int HoldPort(HANDLE handle) {
    for (size_t i = 0; i < held.size(); ++i) {
        HANDLE empty = nullptr;
        if (held[i].compare_exchange_strong(empty, handle)) {
            return static_cast<int>(i);
        }
    }
    return -1;  // closed only by its own Close
}

uint64_t NowNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

DWORD Clamp(size_t count) {
    return static_cast<DWORD>(std::min<size_t>(count, std::numeric_limits<DWORD>::max()));
}

}  // namespace

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

std::string CommDevicePath(std::string_view name) {
    if (name.starts_with("\\\\") || name.find_first_of("\\/:") != std::string_view::npos) {
        return std::string(name);
    }
    return "\\\\.\\" + std::string(name);
}

unsigned FrameBitsOf(const DCB& dcb) {
    unsigned stop = dcb.StopBits == ONESTOPBIT ? 1u : 2u;  // 1.5 occupies the line as 2
    return 1u + dcb.ByteSize + (dcb.Parity == NOPARITY ? 0u : 1u) + stop;
}

bool SameFraming(const DCB& asked, const DCB& taken) {
    return asked.BaudRate == taken.BaudRate && asked.ByteSize == taken.ByteSize &&
           asked.Parity == taken.Parity && asked.StopBits == taken.StopBits;
}

void ReleaseHeldCommPortsNow() {
    for (auto& slot : held) {
        HANDLE handle = slot.exchange(nullptr);
        if (handle != nullptr) {
            PurgeComm(handle, kPurgeAll);  // also ends a transfer another thread waits in
            CloseHandle(handle);
        }
    }
}

WinComm::~WinComm() {
    Close();
}

bool WinComm::Failed() {
    lastError_ = GetLastError();
    return false;
}

bool WinComm::Open(std::string_view path) {
    Close();
    handle_ = CreateFileA(std::string(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        return Failed();
    }
    heldSlot_ = HoldPort(handle_);
    outputQueue_ = kDefaultOutputQueue;
    bytesPerTick_ = 0;
    pacer_ = OutputPacer{};
    return true;
}

bool WinComm::SetQueues(uint32_t inputBytes, uint32_t outputBytes) {
    if (!SetupComm(handle_, inputBytes, outputBytes)) {
        return Failed();
    }
    outputQueue_ = std::max<size_t>(outputBytes, 1);
    return true;
}

bool WinComm::ReadState(DCB& dcb) {
    dcb = DCB{};
    dcb.DCBlength = sizeof(DCB);
    return GetCommState(handle_, &dcb) ? true : Failed();
}

bool WinComm::ApplyState(const DCB& asked) {
    if (asked.BaudRate == 0 || asked.BaudRate > kHighestCommBaud) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    DCB before{};
    if (!ReadState(before)) {
        return false;
    }
    DCB wanted = asked;
    wanted.DCBlength = sizeof(DCB);
    if (!SetCommState(handle_, &wanted)) {
        Failed();
        SetCommState(handle_, &before);
        return false;
    }
    DCB taken{};
    if (!ReadState(taken) || !SameFraming(wanted, taken)) {
        lastError_ = ERROR_INVALID_PARAMETER;
        SetCommState(handle_, &before);
        return false;
    }
    pacer_.SetRate(taken.BaudRate, FrameBitsOf(taken));
    bytesPerTick_ = size_t{taken.BaudRate} / FrameBitsOf(taken) * kTimerTickMs / 1000;
    return true;
}

bool WinComm::SetDriverTimeouts(const COMMTIMEOUTS& timeouts) {
    COMMTIMEOUTS driver = timeouts;
    return SetCommTimeouts(handle_, &driver) ? true : Failed();
}

bool WinComm::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    timeouts_ = timeouts;
    return SetDriverTimeouts(timeouts);
}

size_t WinComm::HeldTo() const {
    return std::max(outputQueue_, bytesPerTick_);
}

// Sleeps until the line has room for `wanted` more bytes (or a little longer,
// so the pieces that follow go out together). False when the write's time is up.
bool WinComm::WaitForRoom(size_t pending, size_t wanted, uint64_t startNs, uint32_t limitMs) {
    uint64_t waited = NowNs() - startNs;
    uint64_t limitNs =
        limitMs == kNoWriteLimit ? std::numeric_limits<uint64_t>::max() : limitMs * kNsPerMs;
    if (waited >= limitNs) {
        return false;
    }
    uint64_t waitNs =
        std::min(pacer_.NanosecondsUntilRoom(pending, wanted, HeldTo()), limitNs - waited);
    // The system sleeps in whole milliseconds: rounded up, never early.
    Sleep(static_cast<DWORD>(std::max<uint64_t>((waitNs + kNsPerMs - 1) / kNsPerMs, 1)));
    return true;
}

WinTransfer WinComm::Write(std::span<const char> bytes, uint32_t limitMs) {
    WinTransfer result;
    const uint64_t start = NowNs();
    while (result.count < bytes.size()) {
        size_t left = bytes.size() - result.count;
        const size_t heldTo = HeldTo();
        size_t pending = pacer_.Pending(NowNs());
        size_t room = heldTo - std::min(pending, heldTo);
        size_t wanted = std::min({left, kSmallestPiece, heldTo});
        if (room < wanted) {
            if (!WaitForRoom(pending, wanted, start, limitMs)) {
                result.state = WinIo::kTimedOut;
                return result;
            }
            continue;
        }
        DWORD written = 0;
        BOOL ok = WriteFile(handle_, bytes.data() + result.count, Clamp(std::min(left, room)),
                            &written, nullptr);
        pacer_.Sent(written, NowNs());
        result.count += written;
        if (!ok) {
            Failed();
            result.state = lastError_ == ERROR_COUNTER_TIMEOUT ? WinIo::kTimedOut : WinIo::kFailed;
            return result;
        }
        if (written == 0) {
            result.state = WinIo::kTimedOut;  // the driver's own time-out: never loop on it
            return result;
        }
    }
    return result;
}

WinTransfer WinComm::ReadNow(std::span<char> into) {
    DWORD received = 0;
    if (!ReadFile(handle_, into.data(), Clamp(into.size()), &received, nullptr)) {
        Failed();
        return {WinIo::kFailed, received};
    }
    if (received > 0) {
        pacer_.Drained(NowNs());  // an answer: the other end read all before it
    }
    return {WinIo::kOk, received};
}

// One byte asked for with a total time-out: the driver returns with the first
// byte or at the time-out, and the thread sleeps in the driver meanwhile.
WinTransfer WinComm::WaitForFirstByte(std::span<char> into, uint32_t waitMs) {
    COMMTIMEOUTS waiting = timeouts_;
    waiting.ReadIntervalTimeout = 0;
    waiting.ReadTotalTimeoutMultiplier = 0;
    waiting.ReadTotalTimeoutConstant = std::min(waitMs, kLongestDriverWaitMs);
    if (!SetDriverTimeouts(waiting)) {
        return {WinIo::kFailed, 0};
    }
    WinTransfer first = ReadNow(into.first(1));
    SetDriverTimeouts(timeouts_);
    return first;
}

WinTransfer WinComm::Read(std::span<char> into, uint32_t waitMs) {
    WinTransfer result = ReadNow(into);
    if (result.state != WinIo::kOk || result.count > 0 || waitMs == 0 || into.empty()) {
        return result;
    }
    result = WaitForFirstByte(into, waitMs);
    if (result.state != WinIo::kOk || result.count == 0) {
        return result;
    }
    WinTransfer rest = ReadNow(into.subspan(1));
    return {rest.state, 1 + rest.count};
}

bool WinComm::Purge() {
    pacer_.Drained(NowNs());
    return PurgeComm(handle_, kPurgeAll) ? true : Failed();
}

DWORD WinComm::ClearErrors() {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(handle_, &errors, &status);
    return errors;
}

void WinComm::Close() {
    if (handle_ == INVALID_HANDLE_VALUE) {
        return;
    }
    // A control handler may have closed it already; then it is not closed twice.
    HANDLE expected = handle_;
    if (heldSlot_ < 0 ||
        held[static_cast<size_t>(heldSlot_)].compare_exchange_strong(expected, nullptr)) {
        CloseHandle(handle_);
    }
    handle_ = INVALID_HANDLE_VALUE;
    heldSlot_ = -1;
}

}  // namespace serialio
