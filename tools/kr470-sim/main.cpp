// kr470-sim: a KR470A instrument on a pseudo-terminal (or a loopback TCP
// port). Prints the device path (or "tcp <port>") on its first output line,
// then answers the update dialogue until the line drops or it is stopped.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "Instrument.h"
#include "LineInput.h"
#include "LoopbackSocket.h"
#include "Outbox.h"
#include "PlusPlusFace.h"
#include "SimOptions.h"
#include "Vxi11Server.h"
#include "WritePath.h"

namespace {

using Clock = std::chrono::steady_clock;

using Settings = kr470::SimSettings;
using kr470::DeliverLine;
using kr470::FaceOutput;

// Measures each download pass, from the first record line to the "*OPC?"
// that closes it: how busy the updater kept the line, how many records a
// second it sent, and the median time from one record to the next (in
// strict checking, one round trip).
class PassStats {
  public:
    PassStats(int baud, bool enabled) : baud_(baud), enabled_(enabled) {}
    void Line(const std::string& line, Clock::time_point arrived) {
        if (!enabled_)
            return;
        bool record = line.starts_with("dlo \"") || line.starts_with("dlo? \"");
        if (record && !open_) {
            open_ = true;
            start_ = arrived;
            bytes_ = 0;  // the bytes between this line's arrival and the last one's count
            records_ = 0;
            intervals_.clear();
        } else if (open_) {
            bytes_ += line.size() + 1;
        }
        if (record) {
            if (records_++ > 0)
                intervals_.push_back(std::chrono::duration<double>(arrived - last_).count());
            last_ = arrived;
        }
        if (open_ && line == "*OPC?") {
            open_ = false;
            Report(std::chrono::duration<double>(arrived - start_).count(),
                   std::chrono::duration<double>(last_ - start_).count());
        }
    }

  private:
    void Report(double seconds, double recordSpan) {
        double wire = baud_ > 0 ? static_cast<double>(bytes_) * 10.0 / baud_ : 0.0;
        double median = 0;
        if (!intervals_.empty()) {
            auto middle = intervals_.begin() + static_cast<long>(intervals_.size() / 2);
            std::nth_element(intervals_.begin(), middle, intervals_.end());
            median = *middle;
        }
        std::fprintf(stderr,
                     "kr470-sim: pass: %zu bytes in %.3f s; wire time %.3f s; utilisation %.4f; "
                     "records %d; records/s %.0f; median interval %.1f us\n",
                     bytes_, seconds, wire, seconds > 0 ? wire / seconds : 0.0, records_,
                     recordSpan > 0 ? (records_ - 1) / recordSpan : 0.0, median * 1e6);
    }

    int baud_;
    bool enabled_;
    bool open_ = false;
    Clock::time_point start_{};
    Clock::time_point last_{};
    size_t bytes_ = 0;
    int records_ = 0;
    std::vector<double> intervals_;  // seconds between consecutive record lines
};

volatile sig_atomic_t stopRequested = 0;
std::string linkToRemove;

void OnSignal(int) {
    stopRequested = 1;
}

// Opens a pseudo-terminal pair and returns the master. The slave stays open
// in this process too, so a client may open and close it as often as it likes.
int OpenPseudoTerminal(std::string& slavePath, int& slaveFd) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("kr470-sim: pseudo-terminal");
        std::exit(1);
    }
    slavePath = ptsname(master);
    slaveFd = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slaveFd < 0 || tcgetattr(slaveFd, &tio) != 0) {
        std::perror("kr470-sim: slave side");
        std::exit(1);
    }
    // Raw before anything is written: no echo, no line-end translation.
    cfmakeraw(&tio);
    tcsetattr(slaveFd, TCSANOW, &tio);
    return master;
}

// Holds the reading back to the line's rate, as a real RS-232 line would.
class LinePacer {
  public:
    explicit LinePacer(int baud) : baud_(baud) {}
    void Account(size_t bytes) {
        if (baud_ <= 0) {
            return;
        }
        // A line that fell idle starts again now; a few milliseconds behind is
        // only this process waking late, which a real UART would not lose.
        auto now = Clock::now();
        if (wire_ < now - std::chrono::milliseconds(3)) {
            wire_ = now;
        }
        wire_ +=
            std::chrono::nanoseconds(static_cast<long long>(bytes) * 10 * 1000000000LL / baud_);
        std::this_thread::sleep_until(wire_);
    }
    // How many bytes to read at once: small pieces keep the pacing smooth.
    size_t Chunk() const { return baud_ > 0 ? 32 : 4096; }

  private:
    int baud_;
    Clock::time_point wire_{};
};

// One line received: measured, written to the transcript and answered
// (after the reply delay when there is an answer).
kr470::Response Answer(const std::string& line, kr470::Instrument& instrument,
                       const Settings& settings, PassStats& stats, std::ofstream& transcript) {
    stats.Line(line, Clock::now());
    if (transcript.is_open()) {
        transcript << line << '\n' << std::flush;
    }
    kr470::Response response = instrument.Handle(line);
    if (response.reply && !response.hangUp && settings.replyDelayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(settings.replyDelayMs));
    }
    return response;
}

// Lines of the plain face: each one straight to the instrument.
FaceOutput PlainLines(kr470::LineInput& input, std::string_view bytes, const DeliverLine& deliver) {
    FaceOutput out;
    const auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    input.Append(bytes, now.count());
    std::string line;
    while (!out.hangUp && input.Next(line)) {
        kr470::Response response = deliver(line);
        out.hangUp = response.hangUp;
        if (response.reply && !response.hangUp)
            out.toHost += *response.reply + "\n";
    }
    if (!input.DroppedIdle().empty())
        std::fprintf(stderr, "kr470-sim: dropped an unfinished line left idle: %.40s\n",
                     input.DroppedIdle().c_str());
    return out;
}

void MakeNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// One host on the line: the pseudo-terminal's master, or a TCP client.
struct Peer {
    explicit Peer(int descriptor) : fd(descriptor), outbox(descriptor) {}
    int fd;
    kr470::LineInput input;      // the plain face's lines from this host
    kr470::HostLine controlled;  // the "++" face's line from this host
    kr470::Outbox outbox;
    bool gone = false;
};

// Serves the pseudo-terminal, or every client of the TCP face, in one poll
// loop: one instrument (and one "++" controller) for all, each line answered
// to the host that sent it, in the order lines arrive. Nothing blocks: a host
// that never reads only stops being read once its replies pile up, and the
// stop flag is looked at within kStopCheckMs whatever the hosts do.
class LineServer {
  public:
    LineServer(kr470::Instrument& instrument, const Settings& settings, std::ofstream& transcript)
        : instrument_(instrument),
          pacer_(settings.baud),
          stats_(settings.baud, settings.stats),
          settings_(settings),
          deliver_([&instrument, &settings, &transcript, this](const std::string& line) {
              return Answer(line, instrument, settings, stats_, transcript);
          }),
          controller_(settings.gpib, deliver_) {}

    // Serves `fd` alone, or clients accepted on `listener`, until stopped, until
    // a fault drops the line, or (without a listener) until the host goes.
    void Run(int listener, int fd) {
        if (fd >= 0)
            Add(fd);
        std::string chunk(pacer_.Chunk(), '\0');
        while (!stopRequested && !hungUp_ && (listener >= 0 || !peers_.empty())) {
            std::vector<pollfd> fds;
            if (listener >= 0 && peers_.size() < kMostClients)
                fds.push_back({listener, POLLIN, 0});
            for (const Peer& p : peers_)
                fds.push_back({p.fd,
                               static_cast<short>((p.outbox.Full() ? 0 : POLLIN) |
                                                  (p.outbox.Empty() ? 0 : POLLOUT)),
                               0});
            if (poll(fds.data(), fds.size(), kStopCheckMs) <= 0)
                continue;
            for (const pollfd& ready : fds) {
                if (ready.revents == 0)
                    continue;
                if (ready.fd == listener)
                    Accept(listener);
                else if (Peer* peer = Find(ready.fd))
                    Serve(*peer, ready.revents, chunk);
            }
            CloseGone(fd);
        }
        for (Peer& p : peers_)
            if (p.fd != fd)
                close(p.fd);
    }

  private:
    static constexpr int kStopCheckMs = 200;
    static constexpr size_t kMostClients = 16;

    void Add(int fd) {
        MakeNonBlocking(fd);
        peers_.emplace_back(fd);
    }

    // A host that connects when no other is connected starts a new session
    // with the instrument (as after an interrupted update); one that comes
    // while another talks to it joins that session.
    void Accept(int listener) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (std::all_of(peers_.begin(), peers_.end(), [](const Peer& p) { return p.gone; }))
            instrument_.Reset();
        Add(fd);
    }

    Peer* Find(int fd) {
        for (Peer& p : peers_)
            if (p.fd == fd && !p.gone)
                return &p;
        return nullptr;
    }

    void Serve(Peer& peer, short events, std::string& chunk) {
        if ((events & POLLOUT) && !peer.outbox.Flush()) {
            peer.gone = true;
            return;
        }
        if (!(events & (POLLIN | POLLHUP | POLLERR)) || peer.outbox.Full())
            return;
        ssize_t n = read(peer.fd, chunk.data(), chunk.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            peer.gone = true;  // the host went away
            return;
        }
        pacer_.Account(static_cast<size_t>(n));
        std::string_view bytes(chunk.data(), static_cast<size_t>(n));
        FaceOutput out = settings_.gpib.enabled ? controller_.Feed(bytes, peer.controlled)
                                                : PlainLines(peer.input, bytes, deliver_);
        if (!out.toHost.empty()) {
            pacer_.Account(out.toHost.size());
            if (!peer.outbox.Send(out.toHost))
                peer.gone = true;
        }
        if (out.hangUp)
            hungUp_ = true;  // the instrument dropped the line: the run ends
    }

    // Closes the clients that went; the pseudo-terminal's master (`own`)
    // stays with the caller.
    void CloseGone(int own) {
        for (const Peer& p : peers_)
            if (p.gone && p.fd != own)
                close(p.fd);
        std::erase_if(peers_, [](const Peer& p) { return p.gone; });
    }

    kr470::Instrument& instrument_;
    LinePacer pacer_;
    PassStats stats_;
    const Settings& settings_;
    DeliverLine deliver_;
    kr470::PlusPlusFace controller_;  // one controller, whichever host talks to it
    std::list<Peer> peers_;           // a list: a Peer's Outbox keeps its place
    bool hungUp_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    Settings settings = kr470::ParseSimArguments(argc, argv);
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    signal(SIGPIPE, SIG_IGN);
    std::ofstream transcript;
    if (!settings.transcriptPath.empty()) {
        // Made (or emptied) by fileio's rule first: a regular file of ours at the
        // name, which in a sticky folder nobody else can swap before it is reopened.
        std::string why;
        int fd = fileio::OpenForRewriting(settings.transcriptPath, why);
        if (fd >= 0) {
            close(fd);
            transcript.open(settings.transcriptPath, std::ios::app);
        }
        if (!transcript.is_open()) {
            std::fprintf(stderr, "kr470-sim: cannot write %s: %s\n",
                         settings.transcriptPath.c_str(), why.c_str());
            return 1;
        }
    }
    kr470::Instrument instrument(settings.instrument);

    if (settings.vxi11.corePort >= 0) {
        PassStats stats(0, settings.stats);
        return kr470::ServeVxi11(
            settings.vxi11,
            [&](const std::string& line) {
                return Answer(line, instrument, settings, stats, transcript);
            },
            stopRequested, [&] { instrument.Reset(); });  // a new link: a new session
    }

    if (settings.tcpPort >= 0) {
        int listener = kr470::BindLoopback(SOCK_STREAM, settings.tcpPort, 16);
        if (listener < 0) {
            std::perror("kr470-sim: tcp");
            return 1;
        }
        std::printf("tcp %d\n", kr470::LocalPort(listener));
        std::fflush(stdout);
        LineServer(instrument, settings, transcript).Run(listener, -1);
        close(listener);
        return 0;
    }

    std::string slavePath;
    int slaveFd = -1;
    int master = OpenPseudoTerminal(slavePath, slaveFd);
    if (!settings.linkPath.empty()) {
        unlink(settings.linkPath.c_str());
        if (symlink(slavePath.c_str(), settings.linkPath.c_str()) != 0) {
            std::perror("kr470-sim: link");
            return 1;
        }
        linkToRemove = settings.linkPath;
    }
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);
    LineServer(instrument, settings, transcript).Run(-1, master);
    // Dropping the master is the hang-up the client sees.
    close(master);
    close(slaveFd);
    if (!linkToRemove.empty())
        unlink(linkToRemove.c_str());
    return 0;
}
