// The TCP transport: a connect bounded with its name lookup (OpenTcp,
// ConnectTcp) and bytes over the connected socket, every wait in poll().
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

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

    void SendPromptly() override {
        int yes = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);  // a tty just refuses
    }

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

    // Shutting the socket down wakes its poll(): the read ends, and so does
    // every later one.
    void Interrupt() override {
        interrupted_ = true;
        ::shutdown(fd_, SHUT_RDWR);
    }
    std::string Problem() const override {
        return interrupted_ ? "interrupted on request" : std::string();
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
    std::atomic<bool> interrupted_{false};
};

// A non-blocking connect that waits in poll() no longer than `timeoutMs`.
int ConnectWithin(const addrinfo& address, uint32_t timeoutMs, std::string& why) {
    int fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                    address.ai_protocol);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
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
        return fd;
    why = std::strerror(error);
    ::close(fd);
    return -1;
}

}  // namespace

void StartSockets() {}  // the BSD sockets need no start

int ConnectTcp(const std::string& host, const std::string& port, uint32_t timeoutMs,
               std::string& why) {
    const uint32_t start = NowMs();
    AddressList found = LookUpWithin(host, port, timeoutMs, why);
    if (!found)
        return -1;
    const std::string where = host + ":" + port;
    why = where + ": no answer";
    for (const addrinfo* a = found.get(); a != nullptr; a = a->ai_next) {
        const uint32_t spent = NowMs() - start;
        if (spent >= timeoutMs) {
            why = where + ": " + std::strerror(ETIMEDOUT);
            break;
        }
        if (int fd = ConnectWithin(*a, timeoutMs - spent, why); fd >= 0) {
            return fd;
        }
        why = where + ": " + why;
    }
    return -1;
}

std::unique_ptr<Transport> OpenTcp(const std::string& host, const std::string& port,
                                   uint32_t timeoutMs, std::string& why) {
    int fd = ConnectTcp(host, port, timeoutMs, why);
    if (fd < 0)
        return nullptr;
    return std::make_unique<FdTransport>(fd);
}

}  // namespace kio
