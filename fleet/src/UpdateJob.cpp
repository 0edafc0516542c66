#include "UpdateJob.h"

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "Confirmation.h"
#include "ConsoleWindow.h"
#include "GuardedIO.h"
#include "RuntimeError.h"
#include "Text.h"
#include "TextStream.h"
#include "modGlobals.h"
#include "modTimer.h"

namespace fleet {
namespace {

// The procedure's per-thread values for the life of one job.
class ThreadSetup {
  public:
    ThreadSetup(ConsoleWindow& window, bool strict, const StopSignal& stop) {
        kestrel::SetWindowServices(&window);
        kestrel::StrictChecking = strict ? 1 : 0;
        // The resets' waits end at once on a stop; the next command then halts.
        kestrel::SetWaitHook([&stop](int32_t ms) { stop.WaitFor(kestrel::CappedWait(ms)); });
    }
    ~ThreadSetup() {
        kestrel::SetWaitHook({});
        kestrel::SetWindowServices(nullptr);
        kestrel::StrictChecking = 1;
        kestrel::UpdateFilePath.clear();
    }
};

const char* PhaseState(Phase phase) {
    return phase == Phase::kCommitted ? "committing" : "resetting";
}

// What the procedure's result, the guard and the window say together.
void Classify(JobReport& report, int32_t result, const GuardedIO& io, const ConsoleWindow& window,
              bool dryRun) {
    report.message = window.LastNotice();
    switch (io.Halted()) {
        case HaltReason::kStopped:
            report.outcome = Outcome::kStopped;
            break;
        case HaltReason::kWrongSerial:
            report.outcome = Outcome::kRefused;
            break;
        case HaltReason::kDryRunDone:
            report.outcome = window.RevisionDeclined() ? Outcome::kCurrent : Outcome::kReady;
            report.message.clear();
            break;
        case HaltReason::kNone:
            if (result == kestrel::kUpdateCommitted) {
                report.outcome = Outcome::kUpdated;
                report.message.clear();
            } else if (io.CurrentPhase() == Phase::kCommitted) {
                report.outcome = Outcome::kUnconfirmed;
                report.message =
                    "committed, but no identification after the commit: " + report.message;
            } else if (io.CurrentPhase() != Phase::kIdle) {
                report.outcome = Outcome::kFailed;
            } else {
                report.outcome =
                    result == kestrel::kUpdateRunTimeError ? Outcome::kFailed : Outcome::kRefused;
            }
            break;
    }
    // An instrument already at the update's revision needs nothing: declined is success.
    const bool stoppedAtRevision =
        dryRun ? io.Halted() == HaltReason::kDryRunDone : io.Halted() == HaltReason::kNone;
    if (window.RevisionDeclined() && stoppedAtRevision) {
        const bool same = window.RevisionAsked() == RevisionQuestion::kSameRevision;
        report.outcome = same ? Outcome::kCurrent : Outcome::kRefused;
        report.message = same ? "already at the update's revision"
                              : "the instrument's revision is newer than the update's";
    }
    report.mayBeInDownloadMode = io.CurrentPhase() == Phase::kDownloading;
    const bool done = report.outcome == Outcome::kUpdated || report.outcome == Outcome::kReady ||
                      report.outcome == Outcome::kCurrent;
    if (!done && report.message.empty()) {  // every failure's reason is in the report
        report.message = report.outcome == Outcome::kStopped
                             ? "stopped on request"
                             : "the update procedure ended with result " + std::to_string(result) +
                                   " without saying why";
    }
}

// Why the update file cannot be read as the procedure would read it, or "".
std::string UnreadableFile(const std::string& path) {
    try {
        kestrel::TextStream::OpenTextFile(path);
    } catch (const kestrel::RuntimeError& error) {
        return error.Description();
    }
    return "";
}

// An update is only updated when the instrument comes back as the update
// file promised; else it is unconfirmed, with the reason.
void ConfirmIdentification(JobReport& report, const std::string& updateFile) {
    std::optional<osprey::UpdatePromise> promise = osprey::ReadUpdatePromise(updateFile);
    std::string failure =
        promise ? osprey::ConfirmationFailure(report.identificationBefore.value_or(""),
                                              report.identificationAfter, *promise)
                : "the update file could not be read again to compare";
    if (!failure.empty()) {
        report.outcome = Outcome::kUnconfirmed;
        report.message = failure;
        // Its loader still answers (in any case, as the procedure judges it):
        // the commit did not take.
        const std::string after = report.identificationAfter.value_or("");
        const size_t comma = after.find(',');
        report.mayBeInDownloadMode =
            comma != std::string::npos &&
            kestrel::StartsWithIgnoringCase(std::string_view(after).substr(comma + 1), "loader");
    }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::kUpdated:
            return "updated";
        case Outcome::kCurrent:
            return "current";
        case Outcome::kReady:
            return "ready";
        case Outcome::kRefused:
            return "refused";
        case Outcome::kFailed:
            return "failed";
        case Outcome::kUnconfirmed:
            return "unconfirmed";
        case Outcome::kStopped:
            break;
    }
    return "stopped";
}

std::string LogFileName(size_t index, const std::string& address) {
    std::array<char, 16> number{};
    std::snprintf(number.data(), number.size(), "%02zu-", index + 1);
    std::string name = number.data();
    for (char c : address) {
        const bool plain =
            std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    return name + ".log";
}

namespace {

JobReport NewReport(const PlanRow& row) {
    JobReport report;
    report.address = row.address;
    report.updateFile = row.updateFile;
    return report;
}

}  // namespace

JobReport NotStarted(const PlanRow& row) {
    JobReport report = NewReport(row);
    report.outcome = Outcome::kStopped;
    report.message = "not started: stopped on request";
    return report;
}

JobReport RunJob(const PlanRow& row, size_t index, const JobContext& context) {
    const auto start = std::chrono::steady_clock::now();
    JobReport report = NewReport(row);
    report.logFile =
        (std::filesystem::path(context.policy.logFolder) / LogFileName(index, row.address))
            .string();
    ConsoleWindow window(context.policy, context.board, index, report.logFile);
    if (!window.LogOpen()) {
        report.logFile.clear();  // the report names no log that is not there
    }
    window.Log(std::string(context.policy.dryRun ? "Dry run of " : "Update of ") + row.address +
               " with " + row.updateFile);
    // A file that cannot be read is found before the instrument is opened.
    if (std::string why = UnreadableFile(row.updateFile); !why.empty()) {
        report.outcome = Outcome::kRefused;
        report.message = why;
        window.Log("Cannot read the update file: " + why);
        window.Log("Result: refused (" + why + ")");
        report.seconds = SecondsSince(start);
        context.board.SetState(index, OutcomeName(report.outcome), true);
        return report;
    }
    ThreadSetup setup(window, context.policy.strictChecking, context.stop);
    context.board.SetState(index, "opening");
    std::unique_ptr<kestrel::InstrumentIO> opened;
    try {
        opened = context.factory.OpenInstrument(row.address);
    } catch (const std::exception& error) {
        report.message = error.what();
        window.Log("Cannot open: " + report.message);
        report.seconds = SecondsSince(start);
        context.board.SetState(index, OutcomeName(report.outcome), true);
        return report;
    }
    GuardSettings guard{context.policy.dryRun, row.expectedSerial, context.policy.replyTimeoutMs};
    GuardedIO io(std::move(opened), guard, context.stop,
                 [&](Phase phase) { context.board.SetState(index, PhaseState(phase)); });
    context.board.SetState(index, "identifying");
    std::string path = row.updateFile;
    int32_t result = kestrel::UpdateFirmware(path, io, window, window);
    Classify(report, result, io, window, context.policy.dryRun);
    report.identificationBefore = io.IdentificationBefore();
    if (report.outcome == Outcome::kUpdated || report.outcome == Outcome::kUnconfirmed) {
        report.identificationAfter = io.IdentificationAfter();
    }
    if (report.outcome == Outcome::kUpdated) {
        ConfirmIdentification(report, row.updateFile);
    }
    report.passes = window.Passes();
    report.seconds = SecondsSince(start);
    window.Log(std::string("Result: ") + OutcomeName(report.outcome) +
               (report.message.empty() ? "" : " (" + report.message + ")"));
    context.board.SetState(index, OutcomeName(report.outcome), true);
    return report;
}

}  // namespace fleet
