// VXI-11 instruments through a session: the address forms and keys, then the
// simulator's LAN face as the instrument, its faults included.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include <kio/Session.h>

#include "Address.h"
#include "ClosedPort.h"
#include "Config.h"
#include "Process.h"
#include "RpcWire.h"
#include "ScopedEnv.h"
#include "Vxi11.h"
#include "Vxi11Messages.h"

namespace kio {
namespace {

using testsupport::Simulator;

TEST(Vxi11AddressTest, HostDeviceAndBoardAreCheckedStrictly) {
    Vxi11Target target;
    std::string why;
    ASSERT_TRUE(ParseVxi11Address(SplitAddress("TCPIP0::scope-3.lab::INSTR"), target, why));
    EXPECT_EQ(target.host, "scope-3.lab");
    EXPECT_EQ(target.device, "inst0");
    ASSERT_TRUE(ParseVxi11Address(SplitAddress("tcpip::10.0.0.7::gpib0,10::instr"), target, why));
    EXPECT_EQ(target.device, "gpib0,10");
    ASSERT_TRUE(ParseVxi11Address(SplitAddress("TCPIP1::Host::hpib7"), target, why));
    EXPECT_EQ(target.device, "hpib7");

    for (const char* bad :
         {"TCPIPx::host::INSTR", "TCPIP0::::INSTR", "TCPIP0::ho st::INSTR",
          "TCPIP0::host::in st0::INSTR", "TCPIP0::host::::INSTR",
          "TCPIP0::host::inst0::extra::INSTR", "TCPIP0::INSTR", "TCPIP0::host::,inst0"}) {
        why.clear();
        EXPECT_FALSE(ParseVxi11Address(SplitAddress(bad), target, why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    Result result;
    EXPECT_EQ(Session::Open("TCPIP0::ho st::INSTR", result), nullptr);
    EXPECT_EQ(result.status, Status::kBadAddress);
    EXPECT_EQ(result.message,
              "Invalid resource address: TCPIP0::ho st::INSTR (\"ho st\" is no host "
              "name or IPv4 address)");
}

TEST(Vxi11AddressTest, PortKeysPerHostBeforeAllHostsAndTheFinderList) {
    Config config;
    config["TCPIP"]["VXI11_PORT"] = "1024";
    config["TCPIP::SCOPE"]["VXI11_PORT"] = " 2048 ";
    config["TCPIP"]["VXI11_HOSTS"] = "scope, 10.0.0.7  bad/name,meter";
    std::string port, why;
    ASSERT_TRUE(ConfiguredCorePort(config, "Scope", port, why));
    EXPECT_EQ(port, "2048");
    ASSERT_TRUE(ConfiguredCorePort(config, "meter", port, why));
    EXPECT_EQ(port, "1024");
    EXPECT_EQ(Vxi11HostAddresses(config),
              (std::vector<std::string>{"TCPIP0::scope::INSTR", "TCPIP0::10.0.0.7::INSTR",
                                        "TCPIP0::meter::INSTR"}));
    config["TCPIP"]["VXI11_PORT"] = "65536";
    EXPECT_FALSE(ConfiguredCorePort(config, "meter", port, why));
    EXPECT_EQ(why, "vxi11_port in [TCPIP] is no port number: \"65536\"");
    config.erase("TCPIP");
    ASSERT_TRUE(ConfiguredCorePort(config, "meter", port, why));
    EXPECT_EQ(port, "");  // ask the portmapper
}

class Vxi11SessionTest : public ::testing::Test {
  protected:
    ~Vxi11SessionTest() override {
        std::filesystem::remove(config_);
        std::filesystem::remove(transcript_);
    }
    // Starts the simulator's LAN face and names its port in the configuration.
    void Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {SIMULATOR_PATH, "--vxi11", "0", "--transcript",
                                         transcript_};
        argv.insert(argv.end(), extra.begin(), extra.end());
        simulator_ = std::make_unique<Simulator>(argv);
        ASSERT_TRUE(simulator_->FirstLine().starts_with("vxi11 ")) << simulator_->FirstLine();
        UsePort(simulator_->FirstLine().substr(6));
    }
    void UsePort(const std::string& port) {
        std::ofstream(config_) << "[tcpip]\nvxi11_port = " << port << "\n";
    }
    std::unique_ptr<Session> Open(const std::string& address = "TCPIP0::127.0.0.1::INSTR") {
        std::unique_ptr<Session> session = Session::Open(address, result_);
        EXPECT_TRUE(result_.ok()) << result_.message;
        if (session)
            session->SetTimeout(300);
        return session;
    }
    std::string Transcript() {
        std::ifstream in(transcript_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    const std::string stem_ =
        (std::filesystem::temp_directory_path() / ("kio-vxi11-" + std::to_string(getpid())))
            .string();
    const std::string config_ = stem_ + ".ini";
    const std::string transcript_ = stem_ + ".txt";
    testsupport::ScopedEnv kioConfig_{"KIO_CONFIG", config_};
    std::unique_ptr<Simulator> simulator_;
    Result result_;
};

TEST_F(Vxi11SessionTest, LinesGoAsWritesSplitAtTheServersSizeAndRepliesComeBack) {
    Start({"--max-recv-size", "16"});
    std::unique_ptr<Session> session = Open();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->InterfaceKind(), "TCPIP");
    std::string reply;
    ASSERT_TRUE(session->Query("*IDN?", reply).ok());
    EXPECT_EQ(reply, "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    const std::string record = "dlo \"S1130000" + std::string(64, 'A') + "\" ";
    Result written = session->Write(record);  // five writes of at most 16 bytes
    ASSERT_TRUE(written.ok()) << written.message;
    ASSERT_TRUE(session->Query("*OPC?", reply).ok());
    EXPECT_EQ(reply, "1");
    session.reset();
    simulator_->Stop();
    EXPECT_EQ(Transcript(), "*IDN?\n" + record + "\n*OPC?\n");
}

TEST_F(Vxi11SessionTest, AReplyEndedByEndAloneIsStillALine) {
    Start({"--end-without-lf", "--error", "-100,\"Command error\""});
    std::unique_ptr<Session> session = Open();
    ASSERT_NE(session, nullptr);
    std::string reply;
    ASSERT_TRUE(session->Query("*OPC?", reply).ok());
    EXPECT_EQ(reply, "1");
    ASSERT_TRUE(session->Query("SYST:ERR?", reply).ok());
    EXPECT_EQ(reply, "-100,\"Command error\"");
}

TEST_F(Vxi11SessionTest, ADeviceThatDoesNotAnswerTimesOutAtTheSessionsTimeOut) {
    Start({"--silent", "*STB?"});
    std::unique_ptr<Session> session = Open();
    ASSERT_NE(session, nullptr);
    std::string reply;
    Result result = session->Query("*STB?", reply);
    EXPECT_EQ(result.status, Status::kTimeout);
    EXPECT_EQ(result.message,
              "Timeout expired before operation completed (TCPIP0::127.0.0.1::INSTR)");
    // The link is still good afterwards.
    ASSERT_TRUE(session->Query("*OPC?", reply).ok()) << reply;
}

TEST_F(Vxi11SessionTest, RefusedConnectionAndUnknownDeviceFailTheOpenWithTheReason) {
    const std::string closed = testsupport::ClosedLoopbackPort();
    UsePort(closed);
    Result result;
    EXPECT_EQ(Session::Open("TCPIP0::127.0.0.1::INSTR", result), nullptr);
    EXPECT_EQ(result.status, Status::kNotFound);
    EXPECT_EQ(result.message,
              "Cannot open TCPIP0::127.0.0.1::INSTR: 127.0.0.1:" + closed + ": Connection refused");

    Start();
    EXPECT_EQ(Session::Open("TCPIP0::127.0.0.1::inst7::INSTR", result), nullptr);
    EXPECT_NE(result.message.find(": create_link \"inst7\" failed with VXI-11 error 3 (device not "
                                  "accessible)"),
              std::string::npos)
        << result.message;
    EXPECT_NE(Session::Open("TCPIP0::127.0.0.1::inst0::INSTR", result), nullptr);
}

TEST_F(Vxi11SessionTest, ADroppedLinkAndAServerGoneQuietFailWithTheRpcReason) {
    Start({"--hangup-on", "*OPC?"});
    std::unique_ptr<Session> session = Open();
    ASSERT_NE(session, nullptr);
    std::string reply;
    Result result = session->Query("*OPC?", reply);
    EXPECT_EQ(result.status, Status::kIoError);
    EXPECT_TRUE(
        result.message.starts_with("I/O error writing to TCPIP0::127.0.0.1::INSTR: "
                                   "127.0.0.1:"))
        << result.message;
    EXPECT_NE(result.message.find("RPC: Unable to receive"), std::string::npos) << result.message;
    // Later calls fail at once with the same reason.
    EXPECT_EQ(session->Write("*CLS").message, result.message);
    session.reset();

    Start({"--mute-on", "*CLS"});
    session = Open();
    ASSERT_NE(session, nullptr);
    result = session->Write("*CLS");
    EXPECT_EQ(result.status, Status::kIoError);
    EXPECT_NE(result.message.find("RPC: Timed out"), std::string::npos) << result.message;
}

TEST_F(Vxi11SessionTest, TheLargestTimeOutStillWaitsForASlowDevice) {
    Start({"--reply-delay-ms", "1200"});
    std::unique_ptr<Session> session = Open();
    ASSERT_NE(session, nullptr);
    session->SetTimeout(UINT32_MAX);
    std::string reply;
    Result result = session->Query("*OPC?", reply);
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_EQ(reply, "1");
}

// A core channel on loopback that answers each call with what `answer` sends
// on the connection for that call (its number and transaction id); false ends
// the connection.
class ScriptedServer {
  public:
    using Answer = std::function<bool(int fd, int call, uint32_t xid)>;
    explicit ScriptedServer(Answer answer) : answer_(std::move(answer)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = std::to_string(ntohs(address.sin_port));
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        thread_.join();
        close(listener_);
    }
    const std::string& Port() const { return port_; }

    // One reply record: the xid, an accepted call's header, then XDR words and
    // opaque data.
    static bool Reply(int fd, uint32_t xid, std::initializer_list<uint32_t> results,
                      std::optional<std::string> data = std::nullopt) {
        std::string body;
        auto word = [&body](uint32_t value) {
            const uint32_t wire = htonl(value);
            body.append(reinterpret_cast<const char*>(&wire), sizeof wire);
        };
        for (uint32_t value : {xid, 1u, 0u, 0u, 0u, 0u})
            word(value);
        for (uint32_t value : results)
            word(value);
        if (data) {
            word(static_cast<uint32_t>(data->size()));
            body += *data + std::string((4 - data->size() % 4) % 4, '\0');
        }
        std::string record;
        const uint32_t mark = htonl(0x80000000u | static_cast<uint32_t>(body.size()));
        record.append(reinterpret_cast<const char*>(&mark), sizeof mark);
        record += body;
        return send(fd, record.data(), record.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(record.size());
    }

  private:
    static bool ReadExactly(int fd, char* into, size_t size) {
        for (size_t done = 0; done < size;) {
            const ssize_t n = recv(fd, into + done, size - done, 0);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    void Serve() {
        const int fd = accept(listener_, nullptr, nullptr);
        std::array<char, 65536> call{};
        for (int index = 0;; ++index) {
            uint32_t mark = 0;
            if (!ReadExactly(fd, reinterpret_cast<char*>(&mark), sizeof mark))
                break;
            const size_t length = ntohl(mark) & 0x7FFFFFFFu;
            if (length < 4 || length > call.size() || !ReadExactly(fd, call.data(), length))
                break;
            uint32_t xid = 0;
            std::memcpy(&xid, call.data(), sizeof xid);
            if (!answer_(fd, index, ntohl(xid)))
                break;
        }
        close(fd);
    }

    Answer answer_;
    int listener_ = -1;
    std::string port_;
    std::thread thread_;
};

TEST(Vxi11ScriptedServerTest, AStreamOfRepliesToOtherCallsEndsAtTheCallsTimeOut) {
    ScriptedServer server([](int fd, int, uint32_t xid) {
        for (int i = 0; i < 2'000'000; ++i)
            if (!ScriptedServer::Reply(fd, xid + 1, {0}))
                break;
        return false;
    });
    std::string why;
    EXPECT_EQ(OpenVxi11("127.0.0.1", server.Port(), "inst0", 100, why), nullptr);
    EXPECT_NE(why.find("create_link: RPC: Timed out"), std::string::npos) << why;
}

// A server that takes one byte of each device_write answers at once every
// time: the write as a whole still ends at its time-out (200,000 round trips
// would otherwise take many seconds and succeed).
TEST(Vxi11ScriptedServerTest, AServerTakingOneByteAWriteStillEndsTheWriteAtItsTimeOut) {
    ScriptedServer server([](int fd, int call, uint32_t xid) {
        if (call == 0)  // create_link: link 1, no abort port, 1024-byte writes
            return ScriptedServer::Reply(fd, xid, {0, 1, 0, 1024});
        return ScriptedServer::Reply(fd, xid, {0, 1});  // one byte taken (destroy_link: ok)
    });
    std::string why;
    std::unique_ptr<Transport> link = OpenVxi11("127.0.0.1", server.Port(), "inst0", 2000, why);
    ASSERT_NE(link, nullptr) << why;
    const std::string message(200'000, 'x');
    EXPECT_FALSE(link->WriteAll(message, 300));
    EXPECT_EQ(link->Problem(), "device_write failed with VXI-11 error 15 (I/O timeout)");
}

TEST(Vxi11ScriptedServerTest, BytesThatCameBeforeADeviceTimeOutAreKept) {
    constexpr uint32_t kIoTimeout = 15, kEnd = 4;
    ScriptedServer server([](int fd, int call, uint32_t xid) {
        switch (call) {
            case 0:  // create_link: link 1, no abort port, 1024-byte writes
                return ScriptedServer::Reply(fd, xid, {0, 1, 0, 1024});
            case 1:  // device_write of "X?\n"
                return ScriptedServer::Reply(fd, xid, {0, 3});
            case 2:  // device_read: the first bytes, then the device's time-out
                return ScriptedServer::Reply(fd, xid, {kIoTimeout, 0}, "par");
            case 3:
                return ScriptedServer::Reply(fd, xid, {0, kEnd}, "tial\n");
            default:  // destroy_link
                return ScriptedServer::Reply(fd, xid, {0});
        }
    });
    std::string why;
    std::unique_ptr<Transport> link = OpenVxi11("127.0.0.1", server.Port(), "inst0", 2000, why);
    ASSERT_NE(link, nullptr) << why;
    ASSERT_TRUE(link->WriteAll(std::string_view("X?\n"), 300)) << link->Problem();
    std::string reply;
    std::array<char, 64> buffer{};
    for (int reads = 0; reads < 2; ++reads) {
        const long n = link->ReadSome(buffer, 300);
        ASSERT_GE(n, 0) << link->Problem();
        reply.append(buffer.data(), static_cast<size_t>(n));
    }
    EXPECT_EQ(reply, "partial\n");
}

// A reply that fills exactly what was asked and ends (END) without a line
// feed, and an END with no data at all: each still ends a line, within the buffer.
TEST(Vxi11ScriptedServerTest, AReadFillingTheRoomAskedOrEndingEmptyStillEndsALine) {
    constexpr uint32_t kEnd = 4, kRequestCount = 1;
    ScriptedServer server([](int fd, int call, uint32_t xid) {
        switch (call) {
            case 0:
                return ScriptedServer::Reply(fd, xid, {0, 1, 0, 1024});
            case 1:
                return ScriptedServer::Reply(fd, xid, {0, 3});
            case 2:  // 15 bytes for the 15 asked, with END
                return ScriptedServer::Reply(fd, xid, {0, kEnd | kRequestCount},
                                             std::string(15, 'x'));
            case 3:  // END alone
                return ScriptedServer::Reply(fd, xid, {0, kEnd}, "");
            default:
                return ScriptedServer::Reply(fd, xid, {0});
        }
    });
    std::string why;
    std::unique_ptr<Transport> link = OpenVxi11("127.0.0.1", server.Port(), "inst0", 2000, why);
    ASSERT_NE(link, nullptr) << why;
    ASSERT_TRUE(link->WriteAll(std::string_view("X?\n"), 300)) << link->Problem();
    std::array<char, 16> buffer{};
    ASSERT_EQ(link->ReadSome(buffer, 300), 16) << link->Problem();
    EXPECT_EQ(std::string(buffer.data(), 16), std::string(15, 'x') + "\n");
    ASSERT_EQ(link->ReadSome(buffer, 300), 1) << link->Problem();
    EXPECT_EQ(buffer[0], '\n');
    link.reset();
}

// Interrupt from another thread ends a device_read the server never answers,
// and the link says why.
TEST(Vxi11ScriptedServerTest, InterruptEndsAReadTheServerNeverAnswers) {
    ScriptedServer server([](int fd, int call, uint32_t xid) {
        if (call == 0)
            return ScriptedServer::Reply(fd, xid, {0, 1, 0, 1024});
        char c = 0;
        while (recv(fd, &c, 1, 0) > 0) {  // silent until the client goes
        }
        return false;
    });
    std::string why;
    std::unique_ptr<Transport> link = OpenVxi11("127.0.0.1", server.Port(), "inst0", 2000, why);
    ASSERT_NE(link, nullptr) << why;
    std::array<char, 64> buffer{};
    std::thread stopper([&link] { link->Interrupt(); });
    EXPECT_EQ(link->ReadSome(buffer, 600'000), -1);
    stopper.join();
    EXPECT_EQ(link->Problem(), "127.0.0.1:" + server.Port() + ": interrupted on request");
    EXPECT_EQ(link->ReadSome(buffer, 600'000), -1);
    link.reset();
}

// A device_read reply whose data the record does not hold is refused, not
// copied from past the record's end; one announcing more than the room is
// refused before a byte is copied.
TEST(Vxi11MessagesTest, AReadReplyCutShortOrLongerThanTheRoomCopiesNothing) {
    kr470::rpc::XdrWriter cut;
    for (uint32_t word : {0u, 4u, 10u})
        cut.U32(word);
    std::string record = cut.Bytes() + "abc";
    std::array<char, 16> room{};
    vxi11::ReadReply reply;
    EXPECT_EQ(vxi11::ReadReadReply(record, room, reply), vxi11::ReadDecode::kCutShort);
    EXPECT_EQ(room[0], '\0');
    EXPECT_EQ(vxi11::ReadReadReply(record, std::span(room).first(9), reply),
              vxi11::ReadDecode::kLongerThanAsked);
    EXPECT_EQ(reply.length, 10u);
    record += "defghij";  // ten bytes, without the padding to a multiple of 4
    EXPECT_EQ(vxi11::ReadReadReply(record, room, reply), vxi11::ReadDecode::kCutShort);
    record += std::string(2, '\0');
    ASSERT_EQ(vxi11::ReadReadReply(record, room, reply), vxi11::ReadDecode::kDone);
    EXPECT_EQ(std::string(room.data(), 10), "abcdefghij");
}

// The largest resident size this process has had, in kB.
long PeakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(Vxi11ScriptedServerTest, AReadReplyAnnouncingFourGigabytesFailsWithoutTakingThem) {
    constexpr uint32_t kAnnounced = 0xfffffff0u;
    constexpr size_t kStreamed = 64u << 20;  // then the server gives up
    ScriptedServer server([](int fd, int call, uint32_t xid) {
        if (call == 0)
            return ScriptedServer::Reply(fd, xid, {0, 1, 0, 1024});
        if (call == 1)
            return ScriptedServer::Reply(fd, xid, {0, 3});
        // The largest record fragment there is, data after data.
        std::string head;
        for (uint32_t word : {0xffffffffu, xid, 1u, 0u, 0u, 0u, 0u, 0u, 4u, kAnnounced}) {
            const uint32_t wire = htonl(word);
            head.append(reinterpret_cast<const char*>(&wire), sizeof wire);
        }
        send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        const std::string block(1 << 20, 'x');
        for (size_t sent = 0; sent < kStreamed; sent += block.size())
            if (send(fd, block.data(), block.size(), MSG_NOSIGNAL) <= 0)
                break;
        return false;
    });
    std::string why;
    std::unique_ptr<Transport> link = OpenVxi11("127.0.0.1", server.Port(), "inst0", 2000, why);
    ASSERT_NE(link, nullptr) << why;
    ASSERT_TRUE(link->WriteAll(std::string_view("X?\n"), 300)) << link->Problem();
    const long before = PeakResidentKb();
    std::array<char, 4096> buffer{};
    EXPECT_EQ(link->ReadSome(buffer, 2000), -1);
    EXPECT_LT(PeakResidentKb() - before, 16 * 1024);
    EXPECT_EQ(link->Problem(), "127.0.0.1:" + server.Port() +
                                   ": device_read returned 4294967280 bytes for 4095 asked");
    link.reset();
}

}  // namespace
}  // namespace kio
