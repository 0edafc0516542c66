// The session's limits: replies that never end and configuration files that
// are not files end in a clear failure, with bounded memory.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string_view>
#include <thread>

#include <kio/Session.h>

#include "PseudoTerminal.h"
#include "ScopedEnv.h"
#include "TempFile.h"

namespace kio {
namespace {

// A loopback peer that sends `count` times `filler`, then `tail`, to the
// first client and then closes; the flood is never whole in memory here.
class FloodingPeer {
  public:
    FloodingPeer(size_t count, char filler, std::string tail)
        : count_(count), filler_(filler), tail_(std::move(tail)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FloodingPeer() {
        if (thread_.joinable())
            thread_.join();
        close(listener_);
    }
    std::string Address() const {
        return "TCPIP0::127.0.0.1::" + std::to_string(port_) + "::SOCKET";
    }

  private:
    void Serve() {
        int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const std::string chunk(64 * 1024, filler_);
        for (size_t left = count_; left > 0;) {
            size_t size = std::min(left, chunk.size());
            if (!SendAll(client, std::string_view(chunk.data(), size)))
                break;
            left -= size;
        }
        SendAll(client, tail_);
        close(client);
    }
    static bool SendAll(int fd, std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            bytes.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    size_t count_;
    char filler_;
    std::string tail_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class SessionTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir_;
    testsupport::ScopedEnv kioConfig_{"KIO_CONFIG", (dir_.Path() / "kio.ini").string()};
};

TEST_F(SessionTest, AnEndlessReplyFailsAtItsCapAndTheRestOfThatLineIsDropped) {
    const size_t flood = 48u * 1024 * 1024;
    FloodingPeer peer(flood, 'x', "\nOK\n");
    Result opened;
    std::unique_ptr<Session> session = Session::Open(peer.Address(), opened);
    ASSERT_TRUE(session) << opened.message;
    session->SetTimeout(20000);
    const long before = PeakKilobytes();

    std::string line;
    Result first = session->ReadLine(line);
    EXPECT_EQ(first.status, Status::kIoError);
    EXPECT_EQ(first.message, "Reply from " + peer.Address() +
                                 " is longer than 1048576 bytes; the rest of that line is "
                                 "discarded");
    ASSERT_TRUE(session->ReadLine(line).ok());
    EXPECT_EQ(line, "OK");
    // The flood never sat in memory whole.
    RecordProperty("PeakGrowthKilobytes", std::to_string(PeakKilobytes() - before));
    EXPECT_LT(PeakKilobytes() - before, 8 * 1024L);
}

TEST_F(SessionTest, AReplyAsLongAsTheCapIsStillALine) {
    FloodingPeer peer(kLongestReply, 'y', "\n");
    Result opened;
    std::unique_ptr<Session> session = Session::Open(peer.Address(), opened);
    ASSERT_TRUE(session) << opened.message;
    session->SetTimeout(20000);
    std::string line;
    ASSERT_TRUE(session->ReadLine(line).ok());
    EXPECT_EQ(line.size(), kLongestReply);
}

TEST_F(SessionTest, AConfigurationThatIsNoRegularFileIsRefusedWithoutBlocking) {
    std::string large = (dir_.Path() / "large.ini").string();
    std::ofstream(large) << std::string(kLargestConfigFile + 1, ';');
    std::string fifo = (dir_.Path() / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [target, why] : std::vector<std::pair<std::string, std::string>>{
             {fifo, fifo + " is a FIFO, not a regular file"},
             {"/dev/zero", "/dev/zero is a character device, not a regular file"},
             {dir_.Path().string(), dir_.Path().string() + " is a directory, not a regular file"},
             {large, large + " is larger than 1048576 bytes"}}) {
        kioConfig_.Set(target);
        Result result;
        EXPECT_FALSE(Session::Open("GPIB0::10", result));
        EXPECT_EQ(result.status, Status::kConfig);
        EXPECT_EQ(result.message, "Cannot read the instrument-I/O configuration: " + why);
        EXPECT_TRUE(ConfiguredAddresses().empty());
    }
}

TEST_F(SessionTest, ConfigurationCommentsEndValuesAndStrayLinesAreSaid) {
    std::ofstream(dir_.Path() / "kio.ini") << "[aliases]\n"
                                              "GPIB0::10 = ASRL7::INSTR   ; the bench port\n"
                                              "[ASRL7]\n"
                                              "device = /dev/kr470-absent ; an adapter\n"
                                              "baud = 57600\n"
                                              "stray line\n";
    const std::string path = (dir_.Path() / "kio.ini").string();
    testing::internal::CaptureStderr();
    Result result;
    EXPECT_FALSE(Session::Open("GPIB0::10", result));
    const std::string said = testing::internal::GetCapturedStderr();
    // The alias and the device were read without their comments.
    EXPECT_NE(result.message.find("/dev/kr470-absent"), std::string::npos) << result.message;
    EXPECT_EQ(result.message.find("adapter"), std::string::npos) << result.message;
    EXPECT_NE(said.find(path + ":5: warning: unknown key \"baud\""), std::string::npos) << said;
    EXPECT_NE(said.find(path + ":6: warning: neither"), std::string::npos) << said;
    EXPECT_EQ(ConfiguredAddresses(), (std::vector<std::string>{"GPIB0::10", "ASRL7::INSTR"}));
}

TEST_F(SessionTest, TheNullDeviceIsAnEmptyConfiguration) {
    kioConfig_.Set("/dev/null");
    // A listening socket of the test's own; the kernel completes the connection.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ConfiguredAddresses().empty());
    Result result;
    EXPECT_TRUE(Session::Open(
        "TCPIP0::127.0.0.1::" + std::to_string(ntohs(address.sin_port)) + "::SOCKET", result))
        << result.message;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    close(listener);
}

TEST_F(SessionTest, ASerialDevicesSectionIsFoundByItsAddressAndByItsPath) {
    testsupport::LockFolder locks;
    testsupport::PseudoTerminal line;
    for (const std::string& header : {"[ASRL" + line.Path() + "]", "[" + line.Path() + "]"}) {
        std::ofstream(dir_.Path() / "kio.ini") << header << "\nsettings = 115200,N,8,1\n";
        Result result;
        std::unique_ptr<Session> session = Session::Open("ASRL" + line.Path() + "::INSTR", result);
        ASSERT_TRUE(session) << header << ": " << result.message;
        termios taken{};
        ASSERT_EQ(tcgetattr(line.Keeper(), &taken), 0);
        EXPECT_EQ(cfgetospeed(&taken), B115200) << header;
    }
}

TEST_F(SessionTest, ASectionThatNamesNoPortOrBusIsSaidOnce) {
    const std::string path = (dir_.Path() / "kio.ini").string();
    std::ofstream(path) << "[ttyUSB0]\n"
                           "settings = 115200,N,8,1\n"
                           "handshake = RTS_CTS\n"
                           "[ASRL3]\ndevice = /dev/kr470-absent\n"
                           "[ASRL/dev/ttyUSB1]\nsettings = 57600\n"
                           "[/dev/ttyUSB2]\nsettings = 57600\n"
                           "[gpib0]\nscan = 1\n"
                           "[tcpip]\nvxi11_hosts = lab\n"
                           "[tcpip::scope.lab]\nvxi11_port = 9009\n"
                           "[Aliases]\nGPIB0::3 = ASRL3\n"
                           "[COM3]\ndevice = /dev/ttyUSB0\n";
    testing::internal::CaptureStderr();
    ConfiguredAddresses();
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string noPort =
        "] names no port or bus (ASRL<n>, ASRL/dev/..., GPIB<n>, tcpip, tcpip::HOST or aliases); "
        "ignored\n";
    EXPECT_EQ(said, path + ":2: warning: section [ttyUSB0" + noPort + path +
                        ":19: warning: section [COM3" + noPort)
        << said;
}

TEST_F(SessionTest, ANamedConfigurationThatIsAbsentIsSaid) {
    const std::string path = (dir_.Path() / "absent.ini").string();
    kioConfig_.Set(path);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ConfiguredAddresses().empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              path + ": warning: no such configuration file (named by KIO_CONFIG)\n");
}

}  // namespace
}  // namespace kio
