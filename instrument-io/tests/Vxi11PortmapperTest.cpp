// A VXI-11 address with no port key: the core channel's port comes from the
// portmapper on port 111, here the simulator's. Port 111 is machine-wide, so
// ctest runs this program alone; without the port it skips and says why.
// While it holds the port, nothing else answers there once the simulator stops.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <kio/Session.h>

#include "Process.h"
#include "ScopedEnv.h"
#include "Vxi11.h"

namespace kio {
namespace {

TEST(Vxi11PortmapperTest, TheCorePortIsFoundThroughThePortmapper) {
    testsupport::Simulator simulator({SIMULATOR_PATH, "--vxi11", "0", "--portmapper"});
    if (!simulator.FirstLine().ends_with(" portmapper"))
        GTEST_SKIP() << "127.0.0.1:111 cannot be bound here (not root, or a portmapper already "
                        "runs): the portmapper path is not tested";
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() / ("kio-pmap-" + std::to_string(getpid()) + ".ini");
    std::ofstream(config) << "[tcpip]\nvxi11_hosts = 127.0.0.1\n";  // and no port key
    testsupport::ScopedEnv kioConfig("KIO_CONFIG", config.string());
    Result result;
    std::unique_ptr<Session> session = Session::Open("TCPIP0::127.0.0.1::INSTR", result);
    ASSERT_NE(session, nullptr) << result.message;
    std::string reply;
    ASSERT_TRUE(session->Query("*OPC?", reply).ok());
    EXPECT_EQ(reply, "1");
    session.reset();
    // A program the portmapper does not know, then no portmapper at all.
    std::string why;
    EXPECT_EQ(PortFromPortmapper("127.0.0.1", 100003, 3, 2000, why), "");
    EXPECT_EQ(why,
              "the portmapper on 127.0.0.1 has no TCP port for RPC program 0x0186A3 version 3");
    simulator.Stop();
    EXPECT_EQ(Session::Open("TCPIP0::127.0.0.1::INSTR", result), nullptr);
    EXPECT_EQ(result.message,
              "Cannot open TCPIP0::127.0.0.1::INSTR: no portmapper: 127.0.0.1:111: Connection "
              "refused (a host without a portmapper needs vxi11_port in [tcpip::127.0.0.1])");
    std::filesystem::remove(config);
}

// The LAN face with two standard VXI-11 clients, each finding the core
// channel through the portmapper: lxi-tools' "lxi scpi", which ends its
// message with END alone, and pyvisa-py, which sends CR LF with END.
TEST(Vxi11PortmapperTest, StandardClientsGetTheIdentification) {
    const bool haveLxi = access("/usr/bin/lxi", X_OK) == 0;
    const bool havePyvisa =
        testsupport::RunProcess({"/usr/bin/python3", "-c", "import pyvisa_py"}, "").status == 0;
    if (!haveLxi && !havePyvisa)
        GTEST_SKIP() << "neither lxi-tools nor python3-pyvisa-py is installed";
    testsupport::Simulator simulator({SIMULATOR_PATH, "--vxi11", "0", "--portmapper"});
    if (!simulator.FirstLine().ends_with(" portmapper"))
        GTEST_SKIP() << "127.0.0.1:111 cannot be bound here (not root, or a portmapper already "
                        "runs): the standard clients are not tried";
    const std::string identification = "Velmora,KR470A,SN470001,1.04-2.10-0.9";
    if (haveLxi) {
        testsupport::ProcessResult lxi =
            testsupport::RunProcess({"/usr/bin/lxi", "scpi", "-a", "127.0.0.1", "*IDN?"}, "");
        EXPECT_EQ(lxi.status, 0) << lxi.errors;
        EXPECT_EQ(lxi.output, identification + "\n") << lxi.errors;
    }
    if (havePyvisa) {
        testsupport::ProcessResult pyvisa =
            testsupport::RunProcess({"/usr/bin/python3", "-c",
                                     "import pyvisa\n"
                                     "instrument = pyvisa.ResourceManager('@py').open_resource("
                                     "'TCPIP0::127.0.0.1::inst0::INSTR', open_timeout=3000)\n"
                                     "instrument.timeout = 3000\n"
                                     "print(instrument.query('*IDN?'), end='')\n"
                                     "instrument.write('*CLS')\n"
                                     "print(instrument.query('*OPC?'), end='')\n"
                                     "instrument.close()\n"},
                                    "");
        EXPECT_EQ(pyvisa.status, 0) << pyvisa.errors;
        EXPECT_EQ(pyvisa.output, identification + "\n1\n") << pyvisa.errors;
    }
}

}  // namespace
}  // namespace kio
