// Two boards naming one "++" controller, against the simulator's controller
// face on loopback: a controller has one bus and one addressed instrument,
// so what one board's session sends never reaches the other's instrument.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <kio/Session.h>

#include "Process.h"
#include "ScopedEnv.h"

namespace kio {
namespace {

TEST(GpibSharedControllerTest, TwoBoardsOnOneControllerAddressTheirOwnInstrumentEveryTime) {
    const std::string stem =
        (std::filesystem::temp_directory_path() / ("kio-gpib-" + std::to_string(getpid())))
            .string();
    const std::string config = stem + ".ini", transcript = stem + ".txt";
    testsupport::Simulator simulator(
        {SIMULATOR_PATH, "--tcp", "0", "--gpib-address", "10", "--transcript", transcript});
    ASSERT_TRUE(simulator.FirstLine().starts_with("tcp ")) << simulator.FirstLine();
    const std::string port = simulator.FirstLine().substr(4);
    // The same controller, written two ways.
    std::ofstream(config) << "[gpib0]\ncontroller = TCPIP0::127.0.0.1::" << port
                          << "::SOCKET\n[gpib1]\ncontroller = tcpip::127.0.0.1::" << port
                          << "::socket\n";
    testsupport::ScopedEnv kioConfig("KIO_CONFIG", config);
    Result result;
    std::unique_ptr<Session> instrument = Session::Open("GPIB0::10", result);
    ASSERT_NE(instrument, nullptr) << result.message;
    std::unique_ptr<Session> other = Session::Open("GPIB1::11", result);
    ASSERT_NE(other, nullptr) << result.message;
    instrument->SetTimeout(2000);
    other->SetTimeout(2000);

    ASSERT_TRUE(other->Write("*CLS").ok());  // the other board addresses 11 first
    ASSERT_TRUE(instrument->Write("SYST:REM").ok());
    ASSERT_TRUE(other->Write("dlo \"S1130000\" ").ok());  // for 11, nobody's there
    std::string reply;
    ASSERT_TRUE(instrument->Query("*OPC?", reply).ok());
    EXPECT_EQ(reply, "1");
    instrument.reset();
    other.reset();
    simulator.Stop();
    std::ifstream in(transcript);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "SYST:REM\n*OPC?\n");
    std::filesystem::remove(config);
    std::filesystem::remove(transcript);
}

// A controller's address is keyed before it is opened: a port number too big
// for any device is an address that fails, never an exception out of Open.
TEST(GpibSharedControllerTest, AControllerOnAPortNumberTooBigForAnyDeviceFailsToOpen) {
    const std::string config =
        (std::filesystem::temp_directory_path() / ("kio-gpib-big-" + std::to_string(getpid())))
            .string() +
        ".ini";
    testsupport::ScopedEnv kioConfig("KIO_CONFIG");
    for (const std::string controller :
         {"ASRL99999999999::INSTR", "TCPIP0::127.0.0.1::99999999999::SOCKET"}) {
        std::ofstream(config) << "[gpib0]\ncontroller = " << controller << "\n";
        kioConfig.Set(config);
        Result result;
        std::unique_ptr<Session> instrument;
        EXPECT_NO_THROW(instrument = Session::Open("GPIB0::10", result)) << controller;
        EXPECT_EQ(instrument, nullptr) << controller;
    }
    std::filesystem::remove(config);
}

}  // namespace
}  // namespace kio
