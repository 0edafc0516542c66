// modGlobals' update procedure: the whole firmware update as the plug-in runs it.
#include <algorithm>
#include <cmath>
#include <string_view>

#include "RuntimeError.h"
#include "Text.h"
#include "modGlobals.h"
#include "modTimer.h"

namespace kestrel {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int32_t kReplyTimeoutMs = 12000;
constexpr int32_t kResetWaitMs = 5000;
constexpr int kMostSends = 3;           // a strict record refused this often fails the update
constexpr int32_t kProgressStep = 100;  // lines between progress updates

std::vector<std::string> Split(const std::string& text, const std::string& delimiter) {
    std::vector<std::string> fields;
    SplitText(text, delimiter, fields);
    return fields;
}

// A reply as a box can show it: control bytes as '?', a long one cut.
std::string Quoted(const std::string& reply) {
    constexpr size_t kLongestShown = 60;
    size_t cut = std::min(reply.size(), kLongestShown);
    // Back to the start of a character: a byte 10xxxxxx continues one (of at
    // most four bytes, so bytes that are no text still show).
    for (int back = 0; back < 3 && cut > 0 && cut < reply.size() &&
                       (static_cast<unsigned char>(reply[cut]) & 0xC0) == 0x80;
         ++back)
        --cut;
    std::string shown = reply.substr(0, cut);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            c = '?';
        }
    }
    return "\"" + shown + (reply.size() > kLongestShown ? "\"..." : "\"");
}

// One field of a query's reply. A reply without it (an echo of the query, a
// line meant for another question) is a Subscript out of range that says
// what came back.
const std::string& Field(const std::vector<std::string>& fields, size_t index,
                         std::string_view query, const std::string& reply) {
    if (index >= fields.size()) {
        RuntimeError missing = RuntimeError::SubscriptOutOfRange();
        throw RuntimeError(missing.Number(), missing.Description() + " (the reply to " +
                                                 std::string(query) + " was " + Quoted(reply) +
                                                 ")");
    }
    return fields[index];
}

// A strict-checking reply of 1 is a refusal; anything else, numeric or not,
// means the record was taken.
bool IsRefusal(const std::string& reply) {
    try {
        return ToDouble(reply) == 1.0;
    } catch (const RuntimeError&) {
        return false;
    }
}

std::string RecordCommand(const std::string& word, const std::string& record) {
    return word + " \"" + record + "\" ";
}

enum class PassOutcome { kClean, kRepeat, kGiveUp };

class FirmwareUpdate {
  public:
    FirmwareUpdate(InstrumentIO& io, ProgressBar& progress, MessageList& messages)
        : io_(io), progress_(progress), messages_(messages) {}

    int32_t Run() {
        io_.SetTimeout(kReplyTimeoutMs);
        if (io_.GetInterfaceKind() == "ASRL") {
            io_.SendCommand("SYST:REM");
            StrictChecking = 0;  // a serial line is never checked record by record
        }
        ReadFirmwareInfo();
        Add({name_});
        if (!IdentifyInstrument() || !CheckRevision() || !CheckFile()) {
            return kUpdateFailed;
        }
        ClearInstrumentErrors(io_);
        if (!StartDownload() || !RunPasses()) {
            return kUpdateFailed;
        }
        stream_->Close();
        return kUpdateCommitted;
    }

  private:
    void ReadFirmwareInfo() {
        OpenUpdateFile(stream_);
        GetIniValue(stream_, "Firmware Info", "Name", name_);
        GetIniValue(stream_, "Firmware Info", "IDN", model_);
        GetIniValue(stream_, "Firmware Info", "Revision", revision_);
    }

    // Adds the lines to the message list and lets the window breathe.
    void Add(std::initializer_list<std::string> lines) {
        for (const std::string& line : lines) {
            messages_.AddLine(line);
        }
        messages_.Redraw();
        Window().Breathe();
    }

    bool AskYes(const std::string& text, const std::string& title = kBoxTitle) {
        return Window().ShowMessage(text, Buttons::kYesNo, Icon::kNone, title) == Answer::kYes;
    }

    void Tell(const std::string& text, Icon icon = Icon::kNone) {
        Window().ShowMessage(text, Buttons::kOk, icon, kBoxTitle);
    }

    std::string VersionLines() const {
        return std::string("Instrument Version ") + instrumentRevision_ + kCrLf +
               "Update Version " + revision_ + kCrLf + kCrLf + kCrLf;
    }

    bool IdentifyInstrument() {
        const std::string identification = io_.SendQuery("*IDN?");
        std::vector<std::string> fields = Split(identification, ",");
        const std::string& model = Field(fields, 1, "*IDN?", identification);
        const std::string& revisions = Field(fields, 3, "*IDN?", identification);
        instrumentRevision_ = Field(Split(revisions, "-"), 0, "*IDN?", identification);
        // Two missing models are no match: an empty model says nothing about the image.
        if (!model_.empty() && model_ == model) {
            return true;
        }
        if (StartsWithIgnoringCase(model, "loader")) {
            loaderMode_ = true;
            Add({"Loader firmware running ..."});
            return true;
        }
        Tell(std::string("This firmware update is not intended for this instrument.") + kCrLf +
             " - Update for " + model_ + kCrLf + " - Current instrument is " + model);
        return false;
    }

    bool CheckRevision() {
        // Both convert in loader mode too, so a bad revision fails there as well.
        const double update = ToDouble(revision_);
        const double instrument = ToDouble(instrumentRevision_);
        if (update > instrument || loaderMode_) {
            return true;
        }
        return AskYes("Instrument version greater than or equal to update version!" +
                          std::string(kCrLf) + VersionLines() + "Continue with update? (Y/N)",
                      std::string(kBoxTitle) + " - Version WARNING");
    }

    bool CheckFile() {
        GetIniValue(stream_, "Code Info", "Checksum", fileChecksum_);
        std::string count;
        GetIniValue(stream_, "Code Info", "Number of Srecs", count);
        expectedRecords_ = ToLong(count);
        // The passes send these lines, never the file again: what is sent is what was checked.
        return CheckCodeSection(stream_, expectedRecords_, messages_, &codeLines_) == 0;
    }

    bool StartDownload() {
        io_.SendCommand("*CLS");
        io_.SendCommand("dlo:csum?");
        std::string startChecksum;
        io_.ReadReply(startChecksum, "K");
        if (!loaderMode_ &&
            !AskYes(VersionLines() + "Do you want to continue with update? (Y/N)")) {
            return false;
        }
        io_.SendCommand("dlo:start " + startChecksum);
        Add({"Waiting 5 seconds for unit to reset..."});
        Wait(kResetWaitMs);
        Add({"Done Waiting!",
             "Update started!  Do not touch the front panel during this process!"});
        io_.SendQuery("*OPC?");
        return true;
    }

    // Repeats the pass until one is clean, then commits. False when the user gave up.
    bool RunPasses() {
        for (;;) {
            PassOutcome outcome = RunPass();
            if (outcome == PassOutcome::kGiveUp) {
                return false;
            }
            if (outcome == PassOutcome::kClean) {
                Commit();
                return true;
            }
        }
    }

    // One download pass and the checks after it.
    PassOutcome RunPass() {
        const std::string counts = io_.SendQuery("dlo:stat?");
        startingCount_ = ToLong(Field(Split(counts, ","), 0, "dlo:stat?", counts));
        repeat_ = false;
        progress_.SetMinimum(0);
        // A bar with no range shows a busy animation instead of the pass.
        progress_.SetMaximum(std::max(expectedRecords_, int32_t{1}));
        progress_.SetValue(0);
        records_ = 0;
        if (!SendCodeSection(records_)) {
            return PassOutcome::kGiveUp;
        }
        io_.SendQuery("*OPC?");
        return CheckPass();
    }

    // The three checks after a pass, in the order the instrument is asked.
    PassOutcome CheckPass() {
        if (!CheckErrorQueue() || !CheckChecksum()) {
            return PassOutcome::kGiveUp;
        }
        PassOutcome counts = CheckRecordCounts();
        if (counts != PassOutcome::kClean) {
            return counts;
        }
        return repeat_ ? PassOutcome::kRepeat : PassOutcome::kClean;
    }

    // False when the user gives up; a Yes marks the pass for repeating.
    bool CheckErrorQueue() {
        const std::string error = io_.SendQuery("SYST:ERR?");
        Add({error});
        if (StartsWithIgnoringCase(error, "+0")) {
            return true;
        }
        repeat_ = true;
        return AskYes("Error occurred during upload.  Try again? (Y/N)");
    }

    bool CheckChecksum() {
        finalChecksum_ = io_.SendQuery("dlo:csum?");
        if (std::floor(ToDouble(fileChecksum_)) == std::floor(ToDouble(finalChecksum_))) {
            return true;
        }
        repeat_ = true;
        return AskYes("File CheckSum = " + fileChecksum_ + kCrLf +
                      "New  CheckSum = " + finalChecksum_ + kCrLf + kCrLf +
                      "Check Sum does not match entry in INI file!  Try download again? (Y/N)");
    }

    PassOutcome CheckRecordCounts() {
        const std::string counts = io_.SendQuery("dlo:stat?");
        std::vector<std::string> stat = Split(counts, ",");
        const int64_t received =
            int64_t{ToLong(Field(stat, 0, "dlo:stat?", counts))} - startingCount_;
        const int32_t reported = ToLong(Field(stat, 1, "dlo:stat?", counts));
        if (reported == received) {
            return PassOutcome::kClean;
        }
        if (reported != records_) {
            Tell(std::string("The update file is corrupt.  Data records does not match "
                             "expected.") +
                 kCrLf + "You need to get another copy of the update file." + kCrLf);
            return PassOutcome::kGiveUp;
        }
        if (!AskYes(std::string("Records received does not equal records expected!") + kCrLf +
                    "Try download again? (Y/N)")) {
            return PassOutcome::kGiveUp;
        }
        return PassOutcome::kRepeat;
    }

    // Sends [Code] from its first line up to and including the end record
    // (S7, S8 or S9), counting the data records. False when the pass cannot
    // go on (reported).
    bool SendCodeSection(int32_t& records) {
        int32_t lines = 0;
        // However the pass ends (done, refused, cut short by an error), the
        // bar shows the lines sent, not the last multiple of 100.
        struct ShowLinesSent {
            ProgressBar& bar;
            const int32_t& lines;
            ~ShowLinesSent() {
                if (lines % kProgressStep != 0)
                    bar.SetValue(lines);
            }
        } showLinesSent{progress_, lines};
        for (bool endOfRecords = false; !endOfRecords;) {
            if (static_cast<size_t>(lines) == codeLines_.size()) {
                // The check refuses such a section; END is never a record to send.
                Tell(kNoEndRecordText, Icon::kCritical);
                return false;
            }
            const std::string& line = codeLines_[static_cast<size_t>(lines)];
            if (!SendRecord(line, lines)) {
                return false;
            }
            endOfRecords = IsEndRecord(line);
            if (StartsWith(line, "S1") || StartsWith(line, "S2") || StartsWith(line, "S3")) {
                ++records;
            }
            ++lines;
            if (lines % kProgressStep == 0) {
                progress_.SetValue(lines);
                Window().Breathe();
            }
        }
        return true;
    }

    // `linesSent` names the record in the refusal box.
    bool SendRecord(const std::string& record, int32_t linesSent) {
        if (StrictChecking != 1) {
            io_.SendCommand(RecordCommand("dlo", record));
            return true;
        }
        for (int send = 1; send <= kMostSends; ++send) {
            if (!IsRefusal(io_.SendQuery(RecordCommand("dlo?", record)))) {
                return true;
            }
        }
        Tell("Record " + std::to_string(linesSent) + " Failes to load" + kCrLf +
                 "Update file may be corrupt!",
             Icon::kCritical);
        return false;
    }

    void Commit() {
        io_.SendCommand("dlo:comp " + finalChecksum_);
        Add({"Waiting 5 seconds for reset..."});
        Wait(kResetWaitMs);
        Add({"Done waiting!"});
        io_.SendQuery("*OPC?");
        const std::string identification = io_.SendQuery("*IDN?");
        Tell(std::string("Firmware update completed successfully") + kCrLf + identification);
    }

    InstrumentIO& io_;
    ProgressBar& progress_;
    MessageList& messages_;
    StreamVariable stream_;
    std::string name_, model_, revision_;
    std::string instrumentRevision_;
    bool loaderMode_ = false;
    std::string fileChecksum_;
    int32_t expectedRecords_ = 0;
    std::vector<std::string> codeLines_;  // the [Code] lines as checked, before "END"
    int32_t startingCount_ = 0;           // the instrument's running count before the pass
    int32_t records_ = 0;                 // data records sent in the pass
    bool repeat_ = false;
    std::string finalChecksum_;
};

}  // namespace

int32_t UpdateFirmware(std::string& path, InstrumentIO& io, ProgressBar& progress,
                       MessageList& messages) {
    UpdateFilePath = path;
    try {
        return FirmwareUpdate(io, progress, messages).Run();
    } catch (const RuntimeError& error) {
        Window().ShowMessage(error.Description(), Buttons::kOk, Icon::kNone, kRunTimeErrorTitle);
    } catch (const std::exception& error) {
        Window().ShowMessage(error.what(), Buttons::kOk, Icon::kNone, kRunTimeErrorTitle);
    }
    return kUpdateRunTimeError;
}

}  // namespace kestrel
