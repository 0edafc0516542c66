// The baseline the updater's link is measured against: the [Code] records of
// an update file written to a serial device with nothing in between.
//   bench-baseline DEVICE UPDATE_FILE normal   one write per command, one for its LF
//   bench-baseline DEVICE UPDATE_FILE strict   the same as queries, each reply
//                                              awaited with poll()
// Either way the pass ends with "*OPC?" and its reply.
//   ... normal|strict gpib:N   the same through a "++" controller to GPIB address N:
//                              set up once, "++read eoi" before each reply
// DEVICE may be 127.0.0.1:PORT, a controller on a loopback TCP port.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CodeRecords.h"

namespace {

int device = -1;

bool WriteAll(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(device, text.data() + done, text.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool Send(const std::string& command) {
    return WriteAll(command) && WriteAll("\n");
}

// Set when a "++" controller stands between: each reply is asked for.
bool throughController = false;

// Waits in poll() for one reply line, reading what has arrived at once.
bool AwaitReply() {
    if (throughController && !WriteAll("++read eoi\n"))
        return false;
    char buffer[64];
    for (;;) {
        pollfd p = {device, POLLIN, 0};
        if (poll(&p, 1, 12000) <= 0)
            return false;
        ssize_t n = read(device, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        if (std::memchr(buffer, '\n', static_cast<size_t>(n)) != nullptr)
            return true;  // one query at a time: nothing follows the line end
    }
}

// A connection to 127.0.0.1:PORT, each write sent at once as the plug-in's is.
int ConnectLoopback(const char* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(std::atoi(port)));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0)
        return -1;
    int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return fd;
}

bool OpenRaw(const char* path) {
    device = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (device < 0 || tcgetattr(device, &raw) != 0)
        return false;
    cfmakeraw(&raw);
    return tcsetattr(device, TCSANOW, &raw) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::strncmp(argv[4], "gpib:", 5) == 0)) {
        std::fprintf(stderr,
                     "usage: bench-baseline DEVICE|127.0.0.1:PORT UPDATE_FILE normal|strict "
                     "[gpib:N]\n");
        return 2;
    }
    const bool strict = std::strcmp(argv[3], "strict") == 0;
    const char* loopback = "127.0.0.1:";
    if (std::strncmp(argv[1], loopback, std::strlen(loopback)) == 0) {
        device = ConnectLoopback(argv[1] + std::strlen(loopback));
    } else if (!OpenRaw(argv[1])) {
        device = -1;
    }
    if (device < 0) {
        std::perror(argv[1]);
        return 2;
    }
    throughController = argc == 5;
    if (throughController &&
        !WriteAll("++mode 1\n++auto 0\n++eoi 1\n++eos 2\n++read_tmo_ms 3000\n++addr " +
                  std::string(argv[4] + 5) + "\n")) {
        return 1;
    }
    const char* word = strict ? "dlo? \"" : "dlo \"";
    for (const std::string& record : CodeRecords(argv[2])) {
        if (!Send(word + record + "\" ") || (strict && !AwaitReply())) {
            std::fprintf(stderr, "the device stopped answering\n");
            return 1;
        }
    }
    return Send("*OPC?") && AwaitReply() ? 0 : 1;
}
