#include "PosixPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "LineSpeed.h"
#include "PortsFile.h"
#include "SerialLink.h"

namespace osprey {
namespace {

constexpr uint32_t kHighestBaud = 12000000;
constexpr uint32_t kModemPollMs = 10;

uint32_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

// Byte size, parity, stop bits and flow control of `settings` on top of raw
// mode. False for a byte size no tty can do.
bool ToTermios(const LineSettings& settings, termios& tio) {
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    switch (settings.byteSize) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            return false;
    }
    switch (settings.parity) {
        case kNoParity:
            break;
        case kOddParity:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case kEvenParity:
            tio.c_cflag |= PARENB;
            break;
        case kMarkParity:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case kSpaceParity:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return false;
    }
    if (settings.parityCheck) {
        tio.c_iflag |= INPCK;
    }
    // Two stop bits with a 5-bit byte give one and a half on 16550-type UARTs.
    if (settings.stopBits != kOneStopBit) {
        tio.c_cflag |= CSTOPB;
    }
    if (settings.outxCtsFlow || settings.rtsControl == kRtsHandshake) {
        tio.c_cflag |= CRTSCTS;
    }
    if (settings.outX) {
        tio.c_iflag |= IXON;
    }
    if (settings.inX) {
        tio.c_iflag |= IXOFF;
    }
    tio.c_cc[VSTART] = static_cast<cc_t>(settings.xonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(settings.xoffChar);
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

}  // namespace

std::unique_ptr<SerialPort> CreatePlatformPort() {
    return std::make_unique<PosixPort>();
}

PosixPort::~PosixPort() {
    Close();
}

bool PosixPort::Open(std::string_view devicePath) {
    Close();
    std::optional<int> number = PortNumberOf(devicePath);
    if (!number) {
        lastErrno_ = ENOENT;
        return false;
    }
    PortEntry entry = LookUpPort(*number, "9600,N,8,1");
    return OpenDevice(entry.device.c_str());
}

bool PosixPort::OpenDevice(const char* path) {
    int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastErrno_ = errno;
        return false;
    }
    termios tio{};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, &tio) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        lastErrno_ = errno;
        ::close(fd);
        return false;
    }
    // Raw from the first moment: no echo, no line-end translation.
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
    fd_ = fd;
    errorFlags_ = 0;
    hasModemLines_ = true;  // until this device says otherwise
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
    // The tty layer sizes its own queues; only an open port is needed.
    if (fd_ < 0) {
        lastErrno_ = EBADF;
        return false;
    }
    return true;
}

bool PosixPort::ApplySettings(const LineSettings& settings) {
    termios previous{};
    if (fd_ < 0 || tcgetattr(fd_, &previous) != 0) {
        return false;
    }
    uint32_t previousSpeed = GetLineSpeed(fd_);
    termios wanted = previous;
    if (settings.baudRate == 0 || settings.baudRate > kHighestBaud ||
        !ToTermios(settings, wanted)) {
        return false;
    }
    termios taken{};
    bool ok = tcsetattr(fd_, TCSANOW, &wanted) == 0 && SetLineSpeed(fd_, settings.baudRate) &&
              tcgetattr(fd_, &taken) == 0 && SameLine(wanted, taken) &&
              SpeedTaken(settings.baudRate, GetLineSpeed(fd_));
    if (!ok) {
        lastErrno_ = errno;
        tcsetattr(fd_, TCSANOW, &previous);
        if (previousSpeed != 0) {
            SetLineSpeed(fd_, previousSpeed);
        }
        return false;
    }
    dsrFlow_ = settings.outxDsrFlow;
    SetDataTerminalReady(settings.dtrControl != kDtrDisable);
    return true;
}

void PosixPort::SetDataTerminalReady(bool on) {
    int line = TIOCM_DTR;
    // A device without modem lines (a pseudo-terminal) answers ENOTTY: fine.
    ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
}

bool PosixPort::WaitForDataSetReady(uint32_t waitMs) {
    uint32_t start = MonotonicMilliseconds();
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
        uint32_t waited = MonotonicMilliseconds() - start;
        if (waited >= waitMs) {
            return false;
        }
        // The tty layer has no wait-with-deadline for a modem line; check it
        // every few milliseconds instead.
        usleep(std::min(kModemPollMs, waitMs - waited) * 1000);
    }
}

bool PosixPort::SetTimeouts(const PortTimeouts& timeouts) {
    timeouts_ = timeouts;
    return fd_ >= 0;
}

IoResult PosixPort::Write(std::span<const char> bytes) {
    IoResult result;
    if (fd_ < 0) {
        lastErrno_ = EBADF;
        result.status = IoStatus::kFailed;
        return result;
    }
    uint32_t start = MonotonicMilliseconds();
    uint32_t limit = timeouts_.writeTotalConstant;
    if (dsrFlow_ && hasModemLines_ && !WaitForDataSetReady(limit)) {
        result.status = IoStatus::kTimedOut;
        return result;
    }
    while (result.count < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + result.count, bytes.size() - result.count);
        if (n > 0) {
            result.count += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            lastErrno_ = errno;
            result.status = IoStatus::kFailed;
            return result;
        }
        uint32_t waited = MonotonicMilliseconds() - start;
        if (waited >= limit) {
            result.status = IoStatus::kTimedOut;
            return result;
        }
        pollfd pfd{fd_, POLLOUT, 0};
        if (poll(&pfd, 1, static_cast<int>(limit - waited)) > 0 &&
            (pfd.revents & (POLLERR | POLLHUP)) != 0) {
            lastErrno_ = EIO;
            result.status = IoStatus::kFailed;
            return result;
        }
    }
    return result;
}

IoResult PosixPort::Read(std::span<char> into, uint32_t waitMs) {
    IoResult result;
    if (fd_ < 0) {
        lastErrno_ = EBADF;
        errorFlags_ |= kLineGone;
        result.status = IoStatus::kFailed;
        return result;
    }
    pollfd pfd{fd_, POLLIN, 0};
    int ready = poll(&pfd, 1, static_cast<int>(std::min<uint32_t>(waitMs, 0x7fffffff)));
    if (ready < 0) {
        return result;  // interrupted: the caller checks its deadline and waits again
    }
    if (ready == 0) {
        return result;
    }
    if ((pfd.revents & POLLIN) == 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        lastErrno_ = EIO;
        errorFlags_ |= kLineGone;
        result.status = IoStatus::kFailed;
        return result;
    }
    ssize_t n = ::read(fd_, into.data(), into.size());
    if (n > 0) {
        result.count = static_cast<size_t>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        lastErrno_ = n == 0 ? EIO : errno;
        errorFlags_ |= kLineGone;
        result.status = IoStatus::kFailed;
    }
    return result;
}

bool PosixPort::Purge() {
    return fd_ >= 0 && tcflush(fd_, TCIOFLUSH) == 0;
}

uint32_t PosixPort::ClearErrors() {
    uint32_t flags = errorFlags_;
    errorFlags_ = 0;
    return flags;
}

void PosixPort::Close() {
    if (fd_ < 0) {
        return;
    }
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

uint32_t PosixPort::TickCount() {
    return MonotonicMilliseconds();
}

std::string PosixPort::LastErrorText() {
    return std::strerror(lastErrno_);
}

}  // namespace osprey
