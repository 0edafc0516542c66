// How Osprey ends on SIGINT, SIGTERM, SIGHUP or SIGPIPE: at once, with the
// port put back and released (settings, exclusive mode, lock file), the log
// closed, a word on stderr about the instrument, and status 128 + signal.
#pragma once

namespace osprey {

void InstallSignalExit();

// The stderr text for a signal; what the handler writes.
const char* SignalExitText(int signal);

}  // namespace osprey
