// The finder's search time against the time of its probes: N loopback
// instruments that take the connection and never answer, so every probe
// lasts its whole reply time-out. Prints the search's wall time, the slowest
// probe and the sum of all probes (what probing one after another would take).
// Usage: bench-finder-search N
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "Discovery.h"
#include "ProbePool.h"

namespace {

using Clock = std::chrono::steady_clock;

// A loopback port that accepts (the kernel does) and never replies.
int SilentListener(std::string& address) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) != 0)
        std::exit(1);
    address = "TCPIP0::127.0.0.1::" + std::to_string(ntohs(where.sin_port)) + "::SOCKET";
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<int> listeners;
    std::vector<std::string> addresses(static_cast<size_t>(count));
    for (std::string& address : addresses)
        listeners.push_back(SilentListener(address));

    std::shared_ptr<kestrel::IOFactory> factory = kestrel::CreateIOFactory();
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0;
    double slowest = 0, sum = 0;
    const Clock::time_point start = Clock::now();
    for (const std::string& address : addresses) {
        kestrel::ProbePool::Shared().Submit([&, address] {
            const Clock::time_point begun = Clock::now();
            kestrel::ProbeInstrument(*factory, address, 1500, nullptr);
            const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
            std::lock_guard lock(mutex);
            slowest = std::max(slowest, seconds);
            sum += seconds;
            ++done;
            finished.notify_one();
        });
    }
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done == count; });
    const double search = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%d probes: search %.2f s, slowest probe %.2f s, one after another %.2f s\n", count,
                search, slowest, sum);
    for (int fd : listeners)
        close(fd);
    return 0;
}
