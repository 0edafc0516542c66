#include "SignalExit.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

#include "Console.h"
#include "ConsolePlatform.h"
#include "RunResult.h"

namespace osprey {
namespace {

std::atomic<DownloadPhase> downloadPhase{DownloadPhase::kUntouched};
static_assert(std::atomic<DownloadPhase>::is_always_lock_free);

void WriteToStderr(const char* text) {
    auto ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

}  // namespace

void SetDownloadPhase(DownloadPhase phase) {
    downloadPhase.store(phase);
}

DownloadPhase CurrentDownloadPhase() {
    return downloadPhase.load();
}

void EndInterruptedRun(int signal) {
    ReleasePortsNow();
    CloseLogNow();
    WriteInterruptedResult();
    WriteToStderr(SignalHeadline(signal));
    WriteToStderr(PhaseAdvice(CurrentDownloadPhase()));
    _exit(128 + signal);
}

const char* PhaseAdvice(DownloadPhase phase) {
    switch (phase) {
        case DownloadPhase::kUntouched:
            return " The download had not started: the instrument's firmware is unchanged.\n";
        case DownloadPhase::kDownloading:
            return " The download was not committed: the instrument may now identify as a "
                   "loader (its model beginning with \"loader\"); run the same update again to "
                   "recover it (if that reports a wrong start token, switch the instrument off "
                   "and on first).\n";
        case DownloadPhase::kCommitted:
            break;
    }
    return " The new firmware was committed.\n";
}

const char* SignalHeadline(int signal) {
    switch (signal) {
        case kInterruptSignal:
            return "\nOsprey: interrupted (SIGINT). The port is released.";
        case kTerminateSignal:
            return "\nOsprey: stopped (SIGTERM). The port is released.";
        case kHangUpSignal:
            return "\nOsprey: the terminal went away (SIGHUP). The port is released.";
        default:
            return "\nOsprey: the output was closed (SIGPIPE). The port is released.";
    }
}

}  // namespace osprey
