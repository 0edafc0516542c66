#include "SignalExit.h"

#include <unistd.h>

#include <cstring>

#include "Console.h"
#include "ConsolePlatform.h"
#include "RunResult.h"

namespace osprey {

void EndInterruptedRun(int signal) {
    ReleasePortsNow();
    CloseLogNow();
    WriteInterruptedResult();
    const char* text = SignalExitText(signal);
    auto ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
    _exit(128 + signal);
}

const char* SignalExitText(int signal) {
    switch (signal) {
        case kInterruptSignal:
            return "\nOsprey: interrupted (SIGINT). The port is released. The instrument may still "
                   "be in download mode: run the same update again to recover it.\n";
        case kTerminateSignal:
            return "\nOsprey: stopped (SIGTERM). The port is released. The instrument may still "
                   "be in download mode: run the same update again to recover it.\n";
        case kHangUpSignal:
            return "\nOsprey: the terminal went away (SIGHUP). The port is released. The "
                   "instrument may still be in download mode: run the same update again to "
                   "recover it.\n";
        default:
            return "\nOsprey: the output was closed (SIGPIPE). The port is released. The "
                   "instrument may still be in download mode: run the same update again to "
                   "recover it.\n";
    }
}

}  // namespace osprey
