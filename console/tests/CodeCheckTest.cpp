#include "CodeCheck.h"

#include <gtest/gtest.h>

#include "ConsoleCapture.h"
#include "TempFile.h"

namespace osprey {
namespace {

using testing::ConsoleCapture;
using testsupport::TempDir;

const char* kOk = "Record count and CheckSum match!\nCode section OK.\n";
const char* kHead = "Verifying code section of Update file.\n";

struct Outcome {
    int result;
    std::string output;
};

Outcome Verify(const std::string& text, int32_t expected) {
    TempDir dir;
    TextFile file;
    file.Open(dir.Write("u.ini", text).c_str());
    ConsoleCapture capture;
    int result = VerifyCodeSection(file, expected);
    return {result, capture.Output()};
}

std::string File(const std::string& checksum, const std::string& code) {
    return "[Firmware Info]\nChecksum=" + checksum + "\n[Code]\n" + code;
}

TEST(VerifyCodeSection, WorkedExamplePassesWithTheSumOrTheMagicValue) {
    const std::string code = "S10500000102F7\nS9030000FC\nEND\n";
    EXPECT_EQ(Verify(File("1313", code), 1).output, std::string(kHead) + kOk);
    Outcome magic = Verify(File("-1", code), 1);
    EXPECT_EQ(magic.result, 0);
    EXPECT_EQ(magic.output, std::string(kHead) +
                                "Magic number check sum in INI file.  No check done!\n"
                                "Calculated CheckSum=1313\n" +
                                kOk);
    EXPECT_EQ(Verify(File("1313", "S10500000102F7\r\nS9030000FC\r\nEND extra\r\n"), 1).result, 0);
}

TEST(VerifyCodeSection, CountMismatchInEitherDirectionFails) {
    for (int32_t expected : {0, 2}) {
        Outcome o = Verify(File("-1", "S10500000102F7\nEND\n"), expected);
        EXPECT_EQ(o.result, 1);
        EXPECT_EQ(o.output, std::string(kHead) +
                                "Not enough SRecords in code section.\n"
                                "Magic number check sum in INI file.  No check done!\n"
                                "Calculated CheckSum=745\n");
    }
}

TEST(VerifyCodeSection, WrongSumStopsWithItsMessageOnly) {
    Outcome o = Verify(File("1314", "S10500000102F7\nS9030000FC\nEND\n"), 1);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.output, std::string(kHead) + "Code Section check sum does not match!");
}

TEST(VerifyCodeSection, ANonRecordLineStopsAtOnce) {
    Outcome o = Verify(File("-1", "S10500000102F7\n\nEND\n"), 1);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.output, std::string(kHead) + "Non-SRecord in code section!\n");
}

TEST(VerifyCodeSection, MissingEndOrSectionIsReportedAndTheRestStillCompared) {
    Outcome o = Verify(File("745", "S10500000102F7\n"), 1);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.output, std::string(kHead) + "Problem reading code section of INI file!\n");
    Outcome none = Verify("[Firmware Info]\nChecksum=5\n", 0);
    EXPECT_EQ(none.output, std::string(kHead) +
                               "Problem reading code section of INI file!\n"
                               "Code Section check sum does not match!");
}

TEST(VerifyCodeSection, ChecksumFoundInALaterSectionAndMissingChecksumReadsZero) {
    std::string later =
        "[Firmware Info]\nIDN=KR470A\n[Code Info]\nChecksum=745\n[Code]\nS10500000102F7\nEND\n";
    EXPECT_EQ(Verify(later, 1).result, 0);
    EXPECT_EQ(Verify("[Firmware Info]\n[Code]\nEND\n", 0).result, 0);  // sum 0 equals 0
    EXPECT_EQ(Verify("[Firmware Info]\n[Code]\nS10500000102F7\nEND\n", 1).result, 1);
}

TEST(VerifyCodeSection, OtherRecordTypesAreSummedNotCounted) {
    // "S5" + "S7" + "S0" = 83+53 + 83+55 + 83+48
    Outcome o = Verify(File("405", "S5\nS7\nS0\nEND\n"), 0);
    EXPECT_EQ(o.result, 0) << o.output;
}

TEST(VerifyCodeSection, ARecordWithAnythingButHexDigitsIsNoSRecord) {
    for (const char* line : {"SX", "S", "S1050000 0102F7", "S10500000102G7", "S1\t0"}) {
        ::testing::internal::CaptureStderr();
        Outcome o = Verify(File("-1", std::string("S10500000102F7\n") + line + "\nEND\n"), 1);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(o.result, 1) << line;
        EXPECT_EQ(o.output, std::string(kHead) + "Non-SRecord in code section!\n") << line;
        EXPECT_EQ(said,
                  "Osprey: line 2 of [Code] is not an S-record (\"S\", a type digit and hex "
                  "digits).\n")
            << line;
    }
}

TEST(AddCharacterSum, CountsBytesAsSigned8BitAndWraps) {
    EXPECT_EQ(AddCharacterSum(0, "\xff\x80"), -1 - 128);
    EXPECT_EQ(AddCharacterSum(INT32_MAX, "\x01"), INT32_MIN);
    EXPECT_EQ(AddCharacterSum(INT32_MIN, "\xff"), INT32_MAX);
}

TEST(VerifyCodeSection, LongLinesAreCheckedInPieces) {
    // 300 characters: the second piece does not begin with S.
    EXPECT_EQ(Verify(File("-1", "S1" + std::string(298, '0') + "\nEND\n"), 1).output,
              std::string(kHead) + "Non-SRecord in code section!\n");
}

}  // namespace
}  // namespace osprey
