#include "Vxi11Server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "LoopbackSocket.h"
#include "Outbox.h"
#include "Portmapper.h"
#include "RpcWire.h"

namespace kr470 {
namespace {

using Clock = std::chrono::steady_clock;

// A call record larger than this is no call the simulator takes.
constexpr size_t kLargestRecord = 1024 * 1024;
constexpr int kMostConnections = 16;
// How often the loop looks at the stop flag when nothing else wakes it.
constexpr int kStopCheckMs = 200;

enum class Channel { kCore, kPortmapper };

struct Connection {
    Connection(int socket, Channel kind) : fd(socket), channel(kind), outbox(socket) {}
    int fd;
    Channel channel;
    Outbox outbox;  // replies the client has not taken yet
    rpc::RecordReader records{kLargestRecord};
    bool dropped = false;  // closed at the end of the loop's turn, so its number is not reused
    std::optional<std::string> held;  // a reply waiting for its time
    Clock::time_point heldUntil{};
};

class Server {
  public:
    Server(const Vxi11Options& options, const LineHandler& handler,
           const std::function<void()>& onNewLink)
        : options_(options), core_(options, handler) {
        // A link is a new session only for a host alone on the core channel:
        // a second client asking "*IDN?" must not reset a download under way.
        core_.OnNewLink([this, onNewLink] {
            if (onNewLink && OpenCoreConnections() == 1)
                onNewLink();
        });
    }
    ~Server() {
        for (int fd : {coreListener_, mapperListener_, mapperDatagram_})
            if (fd >= 0)
                close(fd);
        for (Connection& c : connections_)
            close(c.fd);
    }

    bool Listen() {
        coreListener_ = BindLoopback(SOCK_STREAM, options_.corePort);
        if (coreListener_ < 0) {
            std::perror("kr470-sim: vxi11");
            return false;
        }
        corePort_ = LocalPort(coreListener_);
        if (options_.portmapper)
            ListenAsPortmapper();
        std::printf("vxi11 %u%s\n", corePort_, mapperListener_ >= 0 ? " portmapper" : "");
        std::fflush(stdout);
        return true;
    }

    // Runs until `stop` or a hang-up.
    void Run(const volatile std::sig_atomic_t& stop) {
        while (!stop && !hungUp_) {
            std::vector<pollfd> fds = PollSet();
            if (poll(fds.data(), fds.size(), WaitMs()) < 0 && errno != EINTR)
                return;
            SendDueReplies();
            for (const pollfd& p : fds) {
                if (p.revents != 0)
                    Ready(p.fd, p.revents);
            }
            CloseDropped();
        }
    }

  private:
    void ListenAsPortmapper() {
        mapperListener_ = BindLoopback(SOCK_STREAM, kPortmapperPort);
        if (mapperListener_ >= 0)
            mapperDatagram_ = BindLoopback(SOCK_DGRAM, kPortmapperPort);
        if (mapperListener_ < 0 || mapperDatagram_ < 0) {
            std::fprintf(stderr,
                         "kr470-sim: portmapper: cannot bind 127.0.0.1:%u: %s; "
                         "serving without it\n",
                         kPortmapperPort, std::strerror(errno));
            if (mapperListener_ >= 0)
                close(mapperListener_);
            mapperListener_ = -1;
        }
    }

    std::vector<pollfd> PollSet() const {
        std::vector<pollfd> fds;
        for (int fd : {coreListener_, mapperListener_, mapperDatagram_})
            if (fd >= 0)
                fds.push_back({fd, POLLIN, 0});
        for (const Connection& c : connections_) {
            // Its next call waits until the reply held is sent, and until the
            // client takes the replies it has been sent.
            const bool reading = !c.held && !c.outbox.Full();
            fds.push_back(
                {c.fd,
                 static_cast<short>((reading ? POLLIN : 0) | (c.outbox.Empty() ? 0 : POLLOUT)), 0});
        }
        return fds;
    }

    int WaitMs() const {
        auto wait = std::chrono::milliseconds(kStopCheckMs);
        const auto now = Clock::now();
        for (const Connection& c : connections_)
            if (c.held)
                wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          c.heldUntil - now + std::chrono::milliseconds(1)));
        return static_cast<int>(std::max<long long>(wait.count(), 0));
    }

    void SendDueReplies() {
        const auto now = Clock::now();
        for (Connection& c : connections_) {
            if (c.held && c.heldUntil <= now) {
                if (!c.outbox.Send(rpc::MarkRecord(*c.held)))
                    Drop(c);
                c.held.reset();
                if (!c.dropped)
                    Answer(c);  // calls that came meanwhile
            }
        }
    }

    void Ready(int fd, short events) {
        if (fd == coreListener_ || fd == mapperListener_) {
            Accept(fd, fd == coreListener_ ? Channel::kCore : Channel::kPortmapper);
        } else if (fd == mapperDatagram_) {
            AnswerDatagram();
        } else {
            for (Connection& c : connections_)
                if (c.fd == fd && !c.dropped)
                    Serve(c, events);
        }
    }

    void Accept(int listener, Channel channel) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        if (connections_.size() >= kMostConnections) {
            close(fd);
            return;
        }
        connections_.emplace_back(fd, channel);
    }

    void AnswerDatagram() {
        std::string call(8192, '\0');
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t n = recvfrom(mapperDatagram_, call.data(), call.size(), 0,
                             reinterpret_cast<sockaddr*>(&from), &length);
        if (n <= 0 || muted_)
            return;
        call.resize(static_cast<size_t>(n));
        if (std::optional<std::string> reply = AnswerPortmapperCall(call, corePort_))
            sendto(mapperDatagram_, reply->data(), reply->size(), 0,
                   reinterpret_cast<sockaddr*>(&from), length);
    }

    void Serve(Connection& c, short events) {
        if (events & POLLOUT) {
            if (!c.outbox.Flush())
                return Drop(c);
            Answer(c);  // calls that waited for the client to take its replies
        }
        if (!c.dropped && (events & (POLLIN | POLLHUP | POLLERR)) && !c.held && !c.outbox.Full())
            Receive(c);
    }

    void Receive(Connection& c) {
        char buffer[8192];
        ssize_t n = read(c.fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0)
            return Drop(c);
        c.records.Feed(std::string_view(buffer, static_cast<size_t>(n)));
        Answer(c);
    }

    // Answers the whole calls received on `c`, until one reply must wait.
    void Answer(Connection& c) {
        std::string call;
        while (!muted_ && !c.held && !c.outbox.Full()) {
            rpc::RecordReader::State state = c.records.Next(call);
            if (state == rpc::RecordReader::State::kNeedMore)
                return;
            if (state == rpc::RecordReader::State::kTooLarge)
                return Drop(c);
            if (c.channel == Channel::kPortmapper) {
                std::optional<std::string> reply = AnswerPortmapperCall(call, corePort_);
                if (!reply || !c.outbox.Send(rpc::MarkRecord(*reply)))
                    return Drop(c);
                continue;
            }
            AnswerCore(c, call);
            if (c.dropped)
                return;
        }
    }

    void AnswerCore(Connection& c, const std::string& call) {
        Vxi11Core::Answer answer = core_.Handle(call);
        if (answer.hangUp) {
            hungUp_ = true;  // the instrument dropped the line: the run ends
            return Drop(c);
        }
        muted_ = muted_ || answer.mute;
        if (answer.reply.empty() || muted_)
            return;
        if (answer.holdMs > 0) {
            c.held = std::move(answer.reply);
            c.heldUntil = Clock::now() + std::chrono::milliseconds(answer.holdMs);
        } else if (!c.outbox.Send(rpc::MarkRecord(answer.reply))) {
            Drop(c);
        }
    }

    void Drop(Connection& c) {
        c.dropped = true;
        c.held.reset();
    }

    int OpenCoreConnections() const {
        return static_cast<int>(std::count_if(
            connections_.begin(), connections_.end(),
            [](const Connection& c) { return c.channel == Channel::kCore && !c.dropped; }));
    }

    void CloseDropped() {
        for (const Connection& c : connections_)
            if (c.dropped)
                close(c.fd);
        std::erase_if(connections_, [](const Connection& c) { return c.dropped; });
    }

    const Vxi11Options& options_;
    Vxi11Core core_;
    int coreListener_ = -1;
    int mapperListener_ = -1;
    int mapperDatagram_ = -1;
    uint16_t corePort_ = 0;
    std::vector<Connection> connections_;
    bool hungUp_ = false;
    bool muted_ = false;  // a mute fault fired: nothing is answered any more
};

}  // namespace

int ServeVxi11(const Vxi11Options& options, const LineHandler& handler,
               const volatile std::sig_atomic_t& stop, const std::function<void()>& onNewLink) {
    Server server(options, handler, onNewLink);
    if (!server.Listen())
        return 1;
    server.Run(stop);
    return 0;
}

}  // namespace kr470
