// instrument-io on Windows, run under Wine: the bus table's Windows rows, the
// configuration file under %APPDATA%, and sessions over Winsock against
// loopback listeners of the test's own and the native simulator (its port in
// KR470_SIM_PORT; the tests that need it are skipped without it).
#include "WinSessionSupport.h"
//
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include <kio/LineKey.h>
#include <kio/Session.h>

#include "Address.h"

namespace kio {
namespace {

// A port nothing listens on: a listener's, closed again.
std::string ClosedPort() {
    Listener listener;
    return listener.Port();
}

using WinSession = ConfiguredSessions;

TEST(WinAddress, Asrl5IsCom5ThroughTheDeviceNamespaceAndKeysAsOnePortHoweverWritten) {
    EXPECT_EQ(NumberedSerialDevice("5"), "\\\\.\\COM5");
    EXPECT_EQ(NumberedSerialDevice("012"), "\\\\.\\COM12");
    EXPECT_EQ(NumberedSerialDevice("4294967297"), "");
    EXPECT_EQ(RealSerialDevice("com5"), "\\\\.\\COM5");
    EXPECT_EQ(RealSerialDevice("\\\\.\\COM5"), "\\\\.\\COM5");
}

TEST_F(WinSession, TheConfigurationIsInAppDataUnlessKioConfigNamesAFile) {
    _putenv_s("KIO_CONFIG", "");
    ScopedVariable appData("APPDATA", "C:\\Users\\tech\\AppData\\Roaming");
    EXPECT_EQ(ConfigPath(), "C:\\Users\\tech\\AppData\\Roaming\\instrument-io\\config.ini");
    ScopedVariable named("KIO_CONFIG", "D:\\lab\\kio.ini");
    EXPECT_EQ(ConfigPath(), "D:\\lab\\kio.ini");
}

// GPIB and VXI-11 are built as on Linux; what no bus takes is refused as there.
TEST_F(WinSession, AnAddressFormNoBusTakesIsABadAddress) {
    Configure("");
    Result result;
    EXPECT_EQ(Open("TCPIP0::127.0.0.1::5025", result), nullptr);
    EXPECT_EQ(result.status, Status::kBadAddress);
}

TEST_F(WinSession, AnAliasInTheAppDataFileRoutesGpib0Colon10ToASocket) {
    Listener listener;
    std::filesystem::create_directory(dir_.Path() / "instrument-io");
    dir_.Write("instrument-io/config.ini", "[aliases]\nGPIB0::10 = " + listener.Address() + "\n");
    _putenv_s("KIO_CONFIG", "");
    ScopedVariable appData("APPDATA", dir_.Path().string());
    Result result;
    std::unique_ptr<Session> session = Open("GPIB0::10", result);
    ASSERT_NE(session, nullptr) << result.message;
    EXPECT_EQ(session->InterfaceKind(), "TCPIP");
    EXPECT_EQ(LineKeysOf({"GPIB0::10"})[0].port, "tcp 127.0.0.1:" + listener.Port());
}

TEST_F(WinSession, ARefusedConnectAndAnUnknownHostSayWhatFailed) {
    Configure("");
    const std::string port = ClosedPort();
    Result result;
    EXPECT_EQ(Open("TCPIP0::127.0.0.1::" + port + "::SOCKET", result), nullptr);
    EXPECT_EQ(result.status, Status::kNotFound);
    EXPECT_EQ(result.message, "Cannot open TCPIP0::127.0.0.1::" + port +
                                  "::SOCKET: 127.0.0.1:" + port + ": Connection refused");

    EXPECT_EQ(Open("TCPIP0::no-such-host.invalid::5025::SOCKET", result), nullptr);
    EXPECT_EQ(result.status, Status::kNotFound);
    EXPECT_EQ(
        result.message.rfind(
            "Cannot open TCPIP0::no-such-host.invalid::5025::SOCKET: no-such-host.invalid: ", 0),
        0u)
        << result.message;
}

// A reply in two pieces, a silent peer's time-out, a peer that hangs up.
TEST_F(WinSession, LinesArriveInPiecesASilentPeerTimesOutAndAHangupIsALostConnection) {
    Configure("");
    Listener listener;
    Result result;
    // By name: the lookup runs with Winsock started.
    std::unique_ptr<Session> session =
        Open("TCPIP0::localhost::" + listener.Port() + "::SOCKET", result);
    ASSERT_NE(session, nullptr) << result.message;
    listener.Accept();
    session->SetTimeout(10000);

    ASSERT_TRUE(session->Write("*IDN?").ok());
    EXPECT_EQ(listener.ReceiveLine(), "*IDN?\n");
    listener.Send("Velmora,KR4");
    listener.Send("70A\r\nnext");
    std::string line;
    ASSERT_TRUE(session->ReadLine(line).ok());
    EXPECT_EQ(line, "Velmora,KR470A");

    session->SetTimeout(200);
    result = session->ReadLine(line);
    EXPECT_EQ(result.status, Status::kTimeout);
    EXPECT_EQ(result.message, "Timeout expired before operation completed (TCPIP0::localhost::" +
                                  listener.Port() + "::SOCKET)");

    listener.Hangup();
    session->SetTimeout(10000);
    result = session->ReadLine(line);
    EXPECT_EQ(result.status, Status::kIoError);
    EXPECT_EQ(result.message,
              "Connection to TCPIP0::localhost::" + listener.Port() + "::SOCKET was lost");
}

// Interrupt from another thread ends a read with a minute to run, and every
// later write and read fails at once.
TEST_F(WinSession, InterruptEndsAWaitingReadAndFailsEveryLaterOne) {
    Configure("");
    Listener listener;
    Result result;
    std::unique_ptr<Session> session = Open(listener.Address(), result);
    ASSERT_NE(session, nullptr) << result.message;
    listener.Accept();
    session->SetTimeout(60000);
    Result read;
    std::thread reader([&] {
        std::string line;
        read = session->ReadLine(line);
    });
    session->Interrupt();
    reader.join();
    EXPECT_EQ(read.status, Status::kIoError);
    EXPECT_EQ(read.message,
              "I/O error reading from " + listener.Address() + ": interrupted on request");
    result = session->Write("*RST");
    EXPECT_EQ(result.status, Status::kIoError);
    EXPECT_EQ(result.message,
              "I/O error writing to " + listener.Address() + ": interrupted on request");
}

TEST_F(WinSession, TheNativeSimulatorAnswersOverLoopbackTcp) {
    const char* port = std::getenv("KR470_SIM_PORT");
    if (port == nullptr || *port == '\0')
        GTEST_SKIP() << "no simulator (KR470_SIM_PORT)";
    Configure("[aliases]\nGPIB0::10 = TCPIP0::127.0.0.1::" + std::string(port) + "::SOCKET\n");
    Result result;
    std::unique_ptr<Session> session = Open("GPIB0::10", result);
    ASSERT_NE(session, nullptr) << result.message;
    session->SetTimeout(5000);
    std::string reply;
    ASSERT_TRUE(session->Query("*IDN?", reply).ok());
    EXPECT_EQ(reply, "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    ASSERT_TRUE(session->Query("SYST:ERR?", reply).ok());
    EXPECT_EQ(reply, "+0,\"No error\"");
}

}  // namespace
}  // namespace kio
