#include "UpdateProcedure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "CommaLocale.h"
#include "ConsoleCapture.h"
#include "FakePort.h"
#include "Instrument.h"
#include "SerialLink.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"

namespace osprey {
namespace {

// A device every system has, which an update file can never be.
#ifdef _WIN32
constexpr const char* kCharacterDevice = "NUL";
#else
constexpr const char* kCharacterDevice = "/dev/zero";
#endif

using testing::ConsoleCapture;
using testing::FakePort;
using testsupport::TempDir;

class RunUpdateTest : public ::testing::Test {
  protected:
    struct Result {
        int status;
        std::string output;
        std::vector<std::string> sent;  // every line the instrument received
        int count(const std::string& line) const {
            return static_cast<int>(std::count(sent.begin(), sent.end(), line));
        }
        bool saw(const std::string& text) const { return output.find(text) != std::string::npos; }
    };

    RunUpdateTest() {
        input_.records = kr470::GenerateImage(5 * 32, 7, "KR470A 1.05");
        input_.revision = "1.05";
    }

    Result Run(const std::string& answers, bool strict = false) {
        std::string path = dir_.Write(
            "update.ini", fileText_.empty() ? kr470::BuildUpdateFile(input_) : fileText_);
        kr470::Instrument instrument(options_);
        port_.responder = [&](const std::string& line) { return instrument.Handle(line).reply; };
        SerialLink link(std::make_unique<FakePort>(port_));
        link.Open("COM1");
        std::array<char, 256> identification{};
        options_.identification.copy(identification.data(), identification.size() - 1);
        ConsoleCapture capture(answers);
        strictChecking = strict;
        int status = RunUpdate(path.c_str(), identification.data(), link);
        strictChecking = false;
        committed_ = instrument.Committed();
        return {status, capture.Output(), port_.lines};
    }

    kr470::UpdateFileInput input_;
    std::string fileText_;
    kr470::InstrumentOptions options_;
    FakePort::State port_;
    TempDir dir_;
    bool committed_ = false;
};

TEST_F(RunUpdateTest, NormalUpdateSendsTheDialogueInOrderAndCommits) {
    Result r = Run("y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(committed_);
    std::vector<std::string> expected = {"*CLS", "dlo:csum?", "dlo:start 0012345", "*STB?",
                                         "dlo:stat?"};
    for (const std::string& record : input_.records) {
        expected.push_back("dlo \"" + record + "\" ");
    }
    for (const char* tail : {"*OPC?", "SYST:ERR?", "dlo:csum?", "dlo:stat?"}) {
        expected.push_back(tail);
    }
    ASSERT_EQ(r.sent.size(), expected.size() + 1);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), r.sent.begin()));
    EXPECT_TRUE(r.sent.back().starts_with("dlo:comp "));
    EXPECT_TRUE(
        r.saw("Instrument Version 1.04\nUpdate Version 1.05\n"
              "\nDo you want to Continue with update? (Y/N) _\b"
              "NOTE: During update please don't touch the buttons on the Front Panel!\n"));
}

TEST_F(RunUpdateTest, LoaderModeAsksNothing) {
    options_.identification = "Velmora,loader-KR470,SN1,0.1-0";
    Result r = Run("");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.saw("Loader firmware running ...\n"));
    EXPECT_FALSE(r.saw("(Y/N)"));
    EXPECT_FALSE(r.saw("NOTE:"));
    EXPECT_EQ(r.sent[0], "*CLS");
}

TEST_F(RunUpdateTest, EqualOrLowerRevisionAsksFirstAndNoSendsNothing) {
    input_.revision = "1.04";
    Result no = Run("n\n");
    EXPECT_EQ(no.status, 1);
    EXPECT_TRUE(no.sent.empty());
    EXPECT_TRUE(
        no.saw("Instrument Version 1.04\nUpdate Version 1.04\n"
               "Instrument version greater than or equal to update version!\n"
               "Continue with update? (Y/N) _\b"));
    options_.identification = "Velmora,KR470A,SN1,1.9-2";
    input_.revision = "1.10";  // lower than 1.9 as a number
    Result yes = Run("y\ny\n");
    EXPECT_EQ(yes.status, 0);
    EXPECT_TRUE(yes.saw("Continue with update? (Y/N) _\b"));
    EXPECT_TRUE(yes.saw("\nDo you want to Continue"));
}

TEST_F(RunUpdateTest, ACommaDecimalLocaleStillReads105AsNewerThan104) {
    for (const std::string& name : testsupport::kCommaLocales) {
        testsupport::CommaLocale locale(name);
        ASSERT_TRUE(locale.Active()) << name << " is missing: run scripts/setup.sh";
        Result r = Run("y\n");
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_FALSE(r.saw("greater than or equal")) << name;
        EXPECT_TRUE(r.saw("\nDo you want to Continue with update? (Y/N) _\b")) << name;
    }
}

TEST_F(RunUpdateTest, ModelMismatchOrShortIdentificationRefusesBeforeAnyCommand) {
    options_.identification = "Velmora,KR480B,SN1,1.0";
    Result r = Run("");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.sent.empty());
    EXPECT_TRUE(
        r.saw("This firmware update is not intended for this instrument.\n"
              " - Update for KR470A\n - Current instrument is KR480B\n"));
    options_.identification = "Velmora";
    EXPECT_TRUE(Run("").saw(" - Current instrument is \n"));
}

TEST_F(RunUpdateTest, StrictRecordRefusedTwiceGoesOnThreeTimesFails) {
    options_.refuseLine = {{3, 2}};
    Result twice = Run("y\n", true);
    EXPECT_EQ(twice.status, 0);
    EXPECT_EQ(twice.count("dlo? \"" + input_.records[2] + "\" "), 3);
    options_.refuseLine = {{3, 3}};
    Result thrice = Run("y\n", true);
    EXPECT_EQ(thrice.status, 1);
    EXPECT_FALSE(committed_);
    EXPECT_TRUE(thrice.saw(
        "Invalid SRecord encountered at line 2\nMay need to down load update file again!\n"));
    EXPECT_EQ(thrice.sent.back(), "SYST:ERR?");
}

TEST_F(RunUpdateTest, ChecksumMismatchRepeatsThePassWithoutANewStart) {
    options_.badChecksumPasses = {1};
    Result yes = Run("y\ny\n");
    EXPECT_EQ(yes.status, 0);
    EXPECT_EQ(yes.count("dlo:start 0012345"), 1);
    EXPECT_EQ(yes.count("dlo \"" + input_.records[0] + "\" "), 2);
    EXPECT_TRUE(yes.saw("     CheckSum in File = "));
    EXPECT_TRUE(
        yes.saw("Check Sum does not match entry in INI file!  Try download again? (Y/N) _\b)"));
    Result no = Run("y\nn\n");
    EXPECT_EQ(no.status, 1);
    EXPECT_TRUE(
        no.output.ends_with("The INI file may be corrupt, may need to get another version."));
    EXPECT_EQ(no.sent.back(), "dlo:csum?");
}

TEST_F(RunUpdateTest, LostRecordsLetTheUserRepeatOrGiveUp) {
    options_.dropLine = {{2, 1}};
    Result yes = Run("y\ny\ny\n");
    EXPECT_EQ(yes.status, 0);
    EXPECT_TRUE(yes.saw(
        "Records received does not equal records expected.  Try download again? *Y/N) _\b"));
    Result no = Run("y\ny\nn\n");  // checksum question first, then the count question
    EXPECT_EQ(no.status, 1);
    EXPECT_FALSE(committed_);
}

TEST_F(RunUpdateTest, CountsThatDisagreeWithTheRecordsSentMeanACorruptFile) {
    options_.expectedRecords = 9;
    Result r = Run("y\ny\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(
        r.saw("The update file is corrupt.  Data records does not match expected.\n"
              "You need to get another copy.\n"));
}

TEST_F(RunUpdateTest, ErrorsAfterAPassStillRunTheOtherChecksOfThatPass) {
    options_.errorsAfterPass = {{1, "-350,\"Queue overflow\""}};
    options_.badChecksumPasses = {1};
    Result r = Run("y\ny\ny\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.saw("\"Queue overflow\"\nError occurred during upload.  Try again? (Y/N) _\b"));
    EXPECT_TRUE(r.saw("Check Sum does not match"));
    EXPECT_EQ(r.count("dlo:stat?"), 4);  // start and end of two passes
    Result no = Run("y\nn\n");
    EXPECT_TRUE(no.saw("Update failed!  May need to get another version of the update file!\n"));
    EXPECT_EQ(no.status, 1);
}

TEST_F(RunUpdateTest, ProgressAfterLines1And201AndTheFullBar) {
    input_.records = kr470::GenerateImage(300 * 32, 3, "KR470A 1.05");  // 303 lines
    Result r = Run("y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.saw("| 0.33%"));   // line 1 of 300 records
    EXPECT_TRUE(r.saw("| 67.00%"));  // line 201
    EXPECT_TRUE(r.saw("| 100.00%\nDone!\n"));
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '%'), 3);
}

TEST_F(RunUpdateTest, DamagedFilesAreRefusedBeforeAnythingIsSent) {
    fileText_ =
        "[Firmware Info]\nIDN=KR470A\nRevision=2\nChecksum=-1\n[Code Info]\nChecksum=0\n"
        "Number of Srecs=1\n[Code]\nS1" +
        std::string(150, '0') + "\nEND\n";
    Result r = Run("y\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.sent.empty());
    EXPECT_TRUE(r.saw("line 1 is longer than 148 characters"));
    fileText_ = "[Code Info]\nNumber of Srecs=2\n[Firmware Info]\nChecksum=-1\n[Code]\nS1\nEND\n";
    Result corrupt = Run("y\n");
    EXPECT_TRUE(corrupt.output.ends_with(
        "\nCorrupt Code section of INI file.\nNeed to get a new copy of update to continue!\n"));
    EXPECT_TRUE(corrupt.sent.empty());
}

TEST_F(RunUpdateTest, MissingFileIsReported) {
    SerialLink link(std::make_unique<FakePort>(port_));
    ConsoleCapture capture;
    char identification[] = "a,b,c,d";
    EXPECT_EQ(RunUpdate("/nonexistent/u.ini", identification, link), 1);
    EXPECT_EQ(capture.Output(), "\nCould not open the Update INI file /nonexistent/u.ini.\n");
}

TEST_F(RunUpdateTest, TwoMissingModelsAreNoMatchButALoaderTakesAFileWithoutModel) {
    fileText_ = kr470::BuildUpdateFile(input_);
    fileText_.erase(fileText_.find("IDN=KR470A\r\n"), 12);
    options_.identification = "Velmora";  // a garbled reply: no model field at all
    Result r = Run("y\ny\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(
        r.output.ends_with("This firmware update is not intended for this instrument.\n"
                           " - Update for \n - Current instrument is \n"));
    EXPECT_TRUE(r.sent.empty());

    options_.identification = "Velmora,loader,SN1,0.1";
    Result loader = Run("");
    EXPECT_EQ(loader.status, 0);
    EXPECT_TRUE(loader.saw("Loader firmware running ...\n"));
    EXPECT_TRUE(committed_);
}

const std::string kRefusedAsNoRecord =
    "Verifying code section of Update file.\nNon-SRecord in code section!\n"
    "\nCorrupt Code section of INI file.\nNeed to get a new copy of update to continue!\n";

TEST_F(RunUpdateTest, RecordsHoldingAnythingButHexDigitsNeverReachTheWire) {
    input_.magicChecksum = true;
    for (const std::string& damaged :
         {std::string("S70500010000F9\";*RST;dlo:comp 1024903;\""), std::string("S7 0500010000F9"),
          std::string("SX05"), std::string("S"), std::string("S705000100\r00F9")}) {
        fileText_ = kr470::BuildUpdateFile(input_);
        size_t s7 = fileText_.find("\r\nS7") + 2;
        fileText_.replace(s7, fileText_.find("\r\n", s7) - s7, damaged);
        ::testing::internal::CaptureStderr();
        Result r = Run("y\n");
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(r.status, 1) << damaged;
        EXPECT_TRUE(r.sent.empty()) << damaged;
        EXPECT_TRUE(r.output.ends_with(kRefusedAsNoRecord)) << r.output;
        EXPECT_NE(said.find("Osprey: line 8 of [Code] is not an S-record"), std::string::npos)
            << said;
    }
}

// What the check itself refuses keeps the check's words on the screen; the
// line's number goes to stderr only.
TEST_F(RunUpdateTest, ABlankOrForeignLineGetsTheChecksOwnMessagesAndItsNumberOnStderr) {
    for (const std::string& line :
         {std::string(""), std::string("garbage"), std::string("; a comment"),
          std::string(" S10500000102F7"), std::string("S1") + std::string(298, '0')}) {
        fileText_ = kr470::BuildUpdateFile(input_);
        const size_t second = fileText_.find("\r\n", fileText_.find("[Code]\r\n") + 8) + 2;
        fileText_.insert(second, line + "\r\n");
        ::testing::internal::CaptureStderr();
        Result r = Run("y\n");
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.sent.empty());
        EXPECT_TRUE(r.output.ends_with(kRefusedAsNoRecord)) << r.output;
        EXPECT_EQ(r.output.find("line 2"), std::string::npos) << r.output;
        EXPECT_NE(said.find("Osprey: line 2 of [Code] is "), std::string::npos) << said;
    }
}

TEST_F(RunUpdateTest, ADirectoryOrADeviceIsNoUpdateFileAndAByteOrderMarkIsSkipped) {
    SerialLink link(std::make_unique<FakePort>(port_));
    char identification[] = "a,b,c,d";
    for (const auto& [path, kind] : std::vector<std::pair<std::string, std::string>>{
             {dir_.Path().string(), "a directory"}, {kCharacterDevice, "a character device"}}) {
        ConsoleCapture capture;
        EXPECT_TRUE(RefuseUnusableUpdateFile(path.c_str()));
        EXPECT_EQ(RunUpdate(path.c_str(), identification, link), 1);
        const std::string message = "\nCould not open the Update INI file " + path + ".\n" + path +
                                    " is " + kind + ", not a regular file.\n";
        EXPECT_EQ(capture.Output(), message + message);
    }
    EXPECT_FALSE(RefuseUnusableUpdateFile("/nonexistent/u.ini"));  // RunUpdate says so

    fileText_ = "\xEF\xBB\xBF" + kr470::BuildUpdateFile(input_);
    EXPECT_EQ(Run("y\n").status, 0);
    EXPECT_TRUE(committed_);
}

TEST_F(RunUpdateTest, SilentInstrumentEndsTheRunWithATimeout) {
    options_.silentOn = {{"*STB?", 0}};
    EXPECT_THROW(Run("y\n"), LinkError);
}

TEST(CheckInstrumentErrors, PrintsEachErrorUntilTheQueueIsEmpty) {
    FakePort::State port;
    kr470::InstrumentOptions options;
    options.errors = {"-100,\"Command error\",more", "5"};
    kr470::Instrument instrument(options);
    port.responder = [&](const std::string& line) { return instrument.Handle(line).reply; };
    SerialLink link(std::make_unique<FakePort>(port));
    link.Open("COM1");
    ConsoleCapture capture;
    EXPECT_TRUE(CheckInstrumentErrors(link));
    EXPECT_EQ(capture.Output(), "\"Command error\"\n\n");
    EXPECT_FALSE(CheckInstrumentErrors(link));
}

}  // namespace
}  // namespace osprey
