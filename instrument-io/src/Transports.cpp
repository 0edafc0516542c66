#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "NameLookup.h"
#include "Transport.h"

namespace kio {
namespace {

uint32_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// Bytes over a file descriptor: the same for a tty and a socket.
class FdTransport : public Transport {
  public:
    explicit FdTransport(int fd) : fd_(fd) {}
    ~FdTransport() override { ::close(fd_); }

    bool WriteAll(std::span<const char> bytes, uint32_t timeoutMs) override {
        uint32_t start = NowMs();
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == ENOTSOCK) {
                n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            }
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            uint32_t waited = NowMs() - start;
            if (waited >= timeoutMs) {
                return false;
            }
            pollfd pfd{fd_, POLLOUT, 0};
            poll(&pfd, 1, static_cast<int>(timeoutMs - waited));
        }
        return true;
    }

    long ReadSome(std::span<char> into, uint32_t waitMs) override {
        pollfd pfd{fd_, POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(std::min<uint32_t>(waitMs, 0x7fffffff)));
        if (ready <= 0) {
            return 0;
        }
        ssize_t n = ::read(fd_, into.data(), into.size());
        if (n > 0) {
            return n;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return 0;
        }
        return -1;  // closed by the other side, or failed
    }

  private:
    int fd_;
};

speed_t SpeedFor(unsigned long baud) {
    static const std::map<unsigned long, speed_t> kSpeeds = {
        {1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
        {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600}};
    auto found = kSpeeds.find(baud);
    return found == kSpeeds.end() ? B0 : found->second;
}

// "9600,N,8,1" on top of raw mode. False when a part is not understood.
bool ApplySerialSettings(termios& tio, const std::string& settings) {
    unsigned long baud = 9600;
    char parity = 'N';
    int bits = 8;
    int stop = 1;
    if (std::sscanf(settings.c_str(), "%lu,%c,%d,%d", &baud, &parity, &bits, &stop) < 1) {
        return false;
    }
    speed_t speed = SpeedFor(baud);
    if (speed == B0 || bits < 5 || bits > 8 || (stop != 1 && stop != 2)) {
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[bits - 5] | CLOCAL | CREAD | (stop == 2 ? CSTOPB : 0);
    switch (parity) {
        case 'N':
        case 'n':
            break;
        case 'E':
        case 'e':
            tio.c_cflag |= PARENB;
            break;
        case 'O':
        case 'o':
            tio.c_cflag |= PARENB | PARODD;
            break;
        default:
            return false;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return true;
}

// A non-blocking connect that waits in poll() no longer than `timeoutMs`.
std::unique_ptr<Transport> ConnectWithin(const addrinfo& address, uint32_t timeoutMs,
                                         std::string& why) {
    int fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                    address.ai_protocol);
    if (fd < 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    int error = connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        const uint32_t start = NowMs();
        pollfd pfd{fd, POLLOUT, 0};
        int ready = 0;
        for (uint32_t spent = 0; spent < timeoutMs; spent = NowMs() - start) {
            ready = poll(&pfd, 1, static_cast<int>(timeoutMs - spent));
            if (ready >= 0 || errno != EINTR)
                break;
        }
        error = ETIMEDOUT;
        socklen_t length = sizeof error;
        if (ready > 0)
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    }
    if (error == 0)
        return std::make_unique<FdTransport>(fd);
    why = std::strerror(error);
    ::close(fd);
    return nullptr;
}

}  // namespace

std::unique_ptr<Transport> OpenSerial(const std::string& device, const std::string& settings,
                                      std::string& why) {
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = device + ": " + std::strerror(errno);
        return nullptr;
    }
    termios tio{};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = device + " is in use";
    } else if (tcgetattr(fd, &tio) != 0) {
        why = device + " is not a serial port";
    } else if (!ApplySerialSettings(tio, settings)) {
        why = "line settings \"" + settings + "\" not understood";
    } else if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        why = device + ": " + std::strerror(errno);
    } else {
        ioctl(fd, TIOCEXCL);
        return std::make_unique<FdTransport>(fd);
    }
    ::close(fd);
    return nullptr;
}

std::unique_ptr<Transport> OpenTcp(const std::string& host, const std::string& port,
                                   uint32_t timeoutMs, std::string& why) {
    const uint32_t start = NowMs();
    AddressList found = LookUpWithin(host, port, timeoutMs, why);
    if (!found)
        return nullptr;
    const std::string where = host + ":" + port;
    why = where + ": no answer";
    for (const addrinfo* a = found.get(); a != nullptr; a = a->ai_next) {
        const uint32_t spent = NowMs() - start;
        if (spent >= timeoutMs) {
            why = where + ": " + std::strerror(ETIMEDOUT);
            break;
        }
        if (std::unique_ptr<Transport> transport = ConnectWithin(*a, timeoutMs - spent, why)) {
            return transport;
        }
        why = where + ": " + why;
    }
    return nullptr;
}

}  // namespace kio
