#include "modGlobals.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Fakes.h"

namespace kestrel {
namespace {

using testing::FakeWindow;
using testing::ScriptedIO;

class ModGlobalsTest : public ::testing::Test {
  protected:
    ModGlobalsTest() {
        path_ = (std::filesystem::temp_directory_path() /
                 ("kestrel-" + std::to_string(getpid()) + ".ini"))
                    .string();
        SetWindowServices(&window_);
    }
    ~ModGlobalsTest() override {
        SetWindowServices(nullptr);
        std::filesystem::remove(path_);
    }
    void Write(const std::string& text) {
        std::ofstream(path_, std::ios::binary) << text;
        UpdateFilePath = path_;
    }
    std::string Lookup(const std::string& section, const std::string& key) {
        std::string value = "<unchanged>";
        GetIniValue(stream_, section, key, value);
        return value;
    }
    int16_t Check(const std::string& code, int32_t expected, const std::string& checksum = "1313") {
        Write("[Firmware Info]\r\nChecksum=" + checksum + "\r\n[Code]\r\n" + code);
        return CheckCodeSection(stream_, expected, window_);
    }

    std::string path_;
    FakeWindow window_;
    StreamVariable stream_;
};

TEST_F(ModGlobalsTest, HeaderMatchesIgnoringCaseAndKeysRunPastTheSection) {
    Write("[firmware info]\nIDN=KR470A\n[Code Info]\nChecksum=77\nEmpty=\n");
    EXPECT_EQ(Lookup("Firmware Info", "IDN"), "KR470A");
    EXPECT_EQ(Lookup("Firmware Info", "Checksum"), "77");
    EXPECT_EQ(Lookup("Code", "Checksum"), "<unchanged>");  // [Code Info] is not [Code]
    EXPECT_EQ(Lookup("Code Info", "Empty"), "");
    EXPECT_EQ(Lookup("Code Info", "idn"), "<unchanged>");
}

TEST_F(ModGlobalsTest, KeyLineWithoutSeparatorIsARuntimeError) {
    Write("[A]\nKey\n");
    EXPECT_THROW(Lookup("A", "Key"), RuntimeError);
    UpdateFilePath = path_ + ".missing";
    EXPECT_THROW(Lookup("A", "Key"), RuntimeError);
}

TEST(SplitText, DropsOneEmptyLastFieldAndLeavesTheListForAnEmptyText) {
    std::vector<std::string> list = {"kept"};
    EXPECT_EQ(SplitText("", ",", list), 0);
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
    EXPECT_EQ(SplitText("a,b,", ",", list), 2);
    EXPECT_EQ(list, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitText("a,,c", ",", list), 3);
    EXPECT_EQ(SplitText("whole", ",", list), 1);
    EXPECT_EQ(SplitText("1x2X3", "x", list), 3);  // the delimiter matches ignoring case
}

TEST_F(ModGlobalsTest, WorkedExampleAndMagicValue) {
    EXPECT_EQ(Check("S10500000102F7\r\nS9030000FC\r\nEND\r\n", 1), 0);
    EXPECT_EQ(Check("S10500000102F7\nS9030000FC\nEND\n", 1, "-1"), 0);
    EXPECT_EQ(window_.lines,
              (std::vector<std::string>{
                  "Verifying code section of Update file.", "Record count and CheckSum match!",
                  "Code section OK.", "Verifying code section of Update file.",
                  "Magic number check sum in INI file.  No check done!", "Calculated CheckSum=1313",
                  "Record count and CheckSum match!", "Code section OK."}));
    EXPECT_TRUE(window_.boxes.empty());
    // Any end record closes the image: S8 after S2 data, S7 after S3.
    EXPECT_EQ(Check("S10500000102F7\nS804000000FB\nEND\n", 1, "-1"), 0);
    EXPECT_EQ(Check("S10500000102F7\nS70500000000FA\nEND\n", 1, "-1"), 0);
    EXPECT_TRUE(window_.boxes.empty());
}

TEST_F(ModGlobalsTest, EveryFailureIsABoxAndEndsTheCheck) {
    const std::string kNotEnded =
        "The code section does not end with its end record (S7, S8 or S9).\r\n"
        "Update file may be corrupt!";
    struct Case {
        std::string code;
        int32_t expected;
        std::string checksum;
        std::string box;
    };
    for (const Case& c :
         {Case{"S10500000102F7\nEND \n", 1, "745", "Non-SRecord in code section!"},
          Case{"S10500000102F7\nS10500000102F7\nEND\n", 1, "1490",
               "Not enough SRecords in code section."},
          Case{"S10500000102F7\nEND\n", 1, "746", "Code Section check sum does not match!"},
          // Passes the checks above, but a pass would never reach its end.
          Case{"S10500000102F7\nEND\n", 1, "745", kNotEnded},
          // A record after the end record would never be sent.
          Case{"S9030000FC\nS10500000102F7\nEND\n", 1, "1313", kNotEnded},
          Case{"S9030000FC\nS9030000FC\nEND\n", 0, "1136", kNotEnded}}) {
        window_.boxes.clear();
        EXPECT_EQ(Check(c.code, c.expected, c.checksum), 1);
        ASSERT_EQ(window_.boxes.size(), 1u);
        EXPECT_EQ(window_.boxes[0].text, c.box);
        EXPECT_EQ(window_.boxes[0].icon, Icon::kCritical);
        EXPECT_EQ(window_.boxes[0].title, "Firmware Update");
    }
}

TEST_F(ModGlobalsTest, DamagedFilesAreRuntimeErrorsForTheCaller) {
    EXPECT_THROW(Check("S10500000102F7\n", 1, "745"), RuntimeError);       // no END
    EXPECT_THROW(Check("S10500000102F7\nEND\n", 1, "abc"), RuntimeError);  // not a number
    Write("[Firmware Info]\nChecksum=1\n");
    EXPECT_THROW(CheckCodeSection(stream_, 0, window_), RuntimeError);  // no [Code]
}

TEST(ToLong, IsStrictAboutWhatANumberIs) {
    EXPECT_EQ(ToLong(" +0 "), 0);
    EXPECT_EQ(ToLong("-1"), -1);
    EXPECT_EQ(ToLong("2.5"), 2);
    EXPECT_THROW(ToLong(""), RuntimeError);
    EXPECT_THROW(ToLong("+0,x"), RuntimeError);
    EXPECT_THROW(ToLong("3000000000"), RuntimeError);
    EXPECT_EQ(ToLong("1e3"), 1000);
    EXPECT_DOUBLE_EQ(ToDouble(" 1.05"), 1.05);
    EXPECT_DOUBLE_EQ(ToDouble("-.5E1"), -5.0);
    for (const char* bad : {"1.04-2", ".", "1e", "e5", "0x10", "1,5"}) {
        EXPECT_THROW(ToDouble(bad), RuntimeError) << bad;
    }
}

TEST_F(ModGlobalsTest, ClearInstrumentErrorsAsksUntilTheQueueIsEmptyAndShowsNothing) {
    ScriptedIO io;
    int queued = 2;
    io.responder = [&](const std::string& line) -> std::string {
        if (line != "SYSTem:ERRor?")
            return "1";
        return queued-- > 0 ? "-100,\"Command error\"" : "+0,\"No error\"";
    };
    ClearInstrumentErrors(io);
    EXPECT_EQ(io.sent, (std::vector<std::string>{"*OPC?", "SYSTem:ERRor?", "*OPC?", "SYSTem:ERRor?",
                                                 "*OPC?", "SYSTem:ERRor?"}));
    EXPECT_TRUE(window_.boxes.empty());
    io.failReads = true;
    ClearInstrumentErrors(io);
    ASSERT_EQ(window_.boxes.size(), 1u);
    EXPECT_EQ(window_.boxes[0].icon, Icon::kNone);
    EXPECT_EQ(window_.boxes[0].text, "Timeout expired before operation completed (GPIB0::10)");
}

TEST_F(ModGlobalsTest, ClearInstrumentErrorsStopsAtItsBound) {
    ScriptedIO io;
    io.responder = [](const std::string&) { return std::string("-100,\"again\""); };
    ClearInstrumentErrors(io);
    EXPECT_EQ(io.sent.size(), 2u * kMostErrorEntries);
}

TEST_F(ModGlobalsTest, DescriptionShowsAllLinesInOneBox) {
    Write("[Description]\nDesc 1=one\nDesc 2=two\nDesc 4=four\n");
    ShowDescription(path_);
    ASSERT_EQ(window_.boxes.size(), 1u);
    EXPECT_EQ(window_.boxes[0].text, "one\r\ntwo\r\n");
    EXPECT_EQ(window_.boxes[0].icon, Icon::kInformation);
    ShowDescription(path_ + ".missing");
    EXPECT_EQ(window_.boxes[1].icon, Icon::kCritical);
}

}  // namespace
}  // namespace kestrel
