#include "SerialDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "HeldPorts.h"
#include "LockFile.h"

namespace serialio {
namespace {

constexpr uint32_t kHighestBaud = 12000000;
constexpr uint32_t kModemPollMs = 10;
constexpr uint32_t kLongestSliceMs = 20;
constexpr uint64_t kNsPerMs = 1000000;
// A write waits until this much of the piece fits; keeps pieces whole lines.
constexpr size_t kSmallestPiece = 256;

bool ToTermios(const LineConfig& config, termios& tio) {
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (config.dataBits < 5 || config.dataBits > 8) {
        return false;
    }
    tio.c_cflag |= kSizes[config.dataBits - 5];
    switch (config.parity) {
        case 'N':
            break;
        case 'O':
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 'E':
            tio.c_cflag |= PARENB;
            break;
        case 'M':
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 'S':
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return false;
    }
    // Two stop bits with a 5-bit byte give one and a half on 16550-type UARTs.
    tio.c_cflag |= config.stopBits != 1 ? CSTOPB : 0;
    tio.c_cflag |= config.handshake == Handshake::kRtsCts ? CRTSCTS : 0;
    tio.c_iflag |= config.handshake == Handshake::kXonXoff ? (IXON | IXOFF) : 0;
    tio.c_cc[VSTART] = static_cast<cc_t>(config.xonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(config.xoffChar);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return true;
}

// The fields a device may silently drop.
bool SameLine(const termios& a, const termios& b) {
    constexpr tcflag_t kControl = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    constexpr tcflag_t kInput = IXON | IXOFF | INPCK;
    return (a.c_cflag & kControl) == (b.c_cflag & kControl) &&
           (a.c_iflag & kInput) == (b.c_iflag & kInput);
}

bool SpeedTaken(uint32_t asked, uint32_t reported) {
    // A UART's divisor may land a little off a non-standard rate; within 2%
    // the line still works.
    uint64_t difference = asked > reported ? asked - reported : reported - asked;
    return difference * 50 <= asked;
}

void SleepMs(uint32_t ms) {
    poll(nullptr, 0, static_cast<int>(ms));
}

timespec ToTimespec(uint64_t ns) {
    return timespec{static_cast<time_t>(ns / 1000000000u), static_cast<long>(ns % 1000000000u)};
}

// Holds signals back while a port changes hands, so a handler that releases
// the held ports never finds one half taken or half given back.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

}  // namespace

uint64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint32_t MonotonicMs() {
    return static_cast<uint32_t>(MonotonicNs() / 1000000u);
}

SerialDevice::~SerialDevice() {
    Close();
}

bool SerialDevice::Open(const std::string& path, OpenFailure& why) {
    Close();
    why = {};
    SignalsHeld held;
    if (!AcquireLock(path, why)) {
        lastErrno_ = why.error;
        return false;
    }
    if (!OpenExclusive(path, why)) {
        lastErrno_ = why.error;
        ReleaseLock();
        return false;
    }
    heldSlot_ = HoldPort(fd_, saved_, lockPath_);
    std::optional<ErrorCounts> counts = ReadErrorCounts(fd_);
    hasCounters_ = counts.has_value();
    counts_ = counts.value_or(ErrorCounts{});
    errorFlags_ = 0;
    hasModemLines_ = true;  // until this device says otherwise
    return true;
}

bool SerialDevice::AcquireLock(const std::string& path, OpenFailure& why) {
    std::string folder = LockDirectory();
    if (folder.empty()) {
        return true;  // nowhere to lock: the other exclusions still hold
    }
    LockOutcome lock = TakeLock(path, folder);
    if (lock.status == LockStatus::kHeld) {
        why.error = EBUSY;
        why.holder = lock.holder;
        return false;
    }
    if (lock.status == LockStatus::kFailed) {
        // Said, whatever follows: a port without its lock file is open to
        // programs that trust lock files. A folder the user named is binding.
        const bool named = LockDirectoryNamed();
        std::fprintf(stderr, "%s: no lock file for %s: %s%s\n", program_invocation_short_name,
                     path.c_str(), lock.problem.c_str(),
                     named ? "; the port is not opened (KR470_LOCK_DIR names the folder)" : "");
        if (named) {
            why.error = lock.error;
            why.lockRefused = true;
            return false;
        }
    }
    lockPath_ = lock.path;  // empty when no lock could be made: go on without
    return true;
}

bool SerialDevice::OpenExclusive(const std::string& path, OpenFailure& why) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why.error = errno;
        return false;
    }
    termios tio{};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why.error = errno == EWOULDBLOCK ? EBUSY : errno;
    } else if (tcgetattr(fd, &tio) != 0 || !SaveTermios(fd, saved_)) {
        why.error = errno;
    } else if (ioctl(fd, TIOCEXCL) != 0) {
        why.error = errno;
    } else {
        // Raw from the first moment: no echo, no line-end translation.
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &tio);
        fd_ = fd;
        return true;
    }
    ::close(fd);
    return false;
}

bool SerialDevice::Configure(const LineConfig& config) {
    if (fd_ < 0) {
        lastErrno_ = EBADF;
        return false;
    }
    SavedTermios previous;
    if (!SaveTermios(fd_, previous)) {
        lastErrno_ = errno;
        return false;
    }
    if (!ApplyTermios(config)) {
        lastErrno_ = errno != 0 ? errno : EINVAL;
        RestoreTermios(fd_, previous);
        return false;
    }
    SetModemLines(config.handshake);
    pacer_.SetRate(config.baud, config.FrameBits());
    config_ = config;
    return true;
}

bool SerialDevice::ApplyTermios(const LineConfig& config) {
    termios wanted{};
    errno = 0;
    if (config.baud == 0 || config.baud > kHighestBaud || tcgetattr(fd_, &wanted) != 0 ||
        !ToTermios(config, wanted)) {
        return false;
    }
    termios taken{};
    return tcsetattr(fd_, TCSANOW, &wanted) == 0 && SetLineSpeed(fd_, config.baud) &&
           tcgetattr(fd_, &taken) == 0 && SameLine(wanted, taken) &&
           SpeedTaken(config.baud, GetLineSpeed(fd_));
}

void SerialDevice::SetModemLines(Handshake mode) {
    ModemLines lines = ModemLinesFor(mode);
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    // A device without modem lines (a pseudo-terminal) answers ENOTTY: fine.
    ioctl(fd_, lines.raiseDtr ? TIOCMBIS : TIOCMBIC, &dtr);
    if (lines.lowerRts) {
        ioctl(fd_, TIOCMBIC, &rts);
    }
}

void SerialDevice::RaiseModemLines() {
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (fd_ >= 0) {
        ioctl(fd_, TIOCMBIS, &lines);  // a device without modem lines answers ENOTTY: fine
    }
}

bool SerialDevice::WaitForDataSetReady(uint32_t waitMs) {
    uint32_t start = MonotonicMs();
    for (;;) {
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) != 0) {
            // No modem lines to honour: a device that has none never will, so
            // the writes that follow skip the question.
            hasModemLines_ = errno != ENOTTY && errno != EINVAL;
            return true;
        }
        if ((lines & TIOCM_DSR) != 0) {
            return true;
        }
        uint32_t waited = MonotonicMs() - start;
        if (waited >= waitMs) {
            return false;
        }
        // The tty layer has no wait-with-deadline for a modem line; check it
        // every few milliseconds instead.
        SleepMs(std::min(kModemPollMs, waitMs - waited));
    }
}

size_t SerialDevice::PendingOutput(uint64_t nowNs) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) {
        queued = 0;
    }
    return std::max(static_cast<size_t>(queued), pacer_.Pending(nowNs));
}

// Waits one short slice for the line to take `wanted` more bytes. False when
// the write's time is up.
bool SerialDevice::WaitForRoom(size_t wanted, uint32_t start, uint32_t limitMs) {
    uint32_t waited = MonotonicMs() - start;
    if (waited >= limitMs) {
        return false;
    }
    size_t pending = PendingOutput(MonotonicNs());
    uint64_t waitNs = std::min({pacer_.NanosecondsUntilRoom(pending, wanted, kMaxPendingOutput),
                                kLongestSliceMs * kNsPerMs, (limitMs - waited) * kNsPerMs});
    timespec slice = ToTimespec(waitNs);
    pollfd pfd{fd_, POLLOUT, 0};
    // Room in the driver but not on the line: sleep the slice out.
    if (ppoll(&pfd, 1, &slice, nullptr) > 0 && (pfd.revents & POLLOUT) != 0) {
        ppoll(nullptr, 0, &slice, nullptr);
    }
    return true;
}

Transfer SerialDevice::Write(std::span<const char> bytes, uint32_t limitMs) {
    Transfer result;
    if (fd_ < 0) {
        lastErrno_ = EBADF;
        result.state = IoState::kFailed;
        return result;
    }
    uint32_t start = MonotonicMs();
    if (config_.handshake == Handshake::kDtrDsr && hasModemLines_ &&
        !WaitForDataSetReady(limitMs)) {
        result.state = IoState::kTimedOut;
        return result;
    }
    while (result.count < bytes.size()) {
        size_t left = bytes.size() - result.count;
        size_t pending = PendingOutput(MonotonicNs());
        size_t room = kMaxPendingOutput - std::min(pending, kMaxPendingOutput);
        if (room < std::min(left, kSmallestPiece)) {
            if (!WaitForRoom(std::min(left, kSmallestPiece), start, limitMs)) {
                result.state = IoState::kTimedOut;
                return result;
            }
            continue;
        }
        ssize_t n = ::write(fd_, bytes.data() + result.count, std::min(left, room));
        if (n > 0) {
            pacer_.Sent(static_cast<size_t>(n), MonotonicNs());
            result.count += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            lastErrno_ = errno;
            result.state = IoState::kFailed;
            return result;
        }
        if (!WaitForRoom(std::min(left, kSmallestPiece), start, limitMs)) {
            result.state = IoState::kTimedOut;
            return result;
        }
    }
    return result;
}

Transfer SerialDevice::Read(std::span<char> into, uint32_t waitMs) {
    Transfer result;
    if (fd_ < 0) {
        lastErrno_ = EBADF;
        errorFlags_ |= kLineGone;
        result.state = IoState::kFailed;
        return result;
    }
    pollfd pfd{fd_, POLLIN, 0};
    int ready = poll(&pfd, 1, static_cast<int>(std::min<uint32_t>(waitMs, 0x7fffffff)));
    if (ready <= 0) {
        return result;  // time up, or interrupted: the caller checks its deadline
    }
    if ((pfd.revents & POLLIN) == 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        lastErrno_ = EIO;
        errorFlags_ |= kLineGone;
        result.state = IoState::kFailed;
        return result;
    }
    ssize_t n = ::read(fd_, into.data(), into.size());
    if (n > 0) {
        result.count = static_cast<size_t>(n);
        pacer_.Drained(MonotonicNs());  // an answer: the other end read all before it
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        lastErrno_ = n == 0 ? EIO : errno;
        errorFlags_ |= kLineGone;
        result.state = IoState::kFailed;
        return result;
    }
    if (!CheckLineErrors()) {
        result.state = IoState::kFailed;
    }
    return result;
}

// False when the driver counted a receive error since the last look.
bool SerialDevice::CheckLineErrors() {
    if (!hasCounters_) {
        return true;
    }
    std::optional<ErrorCounts> now = ReadErrorCounts(fd_);
    if (!now) {
        return true;
    }
    uint32_t flags = FlagsBetween(counts_, *now);
    counts_ = *now;
    errorFlags_ |= flags;
    if (flags != 0) {
        lastErrno_ = EIO;
    }
    return flags == 0;
}

uint32_t SerialDevice::TakeErrorFlags() {
    if (fd_ >= 0) {
        CheckLineErrors();
    }
    uint32_t flags = errorFlags_;
    errorFlags_ = 0;
    return flags;
}

bool SerialDevice::Purge() {
    pacer_.Drained(MonotonicNs());
    return fd_ >= 0 && tcflush(fd_, TCIOFLUSH) == 0;
}

// Lets what is still on its way out reach the line (at most the bounded
// backlog's time), so putting the old speed back cannot garble it.
void SerialDevice::DrainOutput() {
    size_t pending = PendingOutput(MonotonicNs());
    uint32_t start = MonotonicMs();
    uint32_t limit = pacer_.MillisecondsFor(kMaxPendingOutput) + kLongestSliceMs;
    while (pending > 0 && MonotonicMs() - start < limit) {
        SleepMs(std::min(pacer_.MillisecondsFor(pending), kLongestSliceMs));
        pending = PendingOutput(MonotonicNs());
    }
}

void SerialDevice::Close() {
    if (fd_ < 0) {
        return;
    }
    DrainOutput();
    SignalsHeld held;
    ForgetPort(heldSlot_);
    heldSlot_ = -1;
    tcflush(fd_, TCIOFLUSH);  // a line held by flow control must not hold up the close
    RestoreTermios(fd_, saved_);
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
    ReleaseLock();
}

void SerialDevice::ReleaseLock() {
    if (!lockPath_.empty()) {
        serialio::ReleaseLock(lockPath_.c_str());
        lockPath_.clear();
    }
}

}  // namespace serialio
