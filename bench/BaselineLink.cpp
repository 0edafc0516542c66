// The baseline the updater's link is measured against: the [Code] records of
// an update file written to a serial device with nothing in between.
//   bench-baseline DEVICE UPDATE_FILE normal   one write per command, one for its LF
//   bench-baseline DEVICE UPDATE_FILE strict   the same as queries, each reply
//                                              awaited with poll()
// Either way the pass ends with "*OPC?" and its reply.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
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

// Waits in poll() for one reply line, reading what has arrived at once.
bool AwaitReply() {
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench-baseline DEVICE UPDATE_FILE normal|strict\n");
        return 2;
    }
    const bool strict = std::strcmp(argv[3], "strict") == 0;
    device = open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (device < 0 || tcgetattr(device, &raw) != 0) {
        std::perror(argv[1]);
        return 2;
    }
    cfmakeraw(&raw);
    tcsetattr(device, TCSANOW, &raw);
    const char* word = strict ? "dlo? \"" : "dlo \"";
    for (const std::string& record : CodeRecords(argv[2])) {
        if (!Send(word + record + "\" ") || (strict && !AwaitReply())) {
            std::fprintf(stderr, "the device stopped answering\n");
            return 1;
        }
    }
    return Send("*OPC?") && AwaitReply() ? 0 : 1;
}
