// How Osprey ends on a break (SIGINT, SIGTERM, SIGHUP or SIGPIPE; on Windows
// the console's Ctrl-C, Ctrl-Break, close, log-off and shut-down events): at
// once, with the port put back and released, the log closed, a word on stderr
// about the instrument, and status 128 + the signal's number. A signal that
// the parent set to be ignored (nohup, a background job) stays ignored.
#pragma once

namespace osprey {

// The signal numbers the exit status and the stderr text go by; the same on
// every platform, so a Windows run ends as a POSIX one would.
inline constexpr int kHangUpSignal = 1;
inline constexpr int kInterruptSignal = 2;
inline constexpr int kPipeSignal = 13;
inline constexpr int kTerminateSignal = 15;

// Installs the platform's handlers (one file a platform).
void InstallSignalExit();

// How far the run has taken the instrument, for what a signal's text says.
enum class DownloadPhase { kUntouched, kDownloading, kCommitted };
void SetDownloadPhase(DownloadPhase phase);
DownloadPhase CurrentDownloadPhase();  // async-signal-safe

// The stderr text for a signal in a phase; what the handler writes.
const char* SignalHeadline(int signal);
const char* PhaseAdvice(DownloadPhase phase);

// Releases the port, closes the log, writes the result record's interrupted
// line and the stderr text, and ends the process with 128 + signal. Only
// calls that are safe in a signal handler.
[[noreturn]] void EndInterruptedRun(int signal);

}  // namespace osprey
