// The ports file: the README's own example read as written, comments after
// values, and what is not understood said on stderr with file and line.
#include "PortsFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "TempFile.h"

namespace osprey {
namespace {

// The indented example that starts with "[COM1]" in the README, unindented.
std::string ReadmePortsExample() {
    std::ifstream in(README_PATH);
    std::string example;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line == "    [COM1]")
            inside = true;
        else if (inside && !line.empty() && !line.starts_with("    "))
            break;
        if (inside)
            example += (line.empty() ? line : line.substr(4)) + "\n";
    }
    return example;
}

TEST(PortsFile, TheReadmeExampleWorksAsWritten) {
    const std::string example = ReadmePortsExample();
    ASSERT_NE(example.find("; a USB adapter"), std::string::npos) << example;
    PortEntry com1 = LookUpPort(example, 1, "9600,N,8,1");
    EXPECT_EQ(com1.device, "/dev/ttyUSB0");
    EXPECT_EQ(com1.settings, "57600,N,8,1");
    PortEntry com3 = LookUpPort(example, 3, "9600,N,8,1");
    EXPECT_EQ(com3.device, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0");
    EXPECT_EQ(com3.settings, "9600,N,8,1");
}

TEST(PortsFile, LooksUpThePortsOwnSectionIgnoringCaseAndComments) {
    const std::string text =
        "[COM2]\n"
        "settings = 57600,N,8,1 ; usual rate\n"
        "[asrl4] # the other name\n"
        "DEVICE=/dev/ttyACM0#1\n"
        "device = /dev/second\n";
    EXPECT_EQ(LookUpPort(text, 2, "9600,N,8,1").settings, "57600,N,8,1");
    EXPECT_EQ(LookUpPort(text, 2, "9600,N,8,1").device, "/dev/ttyS1");
    EXPECT_EQ(LookUpPort(text, 4, "9600,N,8,1").device, "/dev/ttyACM0#1");  // the first counts
    EXPECT_EQ(LookUpPort(text, 20, "9600,N,8,1").device, "/dev/ttyS19");
}

class PortsFileInForce : public ::testing::Test {
  protected:
    void Name(const std::string& path) { setenv("OSPREY_PORTS", path.c_str(), 1); }
    ~PortsFileInForce() override { unsetenv("OSPREY_PORTS"); }
    osprey::testing::TempDir dir_;
};

TEST_F(PortsFileInForce, UnknownKeysAndStrayLinesAreSaidOnStderrWithTheirLine) {
    const std::string path = dir_.Write("ports.ini",
                                        "[COM1]\n"
                                        "device = /dev/ttyUSB0\n"
                                        "baud = 57600\n"
                                        "settings 57600,N,8,1\n");
    Name(path);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    PortEntry entry = LookUpPort(1, "9600,N,8,1");
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(entry.device, "/dev/ttyUSB0");
    EXPECT_EQ(entry.settings, "9600,N,8,1");
    EXPECT_EQ(said, path +
                        ":4: warning: neither a [section] header, a key = value line nor a "
                        "comment; ignored\n" +
                        path + ":3: warning: unknown key \"baud\"; ignored\n");
}

TEST_F(PortsFileInForce, ANamedFileThatIsAbsentIsSaidAndDefaultsServe) {
    const std::string path = (dir_.Path() / "typo.ini").string();
    Name(path);
    ::testing::internal::CaptureStderr();
    PortEntry entry = LookUpPort(3, "9600,N,8,1");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              path + ": warning: no such ports file (named by OSPREY_PORTS)\n");
    EXPECT_EQ(entry.device, "/dev/ttyS2");
}

}  // namespace
}  // namespace osprey
