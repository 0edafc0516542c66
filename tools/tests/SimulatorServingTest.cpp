// The simulator as a server that hosts cannot wedge: a host that never reads
// holds up no one else, a line that never ends costs neither memory nor
// time, and SIGTERM ends it whatever its hosts do.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "Process.h"
#include "RpcWire.h"
#include "Transport.h"
#include "Vxi11.h"

namespace {

using testsupport::Simulator;

constexpr const char* kIdentification = "Velmora,KR470A,SN470001,1.04-2.10-0.9";

// A sanitized build keeps freed blocks in quarantine, so there the simulator's
// resident size says nothing about what it holds on to.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeTellsWhatIsHeld = false;
#else
constexpr bool kResidentSizeTellsWhatIsHeld = true;
#endif

int Connect(const std::string& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends `piece` again and again without reading anything, until the peer has
// taken nothing for a while: its buffers and ours are full.
void FloodUntilRefused(int fd, const std::string& piece) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    for (size_t at = 0;;) {  // where in `piece` the stream stands
        ssize_t n = send(fd, piece.data() + at, piece.size() - at, MSG_NOSIGNAL);
        if (n > 0) {
            at = (at + static_cast<size_t>(n)) % piece.size();
            continue;
        }
        ASSERT_TRUE(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) << std::strerror(errno);
        pollfd writable{fd, POLLOUT, 0};
        if (poll(&writable, 1, 1500) == 0)
            return;
    }
}

// The reply line that comes on `fd` within a few seconds; empty when none does.
std::string ReplyLine(int fd) {
    std::string reply;
    char c = 0;
    pollfd readable{fd, POLLIN, 0};
    while (poll(&readable, 1, 5000) == 1 && read(fd, &c, 1) == 1 && c != '\n')
        reply.push_back(c);
    return reply;
}

// The simulator's highest resident size so far, in kB.
long PeakResidentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    return -1;
}

// Sends SIGTERM and says whether the process ended within a few seconds
// (it ends within the second it looks at its stop flag; without it, never).
bool EndsOnSigterm(Simulator& simulator) {
    const pid_t pid = simulator.Pid();
    const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    kill(pid, SIGTERM);
    pollfd ended{handle, POLLIN, 0};
    const bool done = poll(&ended, 1, 5000) == 1;
    close(handle);
    if (!done)
        kill(pid, SIGKILL);
    simulator.Stop();
    return done;
}

TEST(SimulatorServingTest, TheTcpFaceAnswersASecondHostWhileTheFirstNeverReads) {
    Simulator simulator({SIMULATOR_PATH, "--tcp", "0"});
    ASSERT_TRUE(simulator.FirstLine().starts_with("tcp ")) << simulator.FirstLine();
    const std::string port = simulator.FirstLine().substr(4);
    const int silent = Connect(port);
    std::string queries;
    for (int i = 0; i < 4096; ++i)
        queries += "*IDN?\n";
    FloodUntilRefused(silent, queries);

    const int second = Connect(port);
    ASSERT_GE(second, 0);
    ASSERT_EQ(write(second, "*IDN?\n", 6), 6);
    EXPECT_EQ(ReplyLine(second), kIdentification);
    EXPECT_TRUE(EndsOnSigterm(simulator));
    close(second);
    close(silent);
}

// Sends `line` on `fd` and returns the reply line.
std::string Ask(int fd, const std::string& line) {
    const std::string sent = line + "\n";
    EXPECT_EQ(write(fd, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    return ReplyLine(fd);
}

TEST(SimulatorServingTest, ASecondHostJoinsTheSessionAndOnlyAHostAloneStartsANewOne) {
    Simulator simulator({SIMULATOR_PATH, "--tcp", "0"});
    ASSERT_TRUE(simulator.FirstLine().starts_with("tcp ")) << simulator.FirstLine();
    const std::string port = simulator.FirstLine().substr(4);
    const int updater = Connect(port);
    const std::string token = Ask(updater, "dlo:csum?");
    ASSERT_EQ(write(updater, ("dlo:start " + token + "\n").data(), token.size() + 11),
              static_cast<ssize_t>(token.size() + 11));
    const int probe = Connect(port);  // while the download is under way
    EXPECT_FALSE(Ask(probe, "*IDN?").empty());
    // Still in download mode: the record is taken, not refused.
    EXPECT_EQ(Ask(updater, "dlo? \"S1130000" + std::string(32, '0') + "EC\" "), "0");
    close(probe);
    close(updater);
    const int next = Connect(port);  // alone: the interrupted download restarts as a loader
    EXPECT_TRUE(Ask(next, "*IDN?").find(",loader ") != std::string::npos);
    close(next);
}

// A create_link call record of the core channel, as any client sends it.
std::string CreateLinkCall(uint32_t xid) {
    kr470::rpc::XdrWriter call;
    for (uint32_t word : {xid, 0u, 2u, 0x0607AFu, 1u, 10u, 0u, 0u, 0u, 0u})
        call.U32(word);
    for (uint32_t word : {1u, 0u, 0u})  // client id, no lock, lock time-out
        call.U32(word);
    call.Opaque("inst0");
    return kr470::rpc::MarkRecord(call.Bytes());
}

TEST(SimulatorServingTest, TheVxi11FaceAnswersASecondHostWhileTheFirstNeverReads) {
    Simulator simulator({SIMULATOR_PATH, "--vxi11", "0"});
    ASSERT_TRUE(simulator.FirstLine().starts_with("vxi11 ")) << simulator.FirstLine();
    const std::string port = simulator.FirstLine().substr(6);
    const int silent = Connect(port);
    std::string calls;
    for (uint32_t xid = 1; xid <= 512; ++xid)
        calls += CreateLinkCall(xid);
    FloodUntilRefused(silent, calls);

    std::string why;
    std::unique_ptr<kio::Transport> link = kio::OpenVxi11("127.0.0.1", port, "inst0", 3000, why);
    ASSERT_NE(link, nullptr) << why;
    ASSERT_TRUE(link->WriteAll(std::string_view("*IDN?\n"), 3000)) << link->Problem();
    std::array<char, 256> reply{};
    const long n = link->ReadSome(reply, 3000);
    ASSERT_GT(n, 0) << link->Problem();
    EXPECT_EQ(std::string(reply.data(), static_cast<size_t>(n)),
              std::string(kIdentification) + "\n");
    link.reset();
    EXPECT_TRUE(EndsOnSigterm(simulator));
    close(silent);
}

// Sends `line` over a VXI-11 link and returns the reply line, without its LF.
std::string AskLink(kio::Transport& link, const std::string& line) {
    const std::string sent = line + "\n";
    EXPECT_TRUE(link.WriteAll(sent, 3000)) << link.Problem();
    std::array<char, 256> reply{};
    const long n = link.ReadSome(reply, 3000);
    return n > 0 ? std::string(reply.data(), static_cast<size_t>(n) - 1) : std::string();
}

TEST(SimulatorServingTest, ASecondVxi11LinkJoinsTheSessionAndOnlyALinkAloneStartsANewOne) {
    Simulator simulator({SIMULATOR_PATH, "--vxi11", "0"});
    ASSERT_TRUE(simulator.FirstLine().starts_with("vxi11 ")) << simulator.FirstLine();
    const std::string port = simulator.FirstLine().substr(6);
    std::string why;
    auto updater = kio::OpenVxi11("127.0.0.1", port, "inst0", 3000, why);
    ASSERT_NE(updater, nullptr) << why;
    const std::string token = AskLink(*updater, "dlo:csum?");
    ASSERT_TRUE(updater->WriteAll("dlo:start " + token + "\n", 3000)) << updater->Problem();
    {
        // A technician's "*IDN?" while the download is under way.
        auto probe = kio::OpenVxi11("127.0.0.1", port, "inst0", 3000, why);
        ASSERT_NE(probe, nullptr) << why;
        EXPECT_FALSE(AskLink(*probe, "*IDN?").empty());
    }
    // Still the same download: the record is taken, not refused.
    EXPECT_EQ(AskLink(*updater, "dlo? \"S1130000" + std::string(32, '0') + "EC\" "), "0");
    updater.reset();
    auto next = kio::OpenVxi11("127.0.0.1", port, "inst0", 3000, why);
    ASSERT_NE(next, nullptr) << why;
    EXPECT_NE(AskLink(*next, "*IDN?").find(",loader "), std::string::npos);
    EXPECT_NE(AskLink(*next, "dlo:csum?"), token);  // a fresh start token
}

TEST(SimulatorServingTest, ALineThatNeverEndsIsDroppedWithoutGrowingTheSimulator) {
    Simulator tcp({SIMULATOR_PATH, "--tcp", "0"});
    ASSERT_TRUE(tcp.FirstLine().starts_with("tcp ")) << tcp.FirstLine();
    const int fd = Connect(tcp.FirstLine().substr(4));
    const long before = PeakResidentKb(tcp.Pid());
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 32; ++i)  // 32 MB without a line feed
        ASSERT_EQ(write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
    ASSERT_EQ(write(fd, "\n*IDN?\n", 7), 7);
    EXPECT_EQ(ReplyLine(fd), kIdentification);
    if (kResidentSizeTellsWhatIsHeld) {
        EXPECT_LT(PeakResidentKb(tcp.Pid()) - before, 8 * 1024);
    }
    close(fd);

    Simulator lan({SIMULATOR_PATH, "--vxi11", "0"});
    ASSERT_TRUE(lan.FirstLine().starts_with("vxi11 ")) << lan.FirstLine();
    std::string why;
    std::unique_ptr<kio::Transport> link =
        kio::OpenVxi11("127.0.0.1", lan.FirstLine().substr(6), "inst0", 3000, why);
    ASSERT_NE(link, nullptr) << why;
    const long lanBefore = PeakResidentKb(lan.Pid());
    // 16 MB in the server's largest writes, one message: dropped at its END.
    ASSERT_TRUE(link->WriteAll(std::string(16 << 20, 'x'), 3000)) << link->Problem();
    ASSERT_TRUE(link->WriteAll(std::string_view("*IDN?\n"), 3000)) << link->Problem();
    std::array<char, 256> reply{};
    const long n = link->ReadSome(reply, 3000);
    ASSERT_GT(n, 0) << link->Problem();
    EXPECT_EQ(std::string(reply.data(), static_cast<size_t>(n)),
              std::string(kIdentification) + "\n");
    if (kResidentSizeTellsWhatIsHeld) {
        EXPECT_LT(PeakResidentKb(lan.Pid()) - lanBefore, 8 * 1024);
    }
}

}  // namespace
