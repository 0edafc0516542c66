// Two spellings of one port are one port, through links, numbered serial
// ports and aliases; the default parallelism counts hosts.
#include <strings.h>

#include <gtest/gtest.h>

#include <filesystem>

#include <kio/Resolver.h>

#include "PortKey.h"
#include "ScopedEnv.h"
#include "TempFile.h"

namespace fleet {
namespace {

class PortKeyTest : public ::testing::Test {
  protected:
    PortKeyTest() {
        device_ = dir_.Write("ttyLab0", "");
        std::filesystem::create_symlink(device_, dir_.Path() / "by-id-adapter");
        dir_.Write("kio.ini", "[ASRL3]\ndevice = " + device_ +
                                  "\n[aliases]\nGPIB0::10 = TCPIP0::127.0.0.1::5025::SOCKET\n"
                                  "GPIB0::11 = ASRL3::INSTR\n"
                                  "[gpib1]\ncontroller = ASRL3::INSTR\n"
                                  "[gpib2]\ncontroller = TCPIP0::127.0.0.1::1234::SOCKET\n");
        kioConfig_.Set((dir_.Path() / "kio.ini").string());
        // No real lookups: "localhost" and "bench-a.lab" answer as a loopback
        // host does (its IPv6 address first); any other name is unknown.
        kio::SetResolver(
            [](const char* host, const char* port, const addrinfo* hints, addrinfo** out) {
                if (strcasecmp(host, "localhost") != 0 && strcasecmp(host, "bench-a.lab") != 0) {
                    return EAI_NONAME;
                }
                addrinfo numeric = *hints;
                numeric.ai_flags |= AI_NUMERICHOST;
                addrinfo* second = nullptr;
                if (getaddrinfo("::1", port, &numeric, out) != 0) {
                    return EAI_FAIL;
                }
                if (getaddrinfo("127.0.0.1", port, &numeric, &second) != 0) {
                    freeaddrinfo(*out);
                    return EAI_FAIL;
                }
                (*out)->ai_next = second;
                return 0;
            });
    }
    ~PortKeyTest() override { kio::SetResolver({}); }

    std::vector<PlanRow> Rows(const std::vector<std::string>& addresses) const {
        return PlanFromAddresses(addresses, "fw.ini");
    }
    std::vector<std::string> Clashes(const std::vector<std::string>& addresses) const {
        std::vector<PlanRow> rows = Rows(addresses);
        return SharedPorts(rows, KeysOfRows(rows));
    }

    testsupport::TempDir dir_;
    testsupport::ScopedEnv kioConfig_{"KIO_CONFIG"};
    std::string device_;
};

TEST_F(PortKeyTest, OneSerialDeviceSpelledFourWaysIsOnePort) {
    std::string link = (dir_.Path() / "by-id-adapter").string();
    std::vector<std::string> clashes =
        Clashes({"ASRL3::INSTR", "ASRL" + device_ + "::INSTR", "asrl" + link, "GPIB0::11"});
    ASSERT_EQ(clashes.size(), 3u);
    EXPECT_EQ(clashes[0], "address 2: ASRL" + device_ +
                              "::INSTR reaches the port of address 1 "
                              "(ASRL3::INSTR): serial " +
                              device_);
}

TEST_F(PortKeyTest, SocketsCompareByHostAndPortNumber) {
    EXPECT_EQ(
        Clashes({"TCPIP0::127.0.0.1::5025::SOCKET", "tcpip::127.0.0.1::05025::socket"}).size(), 1u);
    EXPECT_EQ(Clashes({"GPIB0::10", "TCPIP0::127.0.0.1::5025::SOCKET"}).size(), 1u);
    EXPECT_TRUE(Clashes({"TCPIP0::127.0.0.1::5025::SOCKET", "TCPIP0::127.0.0.1::5026::SOCKET",
                         "TCPIP0::127.0.0.2::5025::SOCKET"})
                    .empty());
}

TEST_F(PortKeyTest, HostNameAndItsAddressAreOneHost) {
    EXPECT_EQ(
        Clashes({"TCPIP0::127.0.0.1::5025::SOCKET", "TCPIP0::localhost::5025::SOCKET"}).size(), 1u);
    EXPECT_EQ(
        Clashes({"TCPIP0::bench-a.lab::5025::SOCKET", "TCPIP0::LOCALHOST::5025::SOCKET"}).size(),
        1u);
    EXPECT_TRUE(
        Clashes({"TCPIP0::localhost::5025::SOCKET", "TCPIP0::127.0.0.2::5025::SOCKET"}).empty());
}

TEST_F(PortKeyTest, InstrumentsBehindOneControllerShareItsLineButNotTheirPort) {
    EXPECT_EQ(Clashes({"GPIB1::5::INSTR", "gpib1::05"}).size(), 1u);
    EXPECT_EQ(Clashes({"GPIB1::5::2", "GPIB1::5::02::INSTR"}).size(), 1u);
    EXPECT_TRUE(Clashes({"GPIB1::5", "GPIB1::6", "GPIB1::5::2", "GPIB2::5"}).empty());
    std::vector<PortKey> keys = KeysOfRows(Rows(
        {"GPIB1::5", "GPIB1::6", "ASRL3::INSTR", "GPIB2::5", "TCPIP0::127.0.0.1::5025::SOCKET"}));
    EXPECT_EQ(DistinctHosts(keys), 2u);
    EXPECT_EQ(keys[0].host, keys[2].host);
}

TEST_F(PortKeyTest, LanDevicesOfOneHostShareItButNotTheirPort) {
    EXPECT_EQ(
        Clashes({"TCPIP0::127.0.0.1::INSTR", "tcpip::127.0.0.1::inst0::instr", "TCPIP1::127.0.0.1"})
            .size(),
        2u);
    EXPECT_TRUE(Clashes({"TCPIP0::127.0.0.1::INSTR", "TCPIP0::127.0.0.1::gpib0,5::INSTR",
                         "TCPIP0::127.0.0.1::5025::SOCKET"})
                    .empty());
    EXPECT_EQ(DistinctHosts(KeysOfRows(
                  Rows({"TCPIP0::127.0.0.1::INSTR", "TCPIP0::127.0.0.1::5025::SOCKET"}))),
              1u);
}

TEST_F(PortKeyTest, UnknownBusesKeyAsTheirRoutedAddress) {
    EXPECT_EQ(Clashes({"VXI0::1::INSTR", "vxi0::1"}).size(), 1u);
    EXPECT_TRUE(Clashes({"VXI0::1::INSTR", "VXI0::2::INSTR"}).empty());
}

// A port number no device has keys as written (opening it says why it fails),
// rather than ending the whole run before any row starts.
TEST_F(PortKeyTest, ASerialPortNumberTooBigForAnyDeviceKeysAsItsAddress) {
    std::vector<std::string> clashes;
    EXPECT_NO_THROW(clashes = Clashes({"ASRL99999999999::INSTR", "asrl99999999999"}));
    EXPECT_EQ(clashes.size(), 1u);
}

TEST_F(PortKeyTest, DefaultParallelismIsOnePerHostOrSerialPort) {
    std::vector<PortKey> keys =
        KeysOfRows(Rows({"TCPIP0::127.0.0.1::5025::SOCKET", "TCPIP0::127.0.0.1::5026::SOCKET",
                         "TCPIP0::lab-7::5025::SOCKET", "ASRL3::INSTR", "ASRL/dev/ttyS9"}));
    EXPECT_EQ(DistinctHosts(keys), 4u);
}

}  // namespace
}  // namespace fleet
