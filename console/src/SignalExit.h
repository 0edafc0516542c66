// How Osprey ends on a break (SIGINT, SIGTERM, SIGHUP or SIGPIPE; on Windows
// the console's Ctrl-C, Ctrl-Break, close, log-off and shut-down events): at
// once, with the port put back and released, the log closed, a word on stderr
// about the instrument, and status 128 + the signal's number.
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

// The stderr text for a signal; what the handler writes.
const char* SignalExitText(int signal);

// Releases the port, closes the log, writes the result record's interrupted
// line and the stderr text, and ends the process with 128 + signal. Only
// calls that are safe in a signal handler.
[[noreturn]] void EndInterruptedRun(int signal);

}  // namespace osprey
