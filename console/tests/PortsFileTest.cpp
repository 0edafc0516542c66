#include "PortsFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

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
    void Use(const std::string& path) { setenv("OSPREY_PORTS", path.c_str(), 1); }
    void TearDown() override {
        if (saved_) {
            setenv("OSPREY_PORTS", saved_->c_str(), 1);
        } else {
            unsetenv("OSPREY_PORTS");
        }
    }
    testing::TempDir dir_;

  private:
    std::optional<std::string> saved_ = [] {
        const char* value = std::getenv("OSPREY_PORTS");
        return value ? std::optional<std::string>(value) : std::nullopt;
    }();
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
