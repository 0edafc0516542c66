#include "IniReader.h"

#include <gtest/gtest.h>

#include <array>

#include "ConsoleCapture.h"
#include "Description.h"
#include "TempFile.h"

namespace osprey {
namespace {

using testing::ConsoleCapture;
using testsupport::TempDir;

class IniReaderTest : public ::testing::Test {
  protected:
    TextFile& Load(const std::string& text) {
        file_.Open(dir_.Write("update.ini", text).c_str());
        return file_;
    }
    // The value found, or "<none>" when the lookup returned 0 and left the
    // destination as it was.
    std::string Lookup(const char* section, const char* key, size_t size = 30) {
        std::vector<char> destination(size, '\0');
        int n = ReadIniValue(file_, section, key, destination);
        return n == 0 ? (destination[0] ? "<changed>" : "<none>") : std::string(destination.data());
    }
    TempDir dir_;
    TextFile file_;
};

TEST_F(IniReaderTest, SeparatorIsAnyOneCharacterAndBlanksBelongToTheValue) {
    Load("[Code Info]\nChecksum = 1313\nNumber of Srecs:12\n[Other]\nEmpty=\n");
    EXPECT_EQ(Lookup("Code Info", "Checksum"), "= 1313");
    EXPECT_EQ(Lookup("Code Info", "Number of Srecs"), "12");
    EXPECT_EQ(Lookup("Other", "Empty"), "<none>");
}

TEST_F(IniReaderTest, KeysAndHeadersMatchWithCaseFromTheFirstColumn) {
    Load("[Code Info] trailing words\nchecksum=1\n Checksum=2\n[Code]\nS1\n");
    EXPECT_EQ(Lookup("Code Info", "Checksum"), "<none>");
    Load("[Code Info]\nChecksum=5\n");
    EXPECT_EQ(Lookup("Code", "Checksum"), "<none>");  // [Code Info] is not [Code]
    EXPECT_EQ(Lookup("code info", "Checksum"), "<none>");
}

TEST_F(IniReaderTest, KeySearchRunsPastTheNextSectionHeader) {
    Load("[Firmware Info]\nIDN=KR470A\n[Code Info]\nChecksum=77\n");
    EXPECT_EQ(Lookup("Firmware Info", "Checksum"), "77");
    Load("[Code Info]\nChecksum=77\n[Firmware Info]\nIDN=KR470A\n");
    EXPECT_EQ(Lookup("Firmware Info", "Checksum"), "<none>");
    EXPECT_EQ(Lookup("Code Info", "Checksum"), "77");  // every lookup rewinds
}

TEST_F(IniReaderTest, LineEndsNeverBelongToTheValueAndTheLastLineNeedsNone) {
    Load("[A]\r\nKey=value\r\nLast=end");
    EXPECT_EQ(Lookup("A", "Key"), "value");
    EXPECT_EQ(Lookup("A", "Last"), "end");
    Load("[A]");
    EXPECT_EQ(Lookup("A", "Key"), "<none>");
}

TEST_F(IniReaderTest, LongValuesAreCutToTheDestinationAndAlwaysTerminated) {
    Load("[A]\nKey=" + std::string(40, 'x') + "\n");
    EXPECT_EQ(Lookup("A", "Key", 30), std::string(29, 'x'));
    EXPECT_EQ(Lookup("A", "Key", 1), "<none>");
}

TEST_F(IniReaderTest, LinesAreReadInPiecesOf255Characters) {
    // The piece after the first 255 characters is a line of its own.
    Load("[A]\n" + std::string(255, 'y') + "Key=hidden\n" + std::string(255, 'z') + "\nNext=ok\n");
    EXPECT_EQ(Lookup("A", "Key"), "hidden");
    EXPECT_EQ(Lookup("A", "Next"), "ok");  // a 255-character line is one piece, not two
}

TEST_F(IniReaderTest, PositionAtSectionLeavesTheFileAfterTheHeader) {
    TextFile& file = Load("[Code Info]\nX=1\n[Code]\r\nS1ab\nEND\n");
    std::array<char, 256> line{};
    EXPECT_EQ(PositionAtSection(file, "Code"), 0);
    ASSERT_TRUE(file.ReadPiece(line));
    EXPECT_STREQ(line.data(), "S1ab");
    PositionAtSection(file, "Missing");
    EXPECT_FALSE(file.ReadPiece(line));
}

TEST_F(IniReaderTest, DescriptionStopsAtTheFirstMissingOrEmptyLine) {
    struct Case {
        std::string text;
        std::string printed;
    };
    for (const Case& c :
         {Case{"[Description]\nDesc 1=one\nDesc 2=two\nDesc 4=four\n", "one\ntwo\n"},
          Case{"[Description]\nDesc 1=one\nDesc 2=\nDesc 3=three\n", "one\n"},
          Case{"[Description]\r\n\r\nDesc 1=" + std::string(120, 'd') + "\r\n",
               std::string(99, 'd') + "\n"},
          Case{"no description\n", ""}}) {
        ConsoleCapture capture;
        PrintDescriptionLines(Load(c.text));
        EXPECT_EQ(capture.Output(), c.printed);
    }
}

TEST(SplitFields, SplitsInPlaceAndKeepsEmptyFields) {
    char text[] = "a,,c";
    std::array<char*, 8> slots{};
    ASSERT_EQ(SplitFields(text, slots, ","), 3);
    EXPECT_STREQ(slots[0], "a");
    EXPECT_STREQ(slots[1], "");
    EXPECT_STREQ(slots[2], "c");
    char empty[] = "";
    EXPECT_EQ(SplitFields(empty, slots, ","), 1);
    EXPECT_STREQ(slots[0], "");
}

TEST(SplitFields, FieldsBeyondTheLastSlotStayJoined) {
    char text[] = "1,2,3,4,5";
    std::array<char*, 3> slots{};
    ASSERT_EQ(SplitFields(text, slots, ",;"), 3);
    EXPECT_STREQ(slots[2], "3,4,5");
    EXPECT_EQ(SplitFields(text, std::span<char*>(), ","), 0);
}

}  // namespace
}  // namespace osprey
