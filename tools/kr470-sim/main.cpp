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
#include <string>
#include <thread>
#include <vector>

#include "Instrument.h"
#include "LineInput.h"
#include "LoopbackSocket.h"
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

int AcceptTcpClient(int port, bool announce) {
    static int listener = -1;
    if (listener < 0) {
        listener = kr470::BindLoopback(SOCK_STREAM, port, 1);
        if (listener < 0) {
            std::perror("kr470-sim: tcp");
            std::exit(1);
        }
        if (announce) {
            std::printf("tcp %d\n", kr470::LocalPort(listener));
            std::fflush(stdout);
        }
    }
    for (;;) {
        pollfd pfd{listener, POLLIN, 0};
        if (stopRequested) {
            return -1;
        }
        if (poll(&pfd, 1, 200) > 0) {
            return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        }
    }
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

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

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
    for (const std::string& line : input.Feed(bytes, now.count())) {
        if (out.hangUp)
            break;
        kr470::Response response = deliver(line);
        out.hangUp = response.hangUp;
        if (response.reply && !response.hangUp)
            out.toHost += *response.reply + "\n";
    }
    if (!input.Dropped().empty())
        std::fprintf(stderr, "kr470-sim: dropped an unfinished line left idle: %.40s\n",
                     input.Dropped().c_str());
    return out;
}

// Serves one connection. Returns false when the line dropped by a fault.
bool Serve(int fd, kr470::Instrument& instrument, const Settings& settings,
           std::ofstream& transcript) {
    LinePacer pacer(settings.baud);
    PassStats stats(settings.baud, settings.stats);
    DeliverLine deliver = [&](const std::string& line) {
        return Answer(line, instrument, settings, stats, transcript);
    };
    kr470::PlusPlusFace controller(settings.gpib, deliver);
    kr470::LineInput input;
    std::string chunk(pacer.Chunk(), '\0');
    while (!stopRequested) {
        pollfd pfd{fd, POLLIN, 0};
        int ready = poll(&pfd, 1, 200);
        if (ready <= 0)
            continue;
        ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return true;  // the client went away
        pacer.Account(static_cast<size_t>(n));
        std::string_view bytes(chunk.data(), static_cast<size_t>(n));
        FaceOutput out =
            settings.gpib.enabled ? controller.Feed(bytes) : PlainLines(input, bytes, deliver);
        if (!out.toHost.empty()) {
            pacer.Account(out.toHost.size());
            if (!WriteAll(fd, out.toHost))
                return true;
        }
        if (out.hangUp) {
            return false;
        }
    }
    return true;
}

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
        bool announce = true;
        for (;;) {
            int client = AcceptTcpClient(settings.tcpPort, announce);
            announce = false;
            if (client < 0)
                return 0;
            instrument.Reset();  // a new connection restarts the session
            bool lineUp = Serve(client, instrument, settings, transcript);
            close(client);
            if (!lineUp || stopRequested)
                return 0;
        }
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
    Serve(master, instrument, settings, transcript);
    // Dropping the master is the hang-up the client sees.
    close(master);
    close(slaveFd);
    if (!linkToRemove.empty())
        unlink(linkToRemove.c_str());
    return 0;
}
