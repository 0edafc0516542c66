// Addresses reach their bus through the table; each failure says which.
#include "BusTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include <kio/LineKey.h>
#include <kio/Session.h>

#include "Address.h"
#include "ScopedEnv.h"
#include "TempFile.h"

namespace kio {
namespace {

TEST(FindBus, PicksTheBusByTheStartOfTheFirstPart) {
    struct Case {
        const char* firstPart;
        const char* kind;  // nullptr: no bus
    };
    const Case cases[] = {
        {"ASRL1", "ASRL"},   {"ASRL/DEV/TTYUSB0", "ASRL"},
        {"TCPIP0", "TCPIP"}, {"TCPIP", "TCPIP"},
        {"GPIB0", "GPIB"},   {"USB0", nullptr},
        {"", nullptr},       {"ASR", nullptr},
    };
    for (const Case& c : cases) {
        const Bus* bus = FindBus(c.firstPart);
        if (c.kind == nullptr) {
            EXPECT_EQ(bus, nullptr) << c.firstPart;
        } else {
            ASSERT_NE(bus, nullptr) << c.firstPart;
            EXPECT_EQ(bus->kind, c.kind) << c.firstPart;
        }
    }
}

TEST(Address, SplitsAtDoubleColonsAndCanonicalDropsInstr) {
    EXPECT_EQ(SplitAddress("TCPIP0::Host::5025::SOCKET"),
              (std::vector<std::string>{"TCPIP0", "Host", "5025", "SOCKET"}));
    EXPECT_EQ(SplitAddress("ASRL1"), (std::vector<std::string>{"ASRL1"}));
    EXPECT_EQ(SplitAddress("A::::B"), (std::vector<std::string>{"A", "", "B"}));
    EXPECT_EQ(Canonical("  gpib0::10::instr "), "GPIB0::10");
    EXPECT_EQ(Canonical("GPIB0::10"), "GPIB0::10");
}

// A number past what an int holds names no port: it never wraps round to a
// real one (4294967297 was read as 1, and /dev/ttyS0 opened).
TEST(Address, ANumberedSerialPortIsItsTtySAndANumberNoPortHasNamesNone) {
    EXPECT_EQ(NumberedSerialDevice("1"), "/dev/ttyS0");
    EXPECT_EQ(NumberedSerialDevice("010"), "/dev/ttyS9");
    EXPECT_EQ(NumberedSerialDevice("4294967297"), "");
    EXPECT_EQ(NumberedSerialDevice("99999999999"), "");
}

// Session::Open with a configuration of the test's own (KIO_CONFIG, put back after).
class OpenThroughTheTable : public ::testing::Test {
  protected:
    void Configure(const std::string& text) { kioConfig_.Set(dir_.Write("config.ini", text)); }
    Result Open(const std::string& address) {
        Result result;
        EXPECT_EQ(Session::Open(address, result, 1000), nullptr) << address;
        return result;
    }
    testsupport::TempDir dir_;

  private:
    testsupport::ScopedEnv kioConfig_{"KIO_CONFIG"};
};

TEST_F(OpenThroughTheTable, EachKindOfFailureKeepsItsStatusAndText) {
    Configure("[aliases]\nINSTR1 = GPIB0::7\n[ASRL9]\ndevice = " + dir_.Path().string() +
              "/none\n");
    const std::string config = dir_.Path().string() + "/config.ini";

    Result result = Open("USB0::1::INSTR");
    EXPECT_EQ(result.status, Status::kBadAddress);
    EXPECT_EQ(result.message, "Invalid resource address: USB0::1::INSTR");

    result = Open("TCPIP0::127.0.0.1::5025");  // no ::SOCKET
    EXPECT_EQ(result.status, Status::kBadAddress);
    EXPECT_EQ(result.message,
              "Invalid resource address: TCPIP0::127.0.0.1::5025 (\"5025\" is a "
              "port number, not a LAN device name: a socket address ends in "
              "::SOCKET)");

    result = Open("ASRLx::INSTR");
    EXPECT_EQ(result.status, Status::kBadAddress);

    result = Open("INSTR1");
    EXPECT_EQ(result.status, Status::kConfig);
    EXPECT_EQ(result.message,
              "No route to GPIB0::7 (reached from INSTR1 through an alias): add a "
              "line \"GPIB0::7 = TCPIP0::host::port::SOCKET\" (or an ASRL "
              "address) to the [aliases] section of " +
                  config +
                  ", or a [GPIB0] section with \"controller = ASRL/dev/ttyUSB0::INSTR\" (or a "
                  "TCPIP0::host::port::SOCKET address) naming the board's \"++\" controller");

    result = Open("ASRL9::INSTR");
    EXPECT_EQ(result.status, Status::kNotFound);
    EXPECT_EQ(
        result.message.rfind("Cannot open ASRL9::INSTR: " + dir_.Path().string() + "/none: ", 0),
        0u)
        << result.message;
}

// Each bus keys an address by the same reading of its form as its opener: an
// address the opener refuses keys as itself, never as a line it would not
// open, and a board whose controller is another board's address ends nowhere.
TEST_F(OpenThroughTheTable, AnAddressItsBusRefusesKeysAsItself) {
    Configure(
        "[gpib1]\ncontroller = GPIB2::5\n[gpib2]\ncontroller = GPIB1::5\n"
        "[gpib3]\ncontroller = TCPIP0::127.0.0.1::1234::SOCKET\n");
    const std::vector<std::string> addresses = {"ASRLx::INSTR",
                                                "TCPIP0::127.0.0.1::5025",
                                                "TCPIP0::127.0.0.1::SOCKET",
                                                "GPIB1::5",
                                                "GPIB3::31",
                                                "GPIB3::5::1",
                                                "GPIB3::05"};
    std::vector<std::string> ports;
    for (const LineKey& key : LineKeysOf(addresses))
        ports.push_back(key.port);
    EXPECT_EQ(ports,
              (std::vector<std::string>{
                  "ASRLX", "TCPIP0::127.0.0.1::5025", "TCPIP0::127.0.0.1::SOCKET", "GPIB1::5",
                  "GPIB3::31", "tcp 127.0.0.1:1234 gpib 5,1", "tcp 127.0.0.1:1234 gpib 5"}));
    for (const char* address :
         {"ASRLx::INSTR", "TCPIP0::127.0.0.1::5025", "TCPIP0::127.0.0.1::SOCKET", "GPIB3::31"})
        EXPECT_EQ(Open(address).status, Status::kBadAddress) << address;
}

}  // namespace
}  // namespace kio
