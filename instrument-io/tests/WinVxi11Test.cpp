// VXI-11 on Windows, run under Wine: a session with the native simulator's
// core channel (its port in KR470_SIM_VXI11_PORT, the test skipped without
// it), and a hostile server of the test's own whose device_read reply
// announces 4 GB: the read fails and the process grows by less than 16 MB.
#include <windows.h>
#include <winsock2.h>

#include <psapi.h>  // after windows.h, whose types it uses

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <kio/Session.h>

#include "RpcWire.h"
#include "TempFile.h"
#include "Vxi11.h"
#include "WinLoopback.h"

namespace kio {
namespace {

namespace rpc = kr470::rpc;

std::string Words(std::initializer_list<uint32_t> words) {
    rpc::XdrWriter out;
    for (uint32_t word : words)
        out.U32(word);
    return out.Bytes();
}

TEST(WinVxi11, ASessionWithTheNativeSimulatorWritesLinesAndReadsReplies) {
    // Copies: setting a variable may move the environment.
    const char* portVariable = std::getenv("KR470_SIM_VXI11_PORT");
    const char* transcriptVariable = std::getenv("KR470_SIM_TRANSCRIPT");
    if (portVariable == nullptr || *portVariable == '\0' || transcriptVariable == nullptr)
        GTEST_SKIP() << "no simulator's VXI-11 face (KR470_SIM_VXI11_PORT)";
    const std::string port = portVariable;
    const std::string transcript = transcriptVariable;
    testsupport::TempDir dir;
    const std::string config =
        dir.Write("config.ini", "[tcpip::127.0.0.1]\nvxi11_port = " + port + "\n");
    _putenv_s("KIO_CONFIG", config.c_str());
    Result result;
    std::unique_ptr<Session> session = Session::Open("TCPIP0::127.0.0.1::INSTR", result, 5000);
    ASSERT_NE(session, nullptr) << result.message;
    session->SetTimeout(5000);
    EXPECT_EQ(session->InterfaceKind(), "TCPIP");
    std::string reply;
    ASSERT_TRUE(session->Query("*IDN?", reply).ok());
    EXPECT_EQ(reply, "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    const std::string record = "dlo \"S1130000" + std::string(64, 'A') + "\" ";
    result = session->Write(record);
    ASSERT_TRUE(result.ok()) << result.message;
    ASSERT_TRUE(session->Query("*OPC?", reply).ok());
    EXPECT_EQ(reply, "1");
    session.reset();
    _putenv_s("KIO_CONFIG", "");
    std::ifstream in(transcript);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "*IDN?\n" + record + "\n*OPC?\n");
}

// A core channel on loopback that links, takes a write, and answers the
// first device_read with the largest record fragment there is, announcing
// 4 GB of data, then streams data until the client goes.
class HostileServer {
  public:
    HostileServer() {
        listener_ = ListenOnLoopback(port_);
        EXPECT_NE(listener_, INVALID_SOCKET);
        thread_ = std::thread([this] { Serve(); });
    }
    ~HostileServer() {
        thread_.join();
        closesocket(listener_);
    }
    const std::string& Port() const { return port_; }

  private:
    static bool SendAll(SOCKET peer, const std::string& bytes) {
        return send(peer, bytes.data(), static_cast<int>(bytes.size()), 0) ==
               static_cast<int>(bytes.size());
    }

    void Serve() {
        SOCKET peer = accept(listener_, nullptr, nullptr);
        // A flood the client has stopped reading ends here at the latest,
        // should its closing not end the blocked send at once.
        const DWORD sendWaitMs = 3000;
        setsockopt(peer, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendWaitMs),
                   sizeof sendWaitMs);
        rpc::RecordReader records(1 << 16);
        std::array<char, 4096> buffer{};
        for (int call = 0; call < 3;) {
            std::string record;
            rpc::RecordReader::State state = records.Next(record);
            if (state == rpc::RecordReader::State::kNeedMore) {
                const int got = recv(peer, buffer.data(), static_cast<int>(buffer.size()), 0);
                if (got <= 0)
                    break;
                records.Feed(std::string_view(buffer.data(), static_cast<size_t>(got)));
                continue;
            }
            rpc::XdrReader reader(record);
            rpc::CallHeader header;
            if (state != rpc::RecordReader::State::kRecord || !rpc::ReadCallHeader(reader, header))
                break;
            if (call == 0)  // create_link: link 1, 1024-byte writes
                SendAll(peer, rpc::MarkRecord(rpc::AcceptedReply(header.xid, rpc::kAcceptSuccess,
                                                                 Words({0, 1, 0, 1024}))));
            else if (call == 1)  // device_write: all 3 bytes taken
                SendAll(peer, rpc::MarkRecord(rpc::AcceptedReply(header.xid, rpc::kAcceptSuccess,
                                                                 Words({0, 3}))));
            else
                Flood(peer, header.xid);
            ++call;
        }
        closesocket(peer);
    }

    static void Flood(SOCKET peer, uint32_t xid) {
        SendAll(peer, Words({0xFFFFFFFFu}) +
                          rpc::AcceptedReply(xid, rpc::kAcceptSuccess, Words({0, 4, 0xFFFFFFF0u})));
        const std::string block(1 << 20, 'x');
        for (int sent = 0; sent < 64 && SendAll(peer, block); ++sent) {
        }
    }

    SOCKET listener_ = INVALID_SOCKET;
    std::string port_;
    std::thread thread_;
};

struct Peaks {
    size_t workingSet;
    size_t pagefile;
};
Peaks PeakMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return {counters.PeakWorkingSetSize, counters.PeakPagefileUsage};
}

TEST(WinVxi11, AReadReplyAnnouncingFourGigabytesFailsAndCostsLessThan16Megabytes) {
    HostileServer server;
    std::string why;
    std::unique_ptr<Transport> link = OpenVxi11("127.0.0.1", server.Port(), "inst0", 5000, why);
    ASSERT_NE(link, nullptr) << why;
    ASSERT_TRUE(link->WriteAll(std::string_view("X?\n"), 2000)) << link->Problem();
    std::array<char, 4096> buffer{};
    const Peaks before = PeakMemory();
    EXPECT_EQ(link->ReadSome(buffer, 5000), -1);
    const Peaks after = PeakMemory();
    EXPECT_EQ(link->Problem(), "127.0.0.1:" + server.Port() +
                                   ": device_read returned 4294967280 bytes for 4095 asked");
    link.reset();  // the server's flood ends with the connection
    constexpr size_t kMost = 16u << 20;
    EXPECT_LT(after.workingSet - before.workingSet, kMost);
    EXPECT_LT(after.pagefile - before.pagefile, kMost);
}

}  // namespace
}  // namespace kio
