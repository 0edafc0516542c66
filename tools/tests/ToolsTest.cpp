// The simulator's dialogue, S-records and the update-file builder's checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "IniReader.h"
#include "Instrument.h"
#include "LineInput.h"
#include "ObjcopyImage.h"
#include "SRecord.h"
#include "TextFile.h"
#include "UpdateFileBuilder.h"

namespace kr470 {
namespace {

TEST(SRecord, DecodesAndEncodesTheWorkedExample) {
    std::optional<SRecord> record = DecodeSRecord("S10500000102F7");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->type, 1);
    EXPECT_EQ(record->address, 0u);
    EXPECT_EQ(record->data, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(EncodeSRecord(*record), "S10500000102F7");
    EXPECT_EQ(EncodeSRecord(SRecord{9, 0, {}}), "S9030000FC");
}

TEST(SRecord, RejectsDamagedLinesWithAReason) {
    std::string why;
    for (const char* line :
         {"S10500000102F8", "S10600000102F7", "S1050000010ZF7", "S4030000FC", "X", ""}) {
        EXPECT_FALSE(DecodeSRecord(line, &why)) << line;
        EXPECT_FALSE(why.empty());
    }
}

TEST(Instrument, RunsTheDownloadDialogueAndCommitsTheNewRevision) {
    Instrument instrument({});
    EXPECT_EQ(instrument.Handle("SYSTem:ERRor?").reply, "+0,\"No error\"");
    EXPECT_EQ(instrument.Handle("dlo:csum?").reply, "0012345");
    instrument.Handle("dlo:start 12345");  // not the token as sent
    EXPECT_FALSE(instrument.InDownloadMode());
    EXPECT_EQ(instrument.Handle("SYST:ERR?").reply->substr(0, 4), "-224");
    instrument.Handle("dlo:start 0012345");
    EXPECT_TRUE(instrument.InDownloadMode());
    EXPECT_EQ(instrument.Handle("dlo:stat?").reply, "0,0");
    for (const std::string& line : GenerateImage(64, 1, "KR470A 2.00")) {
        EXPECT_EQ(instrument.Handle("dlo? \"" + line + "\" ").reply, "0");
    }
    EXPECT_EQ(instrument.Handle("dlo? \"S10500000102F8\" ").reply, "1");  // bad record checksum
    EXPECT_EQ(instrument.Handle("dlo:stat?").reply, "2,2");
    std::string checksum = *instrument.Handle("dlo:csum?").reply;
    instrument.Handle("dlo:comp " + checksum);
    EXPECT_TRUE(instrument.Committed());
    EXPECT_EQ(instrument.Handle("*IDN?").reply, "Velmora,KR470A,SN470001,2.00-2.10-0.9");
}

// Enters download mode and sends the first `records` lines of `image`.
void StartAndSend(Instrument& instrument, const std::vector<std::string>& image, size_t records) {
    std::string token = *instrument.Handle("dlo:csum?").reply;
    instrument.Handle("dlo:start " + token);
    ASSERT_TRUE(instrument.InDownloadMode());
    instrument.Handle("dlo:stat?");
    for (size_t i = 0; i < records; ++i) {
        instrument.Handle("dlo \"" + image[i] + "\" ");
    }
}

TEST(Instrument, AnInterruptedDownloadComesBackAsALoaderWithAFreshStartToken) {
    const std::vector<std::string> image = GenerateImage(64, 1, "KR470A 1.05");
    for (const char* reset : {"*RST", "SYST:REM", "a new connection"}) {
        SCOPED_TRACE(reset);
        Instrument instrument({});
        StartAndSend(instrument, image, 3);
        // In download mode the loader runs: it says so, and a second start is refused.
        EXPECT_EQ(instrument.Handle("*IDN?").reply, "Velmora,loader KR470A,SN470001,0.00-2.10-0.9");
        if (std::string(reset) == "a new connection") {
            instrument.Reset();
        } else {
            instrument.Handle(reset);
        }
        EXPECT_TRUE(instrument.InLoader());
        EXPECT_EQ(instrument.Handle("*IDN?").reply, "Velmora,loader KR470A,SN470001,0.00-2.10-0.9");
        std::string token = *instrument.Handle("dlo:csum?").reply;
        EXPECT_EQ(token, "0004701");
        // A wrong token is refused at once: queued before any record is sent.
        instrument.Handle("dlo:start 0012345");
        EXPECT_FALSE(instrument.InDownloadMode());
        EXPECT_EQ(instrument.Handle("SYST:ERR?").reply->substr(0, 4), "-224");
        instrument.Handle("dlo:start " + token);
        ASSERT_TRUE(instrument.InDownloadMode());
        EXPECT_EQ(instrument.Handle("SYST:ERR?").reply, "+0,\"No error\"");
        instrument.Handle("dlo:stat?");
        for (const std::string& line : image) {
            instrument.Handle("dlo \"" + line + "\" ");
        }
        instrument.Handle("dlo:comp " + *instrument.Handle("dlo:csum?").reply);
        EXPECT_TRUE(instrument.Committed());
        EXPECT_EQ(instrument.Handle("*IDN?").reply, "Velmora,KR470A,SN470001,1.05-2.10-0.9");
    }
}

TEST(Instrument, AResetOutsideADownloadChangesNothingButALoadersToken) {
    Instrument instrument({});
    instrument.Reset();
    instrument.Handle("*RST");
    EXPECT_EQ(instrument.Handle("*IDN?").reply, "Velmora,KR470A,SN470001,1.04-2.10-0.9");
    EXPECT_EQ(instrument.Handle("dlo:csum?").reply, "0012345");
    StartAndSend(instrument, GenerateImage(64, 1, "KR470A 1.05"), 1);
    instrument.Reset();
    std::string first = *instrument.Handle("dlo:csum?").reply;
    instrument.Reset();
    EXPECT_NE(instrument.Handle("dlo:csum?").reply, first);
    EXPECT_TRUE(instrument.InLoader());
}

TEST(Instrument, StuckInDownloadKeepsItsPassThroughAResetAndRefusesANewStart) {
    InstrumentOptions options;
    options.stuckInDownload = true;
    Instrument instrument(options);
    StartAndSend(instrument, GenerateImage(64, 1, "KR470A 1.05"), 2);
    instrument.Reset();
    instrument.Handle("SYST:REM");
    EXPECT_TRUE(instrument.InDownloadMode());
    std::string running = *instrument.Handle("dlo:csum?").reply;
    EXPECT_NE(running, "0012345");
    instrument.Handle("dlo:start " + running);
    EXPECT_EQ(instrument.Handle("SYST:ERR?").reply->substr(0, 4), "-224");
}

// The lines waiting in `input`, oldest first.
std::vector<std::string> Lines(LineInput& input) {
    std::vector<std::string> lines;
    for (std::string line; input.Next(line);)
        lines.push_back(line);
    return lines;
}

TEST(LineInput, LinesCompleteAcrossPiecesAndAStaleUnfinishedLineIsDropped) {
    LineInput input(1000);
    input.Append("dlo \"S1", 0);
    EXPECT_TRUE(Lines(input).empty());
    input.Append("23\"\n*IDN?\nSYST", 900);
    EXPECT_EQ(Lines(input), (std::vector<std::string>{"dlo \"S123\"", "*IDN?"}));
    input.Append(":ERR?\n", 1900);
    EXPECT_EQ(Lines(input), std::vector<std::string>{"SYST:ERR?"});
    EXPECT_EQ(input.DroppedIdle(), "");
    // An update cut off in mid-record, and the next session much later.
    input.Append("dlo \"S3250004C2", 2000);
    EXPECT_TRUE(Lines(input).empty());
    input.Append("SYST:REM\n", 3001);
    EXPECT_EQ(Lines(input), std::vector<std::string>{"SYST:REM"});
    EXPECT_EQ(input.DroppedIdle(), "dlo \"S3250004C2");
}

TEST(Instrument, SilenceAndHangUpFollowTheirOccurrence) {
    InstrumentOptions options;
    options.silentOn = {{"*opc?", 2}};
    options.hangUpOn = {{"*STB?", 0}};
    Instrument instrument(options);
    EXPECT_TRUE(instrument.Handle("*OPC?").reply);
    EXPECT_FALSE(instrument.Handle("*OPC?").reply);
    EXPECT_TRUE(instrument.Handle("*OPC?").reply);
    EXPECT_TRUE(instrument.Handle("*STB?").hangUp);
}

TEST(UpdateFileBuilder, BuiltFilesCheckCleanAndDamageIsReportedByLine) {
    UpdateFileInput input;
    input.records = GenerateImage(100, 2, "KR470A 1.05");
    input.revision = "1.05";
    input.description = {"a"};
    std::string text = BuildUpdateFile(input);
    EXPECT_TRUE(CheckUpdateFile(text).empty());
    EXPECT_NE(text.find("Number of Srecs=4\r\n"), std::string::npos);

    std::string damaged = text;
    size_t code = damaged.find("[Code]\r\n") + 8;
    damaged[code + 10] = damaged[code + 10] == 'F' ? 'E' : 'F';  // in the S0 record, line 15
    std::vector<std::string> problems = CheckUpdateFile(damaged);
    ASSERT_FALSE(problems.empty());
    EXPECT_EQ(problems[0], "line 15: not a valid S-record: record checksum is wrong");

    // Osprey ends the section at it; the plug-in takes only "END" itself.
    for (const char* end : {"END \r\n", "END of image\r\n"}) {
        std::string trailing = text.substr(0, text.find("END")) + end;
        problems = CheckUpdateFile(trailing);
        ASSERT_EQ(problems.size(), 1u) << end;
        EXPECT_EQ(problems[0].substr(problems[0].find(':')),
                  ": the END line has more after \"END\": the plug-in refuses it");
    }

    std::string noEnd = text.substr(0, text.find("END"));
    problems = CheckUpdateFile(noEnd);
    EXPECT_NE(std::find(problems.begin(), problems.end(), "[Code] has no END line"),
              problems.end());
}

// The line (from 1) of `text` that holds the byte at `position`.
size_t LineAt(const std::string& text, size_t position) {
    return static_cast<size_t>(std::count(text.begin(), text.begin() + position, '\n')) + 1;
}

// What Osprey's lookup reads for a key: the first line after the section's
// header that begins with it, past the key and one character.
std::string ProgramsRead(const std::string& text, const char* section, const char* key) {
    osprey::TextFile file;
    file.OpenText(text);
    std::array<char, 100> value{};
    osprey::ReadIniValue(file, section, key, value);
    return value.data();
}

// The check reads keys as the programs do, so a line that only begins with a
// key, ahead of the key's own line, is refused with what the key reads as.
TEST(UpdateFileBuilder, AKeyTheProgramsReadFromALineThatOnlyBeginsWithItIsAProblem) {
    UpdateFileInput input;
    input.records = GenerateImage(100, 2, "KR470A 1.05");
    input.revision = "1.05";
    input.description = {"one", "two",   "three", "four", "five",
                         "six", "seven", "eight", "nine", "ten"};
    const std::string text = BuildUpdateFile(input);
    ASSERT_TRUE(CheckUpdateFile(text).empty());

    const size_t idn = text.find("IDN=KR470A\r\n");
    std::string before = text;
    before.insert(idn, "IDNumber=7\r\n");
    EXPECT_EQ(ProgramsRead(before, "Firmware Info", "IDN"), "mber=7");
    EXPECT_EQ(CheckUpdateFile(before),
              std::vector<std::string>{"line 3: [Firmware Info] \"IDN\" reads as \"mber=7\": "
                                       "Osprey and the plug-in take the first line that begins "
                                       "with \"IDN\""});

    // After the key's own line it is never read.
    std::string after = text;
    after.insert(idn + std::string("IDN=KR470A\r\n").size(), "IDNumber=7\r\n");
    EXPECT_EQ(ProgramsRead(after, "Firmware Info", "IDN"), "KR470A");
    EXPECT_EQ(CheckUpdateFile(after), std::vector<std::string>{});

    // "Desc 10" ahead of "Desc 1": the first description line reads "=ten".
    std::string reordered = text;
    const std::string tenth = "Desc 10=ten\r\n";
    reordered.erase(reordered.find(tenth), tenth.size());
    const size_t first = reordered.find("Desc 1=");
    reordered.insert(first, tenth);
    EXPECT_EQ(ProgramsRead(reordered, "Description", "Desc 1"), "=ten");
    EXPECT_EQ(CheckUpdateFile(reordered),
              std::vector<std::string>{"line " + std::to_string(LineAt(reordered, first)) +
                                       ": [Description] \"Desc 1\" reads as \"=ten\": Osprey and "
                                       "the plug-in take the first line that begins with \"Desc "
                                       "1\""});

    // A key missing from its section is missing, whatever a later section holds.
    std::string noSum = text;
    noSum.erase(noSum.find("Checksum="),
                noSum.find("\r\n", noSum.find("Checksum=")) + 2 - noSum.find("Checksum="));
    EXPECT_EQ(CheckUpdateFile(noSum),
              std::vector<std::string>{"[Firmware Info] has no \"Checksum\" line"});
}

}  // namespace
}  // namespace kr470

TEST(UpdateFileBuilder, ImagesBeyond65535RecordsCountThemInAnS6Record) {
    std::vector<std::string> image = kr470::GenerateImage(70000 * 32, 1, "KR470A 1.05");
    ASSERT_EQ(image[image.size() - 2].substr(0, 2), "S6");
    std::optional<kr470::SRecord> count = kr470::DecodeSRecord(image[image.size() - 2], nullptr);
    ASSERT_TRUE(count);
    EXPECT_EQ(count->address, 70000u);
    kr470::UpdateFileInput input;
    input.records = image;
    input.revision = "1.05";
    EXPECT_EQ(kr470::CheckUpdateFile(kr470::BuildUpdateFile(input)), std::vector<std::string>{});
}

TEST(UpdateFileBuilder, ObjcopyImagesCheckCleanAndASectionNotEndingWithItsEndRecordIsAProblem) {
    const std::string kNotEnded =
        "[Code] does not end with its end record (S7, S8 or S9): the plug-in's download pass "
        "ends after the first one";
    testsupport::TempDir dir;
    for (uint32_t address : {0x0u, 0x10000u, 0x1000000u}) {  // S1/S9, S2/S8, S3/S7
        kr470::UpdateFileInput input;
        input.records = testsupport::ObjcopyImage(dir, 300, address);
        ASSERT_EQ(input.records.size(), 21u) << address;  // S0, 19 data records, the end record
        input.revision = "1.05";
        EXPECT_EQ(kr470::CheckUpdateFile(kr470::BuildUpdateFile(input)), std::vector<std::string>{})
            << input.records.back();

        const std::string end = input.records.back();
        input.records.pop_back();
        EXPECT_EQ(kr470::CheckUpdateFile(kr470::BuildUpdateFile(input)),
                  std::vector<std::string>{kNotEnded})
            << address;
        // A record after the end record: the plug-in's pass would leave it out.
        input.records.push_back(end);
        input.records.push_back(input.records[1]);
        EXPECT_EQ(kr470::CheckUpdateFile(kr470::BuildUpdateFile(input)),
                  std::vector<std::string>{kNotEnded})
            << address;
        input.records.push_back(end);  // ... even when another end record follows them
        EXPECT_EQ(kr470::CheckUpdateFile(kr470::BuildUpdateFile(input)),
                  std::vector<std::string>{kNotEnded})
            << address;
    }
}
