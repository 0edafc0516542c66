// The reader of our own INI-like files: comments where they may stand,
// values that keep what is theirs, and malformed lines found by number.
#include "IniFile.h"

#include <gtest/gtest.h>

#include "TextRules.h"

namespace fileio {
namespace {

TEST(IniFile, CommentsEndAValueOnlyAfterABlankAndOutsideQuotes) {
    struct Case {
        const char* line;
        const char* value;
    } cases[] = {
        {"name = /dev/ttyUSB0          ; a USB adapter", "/dev/ttyUSB0"},
        {"name = 57600,N,8,1 ; usual rate", "57600,N,8,1"},
        {"name = 57600,N,8,1\t# usual rate", "57600,N,8,1"},
        {"name = a#b;c", "a#b;c"},
        {"name = \"a ; b # c\" ; d", "\"a ; b # c\""},
        {"name = \"a \\\" ; b\"", "\"a \\\" ; b\""},  // an escaped quote does not close
        {"name = ; all comment", ""},
        {"name =", ""},
        {"name = x\r", "x"},
    };
    for (const Case& c : cases) {
        IniLine line = ParseIniLine(c.line);
        EXPECT_EQ(line.kind, IniLineKind::kValue) << c.line;
        EXPECT_EQ(line.name, "name") << c.line;
        EXPECT_EQ(line.value, c.value) << c.line;
    }
}

TEST(IniFile, SortsLinesIntoTheirKinds) {
    EXPECT_EQ(ParseIniLine("").kind, IniLineKind::kBlank);
    EXPECT_EQ(ParseIniLine("  \r").kind, IniLineKind::kBlank);
    EXPECT_EQ(ParseIniLine("; note").kind, IniLineKind::kComment);
    EXPECT_EQ(ParseIniLine("  # note = not a value").kind, IniLineKind::kComment);
    IniLine header = ParseIniLine(" [ COM3 ]  ; the adapter");
    EXPECT_EQ(header.kind, IniLineKind::kSection);
    EXPECT_EQ(header.name, "COM3");
    EXPECT_EQ(ParseIniLine("[COM3").kind, IniLineKind::kMalformed);
    EXPECT_EQ(ParseIniLine("[COM3] trailing").kind, IniLineKind::kMalformed);
    EXPECT_EQ(ParseIniLine("device /dev/ttyUSB0").kind, IniLineKind::kMalformed);
    EXPECT_EQ(ParseIniLine(" = value").kind, IniLineKind::kMalformed);
}

TEST(IniFile, EntriesCarryTheirSectionAndLine) {
    IniContent content = ReadIniText(
        "\xEF\xBB\xBF"
        "top = 1\n"
        "[a]\r\n"
        "k = v ; c\r\n"
        "oops\n"
        "\n"
        "[b]\n"
        "k2=w");
    ASSERT_EQ(content.entries.size(), 3u);
    EXPECT_EQ(content.entries[0].section, "");
    EXPECT_EQ(content.entries[1].line, 3u);
    EXPECT_EQ(content.entries[1].section, "a");
    EXPECT_EQ(content.entries[1].value, "v");
    EXPECT_EQ(content.entries[2].section, "b");
    EXPECT_EQ(content.entries[2].key, "k2");
    EXPECT_EQ(content.entries[2].line, 7u);
    EXPECT_EQ(content.malformedLines, std::vector<size_t>{4});
}

TEST(IniFile, WarningsNameFileAndLineOnStderrOnce) {
    testing::internal::CaptureStderr();
    WarnAboutMalformedLines("/p/ports.ini", ReadIniText("[a]\nbad\n"));
    WarnAboutMalformedLines("/p/ports.ini", ReadIniText("[a]\nbad\n"));
    WarnAboutFile("/p/none.ini", 0, "warning: no such file");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said,
              "/p/ports.ini:2: warning: neither a [section] header, a key = value line nor a "
              "comment; ignored\n/p/none.ini: warning: no such file\n");
}

TEST(TextRules, TrimUpperAndCaseBlindComparison) {
    EXPECT_EQ(Trim(" \t\r\n a b \f\v"), "a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Upper("asrl3::instr-\xE9"), "ASRL3::INSTR-\xE9");  // ASCII only
    EXPECT_TRUE(SameIgnoringCase("Com3", "cOM3"));
    EXPECT_FALSE(SameIgnoringCase("COM3", "COM30"));
    EXPECT_FALSE(SameIgnoringCase("\xE9", "\xC9"));
}

}  // namespace
}  // namespace fileio
