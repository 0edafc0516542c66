#include <windows.h>

#include "SignalExit.h"

namespace osprey {
namespace {

// The console's events as the signals a POSIX run would get for them.
int SignalOf(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            return kInterruptSignal;
        case CTRL_CLOSE_EVENT:
            return kHangUpSignal;
        default:
            return kTerminateSignal;  // log-off, shut-down
    }
}

// Runs on a thread of its own that the system starts; the run's thread may be
// anywhere, so only what EndInterruptedRun does happens here.
BOOL WINAPI EndOnControlEvent(DWORD event) {
    EndInterruptedRun(SignalOf(event));
}

}  // namespace

void InstallSignalExit() {
    SetConsoleCtrlHandler(EndOnControlEvent, TRUE);
}

}  // namespace osprey
