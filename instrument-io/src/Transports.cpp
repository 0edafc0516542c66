#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace

std::unique_ptr<Transport> OpenTcp(const std::string& host, const std::string& port,
                                   uint32_t timeoutMs, std::string& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0) {
        why = host + ": " + gai_strerror(error);
        return nullptr;
    }
    std::unique_ptr<Transport> transport;
    why = host + ":" + port + ": no answer";
    for (addrinfo* a = found; a != nullptr && !transport; a = a->ai_next) {
        int fd =
            socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0)
            continue;
        int rc = connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd pfd{fd, POLLOUT, 0};
            int error = ETIMEDOUT;
            socklen_t length = sizeof error;
            if (poll(&pfd, 1, static_cast<int>(timeoutMs)) > 0) {
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
            rc = error == 0 ? 0 : -1;
            errno = error;
        }
        if (rc == 0) {
            transport = std::make_unique<FdTransport>(fd);
        } else {
            why = host + ":" + port + ": " + std::strerror(errno);
            ::close(fd);
        }
    }
    freeaddrinfo(found);
    return transport;
}

}  // namespace kio
