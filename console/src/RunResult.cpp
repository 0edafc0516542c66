#include "RunResult.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "Console.h"
#include "ConsolePlatform.h"
#include "IniReader.h"
#include "JsonLine.h"
#include "OutputTap.h"
#include "SerialLink.h"
#include "SignalExit.h"
#include "TextFile.h"

namespace osprey {
namespace {

constexpr size_t kLongestMessage = 2000;

struct RunRecord {
    std::string startTime;
    std::chrono::steady_clock::time_point started;
    std::string updateFile;
    std::string address;
    std::optional<std::string> device;  // once the link is open
    std::optional<std::string> idnBefore;
    std::optional<std::string> idnAfter;
    int passes = 0;
    std::optional<int> procedureResult;
    std::optional<std::string> confirmationFailure;  // set once a confirming query ran
    std::optional<std::string> linkFailure;
    // What the screen showed since the last backspace: prompts end in "_\b"
    // and the progress line and countdown redraw with backspaces, so this is
    // the text of the last message, or empty right after a prompt.
    std::string sinceBackspace;
    FILE* screen = nullptr;  // the console output behind the tap
    std::unique_ptr<OutputTap> tap;
};

std::unique_ptr<RunRecord>& Record() {
    static std::unique_ptr<RunRecord> record;
    return record;
}

// Sees each piece the console writes (one TeePrintf call: it flushes each).
// A piece with a backspace (a prompt, a progress redraw, a countdown step)
// starts a new message; the rest of that piece, such as the ")" after the
// checksum prompt's "_\b", stays with the prompt.
void Watch(std::string_view piece) {
    if (!Record()) {
        return;  // the tap closing as the record goes
    }
    std::string& text = Record()->sinceBackspace;
    if (piece.find('\b') != std::string_view::npos) {
        text.clear();
    } else if (text.size() < kLongestMessage * 2) {
        text.append(piece);
    }
}

std::string UtcNow() {
    std::time_t now = std::time(nullptr);
    std::tm utc = UtcTime(now);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text.data();
}

// Console furniture that is no part of a message: the progress bar and its
// "Done!", the countdown's lines, and the entry's closing verdict.
bool IsFurniture(const std::string& line) {
    return line.starts_with("|") || line == "Done!" || line == "...done!" ||
           line.starts_with("Waiting ") || line == "Update of firmware FAILED!";
}

// The message lines, joined by blanks. The code check's verdict on a sound
// file is progress, so a refusal after it starts afresh.
std::string MessageOf(const std::string& shown) {
    std::istringstream in(shown);
    std::string message;
    for (std::string line; std::getline(in, line);) {
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || IsFurniture(line.substr(first))) {
            continue;
        }
        if (line == "Code section OK.") {
            message.clear();
            continue;
        }
        message += (message.empty() ? "" : " ") + line.substr(first);
    }
    return message.substr(0, kLongestMessage);
}

std::optional<std::string> UpdateRevision(const std::string& updateFile) {
    TextFile file;
    if (!file.Open(updateFile.c_str())) {
        return std::nullopt;
    }
    std::array<char, 30> revision{};
    ReadIniValue(file, "Firmware Info", "Revision", revision);
    return std::string(revision.data());
}

std::optional<std::string> DeviceOf(const SerialLink* link) {
    return link ? DeviceOfPort(link->DevicePath()) : std::nullopt;
}

// committed, updated, unconfirmed, declined, refused or failed, with the
// message for the last three and unconfirmed.
std::pair<const char*, std::optional<std::string>> Outcome(const RunRecord& r) {
    if (r.linkFailure) {
        return {"failed", MessageOf(*r.linkFailure)};
    }
    if (r.procedureResult == 0) {
        if (!r.confirmationFailure) {
            return {"committed", std::nullopt};  // nothing asked after "dlo:comp"
        }
        if (r.confirmationFailure->empty()) {
            return {"updated", std::nullopt};
        }
        return {"unconfirmed", *r.confirmationFailure};
    }
    std::string message = MessageOf(r.sinceBackspace);
    if (r.passes == 0 && message.empty()) {
        return {"declined", std::nullopt};  // the procedure stopped at a prompt
    }
    return {r.passes == 0 ? "refused" : "failed", message};
}

// The record's line with the given ending; `seconds` null for a run ended
// by a signal, whose line is made before it ends.
std::string RecordLine(const RunRecord& r, const SerialLink* link, const char* result,
                       const std::optional<std::string>& message, std::optional<double> seconds) {
    fileio::JsonLine line;
    line.Add("time", r.startTime);
    line.Add("port", r.address);
    line.AddOrNull("device", link ? DeviceOf(link) : r.device);
    line.Add("update_file", r.updateFile);
    line.AddOrNull("revision", UpdateRevision(r.updateFile));
    line.AddOrNull("idn_before", r.idnBefore);
    line.AddOrNull("idn_after", r.idnAfter);
    line.Add("passes", static_cast<long long>(r.passes));
    line.Add("result", result);
    line.AddOrNull("message", message);
    if (seconds) {
        line.AddFixed("seconds", *seconds, 3);
    } else {
        line.AddOrNull("seconds", std::nullopt);
    }
    return line.Text() + "\n";
}

std::string FinishedLine(const RunRecord& r, const SerialLink* link) {
    auto [result, message] = Outcome(r);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - r.started;
    return RecordLine(r, link, result, message, seconds.count());
}

// The line a signal writes: prepared whenever the record changes, so the
// handler only writes bytes. Two buffers, so it never sees a half-made one.
struct PreparedLine {
    std::array<char, 8192> text{};
    size_t length = 0;
};
std::array<PreparedLine, 2> prepared;
std::atomic<int> preparedIndex{-1};
int resultDescriptor = -1;  // OSPREY_RESULT, opened before the command line is read
std::string resultPath;

// One write with O_APPEND, so runs side by side never mix their lines; the
// file is closed with it: a run has one line.
void AppendAndClose(const std::string& line) {
    if (resultDescriptor < 0) {
        return;
    }
    ssize_t written = write(resultDescriptor, line.data(), line.size());
    int error = errno;
    close(resultDescriptor);
    resultDescriptor = -1;
    if (written != static_cast<ssize_t>(line.size())) {
        std::fprintf(stderr, "Osprey: cannot append the result to %s: %s\n", resultPath.c_str(),
                     written < 0 ? std::strerror(error) : "the line was cut short");
    }
}

RunRecord NewRecord(const std::string& updateFile, const std::string& address) {
    RunRecord record;
    record.startTime = UtcNow();
    record.started = std::chrono::steady_clock::now();
    record.updateFile = updateFile;
    record.address = address;
    return record;
}

// What a signal at this point leaves behind.
std::pair<const char*, const char*> InterruptedOutcome() {
    switch (CurrentDownloadPhase()) {
        case DownloadPhase::kUntouched:
            return {"declined",
                    "interrupted by a signal before the download started; the instrument's "
                    "firmware is unchanged"};
        case DownloadPhase::kDownloading:
            return {"failed",
                    "interrupted by a signal; the download was not committed: the instrument "
                    "may now identify as a loader; run the same update again to recover it"};
        case DownloadPhase::kCommitted:
            break;
    }
    return {"committed", "interrupted by a signal after the commit"};
}

void PrepareInterruptedLine() {
    auto [result, message] = InterruptedOutcome();
    const std::string text = RecordLine(*Record(), nullptr, result, message, std::nullopt);
    const int next = preparedIndex.load() == 0 ? 1 : 0;
    if (text.size() > prepared[next].text.size()) {
        return;  // keeps the one before
    }
    std::copy(text.begin(), text.end(), prepared[next].text.begin());
    prepared[next].length = text.size();
    preparedIndex.store(next);
}

}  // namespace

void WriteInterruptedResult() {
    const int index = preparedIndex.load();
    if (index >= 0 && resultDescriptor >= 0) {
        ssize_t ignored =
            write(resultDescriptor, prepared[index].text.data(), prepared[index].length);
        (void)ignored;
    }
}

bool OpenResultFile() {
    const char* path = std::getenv("OSPREY_RESULT");
    if (path == nullptr || *path == '\0') {
        return true;
    }
    resultPath = path;
    std::string why;
    resultDescriptor = OpenAppendDescriptor(path, why);
    if (resultDescriptor < 0) {
        std::fprintf(stderr,
                     "Osprey: cannot append the result to OSPREY_RESULT=%s: %s; "
                     "nothing was started.\n",
                     path, why.c_str());
        return false;
    }
    // A line past a file-size limit fails and is said on stderr; the run is not ended.
    KeepRunningPastFileLimit();
    return true;
}

bool IsResultFile(const char* path) {
    return resultDescriptor >= 0 && IsSameFile(resultDescriptor, path);
}

void RecordRunWithoutUpdate(const char* result, const std::string& updateFile,
                            const std::string& address) {
    if (resultDescriptor < 0) {
        return;
    }
    RunRecord record = NewRecord(updateFile, address);
    std::optional<std::string> message;
    if (std::string_view(result) == "described") {
        TextFile file;
        if (!file.Open(updateFile.c_str())) {
            result = "refused";
            message = "Error:: Could not open INI file " + updateFile + ".";
        }
    }
    AppendAndClose(RecordLine(record, nullptr, result, message, 0.0));
}

void BeginResultRecord(const std::string& updateFile, const std::string& address) {
    if (resultDescriptor < 0) {
        return;
    }
    auto record = std::make_unique<RunRecord>(NewRecord(updateFile, address));
    record->screen = Console().output;
    record->tap = std::make_unique<OutputTap>(record->screen, Watch);
    Record() = std::move(record);
    if (Record()->tap->Stream() != nullptr) {
        Console().output = Record()->tap->Stream();
    }
    PrepareInterruptedLine();
}

void NoteLinkOpened(const SerialLink& link) {
    if (Record()) {
        Record()->device = DeviceOf(&link);
        PrepareInterruptedLine();
    }
}

void NoteIdentification(const char* reply) {
    if (Record()) {
        Record()->idnBefore = reply;
        Record()->sinceBackspace.clear();
        PrepareInterruptedLine();
    }
}

void NotePassStarted() {
    if (Record()) {
        ++Record()->passes;
        PrepareInterruptedLine();
    }
}

void NoteDownloadStarted() {
    SetDownloadPhase(DownloadPhase::kDownloading);
    if (Record()) {
        PrepareInterruptedLine();
    }
}

void NoteCommitSent() {
    SetDownloadPhase(DownloadPhase::kCommitted);
    if (Record()) {
        PrepareInterruptedLine();
    }
}

void NoteProcedureResult(int result) {
    if (Record()) {
        Record()->procedureResult = result;
    }
}

void NoteConfirmation(const std::optional<std::string>& identification,
                      const std::string& failure) {
    if (Record()) {
        Record()->idnAfter = identification;
        Record()->confirmationFailure = failure;
    }
}

void NoteLinkFailure(const char* message) {
    if (Record()) {
        Record()->linkFailure = message;
    }
}

void FinishResultRecord(const SerialLink* link) {
    if (!Record()) {
        return;
    }
    preparedIndex.store(-1);  // from here the run's own line is written
    std::fflush(Console().output);
    Console().output = Record()->screen;
    AppendAndClose(FinishedLine(*Record(), link));
    Record().reset();
}

}  // namespace osprey
