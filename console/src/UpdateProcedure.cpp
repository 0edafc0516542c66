#include "UpdateProcedure.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "CodeCheck.h"
#include "Console.h"
#include "Decimal.h"
#include "IniReader.h"
#include "RunResult.h"
#include "SerialLink.h"
#include "SignalExit.h"

namespace osprey {
namespace {

// An error queue is a few dozen entries deep; an instrument that never
// reports an empty queue must not keep the updater asking forever.
constexpr int kMostErrorQueueEntries = 1000;
constexpr int kProgressWidth = 50;
constexpr int kProgressEvery = 200;
constexpr int kMostStrictSends = 3;

// Replies split into at most this many fields; later ones stay joined.
using Fields = std::array<char*, 16>;

// Field `index` of a split reply, or an empty text when the reply had fewer.
const char* FieldOr(const Fields& fields, int count, int index) {
    return index < count ? fields[static_cast<size_t>(index)] : "";
}

template <size_t N>
size_t Query(SerialLink& link, std::string_view command, std::array<char, N>& reply) {
    size_t length = 0;
    link.Query(command, reply, length);
    return length;
}

void Write(SerialLink& link, std::string_view command) {
    size_t sent = 0;
    link.Write(command, sent);
}

void PrintOverlongCodeLine(int lineNumber) {
    TeePrintf("\nCorrupt Code section of INI file: line %d is longer than %d characters.\n",
              lineNumber, static_cast<int>(kLongestCodeLine));
    TeePrintf("Need to get a new copy of update to continue!\n");
}

// `refusal` says why a file that exists is no update file; empty for a missing one.
void PrintUnopenable(const char* updateFileName, const std::string& refusal) {
    TeePrintf("\n");
    TeePrintf("Could not open the Update INI file %s.\n", updateFileName);
    if (!refusal.empty()) {
        TeePrintf("%s.\n", refusal.c_str());
    }
}

// Texts the procedure reads from the update file.
struct UpdateKeys {
    std::array<char, 30> codeChecksum{};
    std::array<char, 30> recordCount{};
    std::array<char, 30> model{};
    std::array<char, 30> revision{};
};

struct Identification {
    const char* model = "";
    const char* revision = "";
};

Identification SplitIdentification(char* reply) {
    Fields fields{};
    int count = SplitFields(reply, fields, ",");
    Identification id;
    id.model = FieldOr(fields, count, 1);
    if (count > 3) {
        Fields parts{};
        SplitFields(fields[3], parts, "-");
        id.revision = parts[0];
    }
    return id;
}

void PrintVersions(const Identification& id, const UpdateKeys& keys) {
    TeePrintf("Instrument Version %s\n", id.revision);
    TeePrintf("Update Version %s\n", keys.revision.data());
}

// One download pass and its checks; the same object runs every repeat.
class DownloadPass {
  public:
    DownloadPass(TextFile& file, SerialLink& link, const UpdateKeys& keys)
        : file_(file),
          link_(link),
          keys_(keys),
          expected_(DecimalInteger(keys.recordCount.data())) {}

    enum class Outcome { kClean, kRepeat, kGiveUp };
    Outcome Run();
    const char* FinalChecksum() const { return finalChecksum_.data(); }

  private:
    bool SendCodeSection();
    bool SendRecord(const char* record);
    Outcome CheckPass();
    bool CheckErrorQueue();
    bool CheckChecksum();
    Outcome CheckRecordCounts();

    TextFile& file_;
    SerialLink& link_;
    const UpdateKeys& keys_;
    const int32_t expected_;
    int32_t startingCount_ = 0;
    int lineCounter_ = 0;
    int recordCounter_ = 0;
    bool repeat_ = false;
    std::array<char, 30> finalChecksum_{};
    // The longest command is a record of kLongestCodeLine characters in "dlo? \"%s\" ".
    std::array<char, kLongestCodeLine + 16> command_{};
};

DownloadPass::Outcome DownloadPass::Run() {
    NotePassStarted();
    std::array<char, 200> stat{};
    Query(link_, "dlo:stat?", stat);
    Fields fields{};
    SplitFields(stat.data(), fields, ",");
    startingCount_ = DecimalInteger(fields[0]);
    repeat_ = false;
    lineCounter_ = recordCounter_ = 0;
    if (!SendCodeSection()) {
        return Outcome::kGiveUp;
    }
    ShowProgress(kProgressWidth, lineCounter_, lineCounter_);
    std::array<char, 100> opc{};
    Query(link_, "*OPC?", opc);
    return CheckPass();
}

bool DownloadPass::SendCodeSection() {
    PositionAtSection(file_, "Code");
    std::array<char, kIniLineBuffer> line{};
    for (;;) {
        std::optional<size_t> length = file_.ReadPiece(line);
        if (!length) {
            TeePrintf("\nProblem reading FLASH file!\n");
            TeePrintf("Count=%d\nSRecords=%d\n", lineCounter_, expected_);
            return false;
        }
        std::string_view text(line.data(), *length);
        if (IsDataRecord(text)) {
            ++recordCounter_;
        } else if (text.starts_with("END")) {
            return true;
        }
        if (*length > kLongestCodeLine) {
            PrintOverlongCodeLine(lineCounter_ + 1);
            return false;
        }
        if (!SendRecord(line.data())) {
            return false;
        }
        ++lineCounter_;
        if ((lineCounter_ - 1) % kProgressEvery == 0) {
            ShowProgress(kProgressWidth, lineCounter_, expected_);
        }
    }
}

bool DownloadPass::SendRecord(const char* record) {
    if (!strictChecking) {
        WriteFormatted(link_, command_, "dlo \"%s\" ", record);
        return true;
    }
    size_t length = FormatCommand(command_, "dlo? \"%s\" ", record);
    std::string_view command(command_.data(), length);
    for (int send = 0; send < kMostStrictSends; ++send) {
        std::array<char, 20> reply{};
        Query(link_, command, reply);
        if (DecimalInteger(reply.data()) == 0) {
            return true;
        }
    }
    CheckInstrumentErrors(link_);
    TeePrintf("Invalid SRecord encountered at line %d\n", lineCounter_);
    TeePrintf("May need to down load update file again!\n");
    return false;
}

// The three checks after a pass, in the order the instrument is asked.
DownloadPass::Outcome DownloadPass::CheckPass() {
    if (!CheckErrorQueue() || !CheckChecksum()) {
        return Outcome::kGiveUp;
    }
    Outcome counts = CheckRecordCounts();
    if (counts != Outcome::kClean) {
        return counts;
    }
    return repeat_ ? Outcome::kRepeat : Outcome::kClean;
}

// False when the user gives up; a Yes marks the pass for repeating.
bool DownloadPass::CheckErrorQueue() {
    if (!CheckInstrumentErrors(link_)) {
        return true;
    }
    if (PromptUser("Error occurred during upload.  Try again? (Y/N) _\b", false) == 'N') {
        TeePrintf("Update failed!  May need to get another version of the update file!\n");
        return false;
    }
    repeat_ = true;
    return true;
}

bool DownloadPass::CheckChecksum() {
    Query(link_, "dlo:csum?", finalChecksum_);
    if (DecimalInteger(finalChecksum_.data()) == DecimalInteger(keys_.codeChecksum.data())) {
        return true;
    }
    TeePrintf("     CheckSum in File = %s\n", keys_.codeChecksum.data());
    TeePrintf("CheckSum from Tessera = %s\n\n", finalChecksum_.data());
    if (PromptUser("Check Sum does not match entry in INI file!  Try download again? (Y/N) _\b)",
                   false) == 'N') {
        TeePrintf("The INI file may be corrupt, may need to get another version.");
        return false;
    }
    repeat_ = true;
    return true;
}

DownloadPass::Outcome DownloadPass::CheckRecordCounts() {
    std::array<char, 200> stat{};
    Query(link_, "dlo:stat?", stat);
    Fields fields{};
    int count = SplitFields(stat.data(), fields, ",");
    // Running counts may come close to the 32-bit limits; take the growth wide.
    int64_t received = int64_t{DecimalInteger(fields[0])} - startingCount_;
    int64_t reported = DecimalInteger(FieldOr(fields, count, 1));
    if (received == reported) {
        return Outcome::kClean;
    }
    if (reported != recordCounter_) {
        TeePrintf("The update file is corrupt.  Data records does not match expected.\n");
        TeePrintf("You need to get another copy.\n");
        return Outcome::kGiveUp;
    }
    if (PromptUser(
            "Records received does not equal records expected.  Try download again? *Y/N) _\b",
            false) == 'N') {
        TeePrintf("The INI file may be corrupt, may need to get another version.");
        return Outcome::kGiveUp;
    }
    return Outcome::kRepeat;
}

// The whole update as Osprey runs it, step by step as the plug-in does:
// check the file, identify the instrument, check the revision, start the
// download, run passes until one is clean, commit.
class ConsoleUpdate {
  public:
    ConsoleUpdate(const char* updateFileName, char* identification, SerialLink& link)
        : updateFileName_(updateFileName), identification_(identification), link_(link) {}

    int Run();

  private:
    bool OpenUpdateFile();
    bool CheckFile();
    void ReadFirmwareInfo();
    bool IdentifyInstrument();
    bool CheckRevision();
    bool StartDownload();
    bool RunPasses();
    void Commit(const DownloadPass& pass);

    const char* updateFileName_;
    char* identification_;
    SerialLink& link_;
    TextFile file_;
    UpdateKeys keys_;
    Identification id_;
    bool loaderMode_ = false;
};

int ConsoleUpdate::Run() {
    SetDownloadPhase(DownloadPhase::kUntouched);
    if (!OpenUpdateFile() || !CheckFile()) {
        return 1;
    }
    ReadFirmwareInfo();
    if (!IdentifyInstrument() || !CheckRevision() || !StartDownload() || !RunPasses()) {
        return 1;
    }
    file_.Close();
    return 0;
}

bool ConsoleUpdate::OpenUpdateFile() {
    if (file_.Open(updateFileName_)) {
        return true;
    }
    PrintUnopenable(updateFileName_, file_.Refusal());
    return false;
}

bool ConsoleUpdate::CheckFile() {
    ReadIniValue(file_, "Code Info", "Checksum", keys_.codeChecksum);
    ReadIniValue(file_, "Code Info", "Number of Srecs", keys_.recordCount);
    const int32_t expected = DecimalInteger(keys_.recordCount.data());
    const CodeSectionScan scan = ScanCodeSection(file_);
    // A line the download could not send whole is refused before the section
    // is said to be OK; a section the check refuses anyway gets the check's words.
    if (scan.firstLongLine != 0 && CodeSectionPasses(scan, expected)) {
        PrintOverlongCodeLine(scan.firstLongLine);
        return false;
    }
    if (ReportCodeSection(scan, expected) != 0) {
        TeePrintf("\nCorrupt Code section of INI file.\n");
        TeePrintf("Need to get a new copy of update to continue!\n");
        return false;
    }
    return true;
}

void ConsoleUpdate::ReadFirmwareInfo() {
    ReadIniValue(file_, "Firmware Info", "IDN", keys_.model);
    ReadIniValue(file_, "Firmware Info", "Revision", keys_.revision);
}

bool ConsoleUpdate::IdentifyInstrument() {
    id_ = SplitIdentification(identification_);
    // Two missing models are no match: an empty model says nothing about the image.
    if (keys_.model[0] != '\0' && std::strcmp(id_.model, keys_.model.data()) == 0) {
        return true;
    }
    if (std::strncmp(id_.model, "loader", 6) == 0) {
        TeePrintf("Loader firmware running ...\n");
        loaderMode_ = true;
        return true;
    }
    TeePrintf("This firmware update is not intended for this instrument.\n");
    TeePrintf(" - Update for %s\n", keys_.model.data());
    TeePrintf(" - Current instrument is %s\n", id_.model);
    return false;
}

bool ConsoleUpdate::CheckRevision() {
    if (loaderMode_ || !(DecimalNumber(keys_.revision.data()) <= DecimalNumber(id_.revision))) {
        return true;
    }
    PrintVersions(id_, keys_);
    TeePrintf("Instrument version greater than or equal to update version!\n");
    return PromptUser("Continue with update? (Y/N) _\b", false) != 'N';
}

bool ConsoleUpdate::StartDownload() {
    Write(link_, "*CLS");
    std::array<char, 30> startToken{};
    Query(link_, "dlo:csum?", startToken);
    if (!loaderMode_) {
        PrintVersions(id_, keys_);
        if (PromptUser("\nDo you want to Continue with update? (Y/N) _\b", false) == 'N') {
            return false;
        }
        TeePrintf("NOTE: During update please don't touch the buttons on the Front Panel!\n");
    }
    std::array<char, 48> command{};
    NoteDownloadStarted();  // first: a signal in between warns rather than reassures
    WriteFormatted(link_, command, "dlo:start %s", startToken.data());
    WaitForReset(5);
    std::array<char, 200> status{};
    Query(link_, "*STB?", status);
    return true;
}

// Repeats the pass until one is clean, then commits. False when the user gave up.
bool ConsoleUpdate::RunPasses() {
    DownloadPass pass(file_, link_, keys_);
    for (;;) {
        switch (pass.Run()) {
            case DownloadPass::Outcome::kClean:
                Commit(pass);
                return true;
            case DownloadPass::Outcome::kGiveUp:
                return false;
            case DownloadPass::Outcome::kRepeat:
                break;
        }
    }
}

void ConsoleUpdate::Commit(const DownloadPass& pass) {
    std::array<char, 48> command{};
    WriteFormatted(link_, command, "dlo:comp %s", pass.FinalChecksum());
    NoteCommitSent();
    WaitForReset(5);
}

}  // namespace

bool CheckInstrumentErrors(SerialLink& link) {
    bool seen = false;
    for (int entry = 0; entry < kMostErrorQueueEntries; ++entry) {
        std::array<char, 100> reply{};
        Query(link, "SYST:ERR?", reply);
        Fields fields{};
        int count = SplitFields(reply.data(), fields, ",");
        if (DecimalInteger(fields[0]) == 0) {
            return seen;
        }
        TeePrintf("%s\n", FieldOr(fields, count, 1));
        seen = true;
    }
    return seen;
}

bool RefuseUnusableUpdateFile(const char* updateFileName) {
    std::string refusal = UpdateFileRefusal(updateFileName);
    if (refusal.empty()) {
        return false;
    }
    PrintUnopenable(updateFileName, refusal);
    return true;
}

int RunUpdate(const char* updateFileName, char* identification, SerialLink& link) {
    return ConsoleUpdate(updateFileName, identification, link).Run();
}

}  // namespace osprey
