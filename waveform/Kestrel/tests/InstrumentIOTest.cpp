// The I/O layer against the simulator over TCP and over a pseudo-terminal.
#include "InstrumentIO.h"

#include <fcntl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Process.h"
#include "RuntimeError.h"
#include "ScopedEnv.h"

namespace kestrel {
namespace {

using testsupport::Simulator;

class InstrumentIOTest : public ::testing::Test {
  protected:
    InstrumentIOTest() {
        config_ =
            std::filesystem::temp_directory_path() / ("kio-" + std::to_string(getpid()) + ".ini");
        kioConfig_.Set(config_.string());
    }
    ~InstrumentIOTest() override { std::filesystem::remove(config_); }
    // Starts the simulator on TCP; returns its address.
    std::string StartTcp(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {SIMULATOR_PATH, "--tcp", "0"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        simulator_ = std::make_unique<Simulator>(argv);
        return "TCPIP0::127.0.0.1::" + simulator_->FirstLine().substr(4) + "::SOCKET";
    }
    std::string ErrorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const RuntimeError& error) {
            return error.Description();
        }
        return "";
    }
    std::filesystem::path config_;
    testsupport::ScopedEnv kioConfig_{"KIO_CONFIG"};
    std::unique_ptr<Simulator> simulator_;
    std::unique_ptr<IOFactory> factory_ = CreateIOFactory();
};

TEST_F(InstrumentIOTest, SocketQueriesCommandsAndFieldReplies) {
    std::string address = StartTcp({"--error", "-100,\"Command error\""});
    std::unique_ptr<InstrumentIO> io = factory_->OpenInstrument(address);
    EXPECT_EQ(io->GetInterfaceKind(), "TCPIP");
    EXPECT_EQ(io->GetAddress(), address);
    io->SetTimeout(12000);
    EXPECT_EQ(io->SendQuery("*IDN?"), "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    io->SendCommand("SYSTem:ERRor?");
    std::vector<std::string> fields;
    io->ReadReply(fields, "K");
    EXPECT_EQ(fields, (std::vector<std::string>{"-100", "\"Command error\""}));
    io->SendCommand("dlo:csum?");
    std::string reply;
    io->ReadReply(reply, "K");
    EXPECT_EQ(reply, "0012345");
}

TEST_F(InstrumentIOTest, SilenceTimesOutAndADroppedLineFails) {
    std::string address = StartTcp({"--silent", "*STB?", "--hangup-on", "*OPC?"});
    std::unique_ptr<InstrumentIO> io = factory_->OpenInstrument(address);
    io->SetTimeout(300);
    EXPECT_EQ(ErrorOf([&] { io->SendQuery("*STB?"); }),
              "Timeout expired before operation completed (" + address + ")");
    EXPECT_NE(ErrorOf([&] { io->SendQuery("*OPC?"); }), "");
}

TEST_F(InstrumentIOTest, GpibAddressNeedsAnAliasThatRoutesIt) {
    EXPECT_NE(ErrorOf([&] { factory_->OpenInstrument("GPIB0::10"); }).find("[aliases]"),
              std::string::npos);
    std::string address = StartTcp();
    std::ofstream(config_) << "[aliases]\ngpib0::10::instr = " << address << "\n";
    std::unique_ptr<InstrumentIO> io = factory_->OpenInstrument("GPIB0::10");
    EXPECT_EQ(io->GetInterfaceKind(), "TCPIP");
    EXPECT_EQ(io->SendQuery("*OPC?"), "1");
}

TEST_F(InstrumentIOTest, GpibAliasRoutedToASerialPathOpensThatDevice) {
    std::string link =
        (std::filesystem::temp_directory_path() / ("kio-Tty-" + std::to_string(getpid()))).string();
    simulator_ =
        std::make_unique<Simulator>(std::vector<std::string>{SIMULATOR_PATH, "--link", link});
    std::ofstream(config_) << "[aliases]\nGPIB0::10 = ASRL" << link << "::INSTR\n";
    std::unique_ptr<InstrumentIO> io = factory_->OpenInstrument("GPIB0::10");
    EXPECT_EQ(io->GetInterfaceKind(), "ASRL");
    EXPECT_EQ(io->GetAddress(), "GPIB0::10");
    EXPECT_EQ(io->SendQuery("*OPC?"), "1");
    io.reset();
    // A failure names the device the alias routes to.
    std::ofstream(config_) << "[aliases]\nGPIB0::10 = ASRL/dev/no-such-Port::INSTR\n";
    std::string error = ErrorOf([&] { factory_->OpenInstrument("GPIB0::10"); });
    EXPECT_NE(error.find("/dev/no-such-Port: No such file or directory"), std::string::npos)
        << error;
}

TEST_F(InstrumentIOTest, AliasChainsAreFollowedAndLoopsNamed) {
    std::string address = StartTcp();
    std::ofstream(config_) << "[aliases]\nGPIB0::10 = GPIB1::3\nGPIB1::3::INSTR = " << address
                           << "\n";
    std::unique_ptr<InstrumentIO> io = factory_->OpenInstrument("GPIB0::10");
    EXPECT_EQ(io->SendQuery("*OPC?"), "1");
    io.reset();

    std::ofstream(config_) << "[aliases]\nGPIB0::10 = GPIB1::3\nGPIB1::3 = gpib0::10::INSTR\n";
    EXPECT_EQ(ErrorOf([&] { factory_->OpenInstrument("GPIB0::10"); }),
              "Cannot open GPIB0::10: the aliases go round in a loop (GPIB0::10 -> GPIB1::3 -> "
              "gpib0::10::INSTR) in the [aliases] section of " +
                  config_.string());
    std::ofstream(config_) << "[aliases]\nGPIB0::10 = GPIB0::10\n";
    EXPECT_NE(ErrorOf([&] { factory_->OpenInstrument("GPIB0::10"); }).find("loop"),
              std::string::npos);

    // A chain that ends at an address without a route names where it ended.
    std::ofstream(config_) << "[aliases]\nGPIB0::10 = GPIB1::3\n";
    EXPECT_EQ(ErrorOf([&] { factory_->OpenInstrument("GPIB0::10"); })
                  .starts_with("No route to GPIB1::3 (reached from GPIB0::10 through an alias): "
                               "add a line \"GPIB1::3 = "),
              true);

    // A long chain without a loop stops at a bounded depth.
    std::ofstream chain(config_);
    chain << "[aliases]\n";
    for (int i = 0; i < 20; ++i)
        chain << "GPIB0::" << i << " = GPIB0::" << i + 1 << "\n";
    chain.close();
    EXPECT_NE(ErrorOf([&] { factory_->OpenInstrument("GPIB0::0"); }).find("more than 8 aliases"),
              std::string::npos);
}

TEST_F(InstrumentIOTest, SerialPortByPathAndByNumber) {
    std::string link =
        (std::filesystem::temp_directory_path() / ("kio-tty-" + std::to_string(getpid()))).string();
    simulator_ =
        std::make_unique<Simulator>(std::vector<std::string>{SIMULATOR_PATH, "--link", link});
    std::unique_ptr<InstrumentIO> io = factory_->OpenInstrument("ASRL" + link + "::INSTR");
    EXPECT_EQ(io->GetInterfaceKind(), "ASRL");
    EXPECT_EQ(io->SendQuery("*OPC?"), "1");
    io.reset();
    std::ofstream(config_) << "[ASRL7]\ndevice = " << link << "\nsettings = 57600,N,8,1\n";
    io = factory_->OpenInstrument("asrl7::instr");
    EXPECT_EQ(io->SendQuery("*OPC?"), "1");
    EXPECT_NE(ErrorOf([&] { factory_->OpenInstrument("ASRL7"); }), "");  // in use by `io`
    EXPECT_NE(ErrorOf([&] { factory_->OpenInstrument("NOTANADDRESS"); }), "");
}

TEST_F(InstrumentIOTest, SerialPortTakesAnyRateAHandshakeAndPutsTheSettingsBack) {
    std::string link =
        (std::filesystem::temp_directory_path() / ("kio-tty-" + std::to_string(getpid()))).string();
    simulator_ =
        std::make_unique<Simulator>(std::vector<std::string>{SIMULATOR_PATH, "--link", link});
    int keeper = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(keeper, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(keeper, &before), 0);
    std::ofstream(config_) << "[ASRL7]\ndevice = " << link
                           << "\nsettings = 14400,N,8,1\nhandshake = rts_cts\n";
    std::unique_ptr<InstrumentIO> io = factory_->OpenInstrument("ASRL7");
    termios during{};
    tcgetattr(keeper, &during);
    EXPECT_NE(during.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(io->SendQuery("*OPC?"), "1");
    EXPECT_NE(ErrorOf([&] { factory_->OpenInstrument("ASRL7"); }).find("held by PID"),
              std::string::npos);
    io.reset();
    termios after{};
    tcgetattr(keeper, &after);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    std::ofstream(config_) << "[ASRL7]\ndevice = " << link << "\nhandshake = XON\n";
    EXPECT_NE(ErrorOf([&] { factory_->OpenInstrument("ASRL7"); }).find("handshake"),
              std::string::npos);
    close(keeper);
}

}  // namespace
}  // namespace kestrel
