// The ports file: the manual page's own example read as written, comments after
// values, and what is not understood said on stderr with file and line.

#include "PortsFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <fstream>
#include <sstream>

#include <cstdlib>
#include <optional>
#include <string>

#include "ScopedEnv.h"
#include "TempFile.h"

namespace osprey {
namespace {

struct NumberCase {
    const char* path;
    std::optional<int> number;
};

TEST(PortNumberOf, TakesOnlyTheComDevicePathWithUpToNineDigits) {
    const NumberCase cases[] = {
        {R"(\\.\COM1)", 1},
        {R"(\\.\COM12)", 12},
        {R"(\\.\COM007)", 7},
        {R"(\\.\COM999999999)", 999999999},
        {R"(\\.\COM1234567890)", std::nullopt},  // ten digits could overflow
        {R"(\\.\COM)", std::nullopt},
        {R"(\\.\COM3a)", std::nullopt},
        {R"(\\.\COM-3)", std::nullopt},
        {R"(\\.\COM 3)", std::nullopt},
        {"COM3", std::nullopt},
        {"/dev/ttyS0", std::nullopt},
        {"", std::nullopt},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(PortNumberOf(c.path), c.number) << c.path;
    }
}

struct LookupCase {
    const char* what;
    const char* text;
    int number;
    const char* device;
    const char* settings;
};

TEST(LookUpPort, FindsThePortsSectionAndFallsBackPerKey) {
    const LookupCase cases[] = {
        {"no file", "", 3, "/dev/ttyS2", "9600,N,8,1"},
        {"port 1 is ttyS0", "", 1, "/dev/ttyS0", "9600,N,8,1"},
        {"both keys", "[COM3]\ndevice = /dev/ttyUSB0\nsettings = 57600,N,8,1\n", 3, "/dev/ttyUSB0",
         "57600,N,8,1"},
        {"ASRL section, any case", "[asrl3]\nDEVICE=/dev/ttyACM0\n", 3, "/dev/ttyACM0",
         "9600,N,8,1"},
        {"settings only", "[COM2]\nsettings = 19200,E,7,1\n", 2, "/dev/ttyS1", "19200,E,7,1"},
        {"COM13 and COM30 are not COM3",
         "[COM13]\ndevice = /dev/a\n[COM30]\ndevice = /dev/b\n[COM3]\ndevice = /dev/c\n", 3,
         "/dev/c", "9600,N,8,1"},
        {"another port's section only", "[COM4]\ndevice = /dev/ttyUSB1\n", 3, "/dev/ttyS2",
         "9600,N,8,1"},
        {"keys before any section", "device = /dev/ttyUSB9\n[COM3]\n", 3, "/dev/ttyS2",
         "9600,N,8,1"},
        {"the first value wins", "[COM3]\ndevice = /dev/one\ndevice = /dev/two\n", 3, "/dev/one",
         "9600,N,8,1"},
        {"comment lines and blanks",
         "; ports\n# here\n\n[COM3]\n; device = /dev/no\n"
         "  device  =  /dev/yes  \r\n",
         3, "/dev/yes", "9600,N,8,1"},
        {"an unclosed header ends the section",
         "[COM3]\ndevice = /dev/a\n[COM3\ndevice = /dev/b\n"
         "settings = 1200\n",
         3, "/dev/a", "9600,N,8,1"},
        {"a spaced header", "[ COM3 ]\ndevice = /dev/spaced\n", 3, "/dev/spaced", "9600,N,8,1"},
        {"an empty value is none", "[COM3]\ndevice =\nsettings = \n", 3, "/dev/ttyS2",
         "9600,N,8,1"},
    };
    for (const LookupCase& c : cases) {
        PortEntry entry = LookUpPort(c.text, c.number, "9600,N,8,1");
        EXPECT_EQ(entry.device, c.device) << c.what;
        EXPECT_EQ(entry.settings, c.settings) << c.what;
    }
}

// The ports file in force is named by OSPREY_PORTS; the variable is put back.
class PortsFileInForce : public ::testing::Test {
  protected:
    void Use(const std::string& path) { portsFile_.Set(path); }
    testsupport::TempDir dir_;

  private:
    testsupport::ScopedEnv portsFile_{"OSPREY_PORTS"};
};

TEST_F(PortsFileInForce, IsReadWhenPresentAndAbsentMeansDefaults) {
    Use(dir_.Write("ports.ini", "[COM5]\ndevice = /dev/pts/77\nsettings = 38400,O,7,2\n"));
    PortEntry entry = LookUpPort(5, "9600,N,8,1");
    EXPECT_EQ(entry.device, "/dev/pts/77");
    EXPECT_EQ(entry.settings, "38400,O,7,2");

    Use((dir_.Path() / "missing.ini").string());
    entry = LookUpPort(5, "9600,N,8,1");
    EXPECT_EQ(entry.device, "/dev/ttyS4");
    EXPECT_EQ(entry.settings, "9600,N,8,1");
}

TEST_F(PortsFileInForce, TheNullDeviceIsNoFileAndDefaultsServe) {
    Use("/dev/null");
    ::testing::internal::CaptureStderr();
    PortEntry entry = LookUpPort(5, "9600,N,8,1");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(entry.device, "/dev/ttyS4");
    EXPECT_EQ(entry.settings, "9600,N,8,1");
}

TEST_F(PortsFileInForce, OneThatCannotBeReadGivesNoDevice) {
    Use(dir_.Path().string());  // a folder
    ::testing::internal::CaptureStderr();
    PortEntry entry = LookUpPort(5, "9600,N,8,1");
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(entry.device, "");
    EXPECT_EQ(entry.settings, "9600,N,8,1");
    EXPECT_NE(errors.find("Osprey: cannot use the ports file: "), std::string::npos) << errors;
}

}  // namespace
}  // namespace osprey

namespace osprey {
namespace {

// The example block of Osprey's manual page that starts with "[COM1]".
std::string ManPagePortsExample() {
    std::ifstream in(OSPREY_MAN_PAGE);
    std::string example;
    bool inside = false;
    for (std::string line, previous; std::getline(in, line); previous = line) {
        if (previous == "```" && line == "[COM1]")
            inside = true;
        else if (inside && line == "```")
            break;
        if (inside)
            example += line + "\n";
    }
    return example;
}

TEST(PortsFile, TheManPageExampleWorksAsWritten) {
    const std::string example = ManPagePortsExample();
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

class PortsFileWarnings : public ::testing::Test {
  protected:
    void Name(const std::string& path) { portsFile_.Set(path); }
    testsupport::TempDir dir_;

  private:
    testsupport::ScopedEnv portsFile_{"OSPREY_PORTS"};
};

TEST_F(PortsFileWarnings, UnknownKeysAndStrayLinesAreSaidOnStderrWithTheirLine) {
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

TEST_F(PortsFileWarnings, APortsSectionWithoutItsDeviceOrAMisspeltSectionIsSaid) {
    const std::string noDevice =
        ": warning: the section of port 3 names no device (an empty or misspelt \"device\" "
        "key); using /dev/ttyS2\n";
    struct Case {
        const char* name;
        const char* text;
        std::string said;  // after the file's path
    };
    for (const Case& c : {
             Case{"empty.ini", "[COM3]\ndevice =\nsettings = 57600,N,8,1\n", ":1" + noDevice},
             Case{"misspelt.ini", "; the bench\n[COM3]\ndevcie = /dev/ttyUSB0\n",
                  ":3: warning: unknown key \"devcie\"; ignored\n{}:2" + noDevice},
             Case{"bare.ini", "[COM4]\ndevice = /dev/ttyUSB1\n[com3]\n", ":3" + noDevice},
             Case{"section.ini", "[CMO3]\ndevice = /dev/ttyUSB0\n",
                  ":2: warning: section [CMO3] names no port (COM<n> or ASRL<n>); ignored\n"},
             Case{"other.ini", "[COM4]\ndevice = /dev/ttyUSB1\n", ""},
             Case{"good.ini", "[COM3]\ndevice =\ndevice = /dev/ttyUSB0\n", ""},
         }) {
        const std::string path = dir_.Write(c.name, c.text);
        Name(path);
        ::testing::internal::CaptureStderr();
        PortEntry entry = LookUpPort(3, "9600,N,8,1");
        std::string expected = c.said.empty() ? "" : path + c.said;
        if (size_t at = expected.find("{}"); at != std::string::npos) {
            expected.replace(at, 2, path);
        }
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected) << c.name;
        EXPECT_EQ(entry.device, c.said.empty() && c.name[0] == 'g' ? "/dev/ttyUSB0" : "/dev/ttyS2")
            << c.name;
    }
}

TEST_F(PortsFileWarnings, ANamedFileThatIsAbsentIsSaidAndDefaultsServe) {
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
