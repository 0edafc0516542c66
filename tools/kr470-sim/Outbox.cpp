#include "Outbox.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kr470 {

// send() on a socket (no SIGPIPE for a peer gone), write() on a terminal.
ssize_t Outbox::Put(const char* data, size_t size) {
    if (socket_) {
        ssize_t n = send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0 || errno != ENOTSOCK)
            return n;
        socket_ = false;
    }
    return write(fd_, data, size);
}

bool Outbox::Send(std::string_view bytes) {
    pending_.append(bytes);
    return Flush();
}

bool Outbox::Flush() {
    size_t done = 0;
    while (done < pending_.size()) {
        ssize_t n = Put(pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    pending_.erase(0, done);
    return true;
}

}  // namespace kr470
