#include "SignalExit.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "Console.h"
#include "HeldPorts.h"
#include "RunResult.h"

namespace osprey {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Only async-signal-safe calls from here on: the run may be anywhere.
void EndOnSignal(int signal) {
    serialio::ReleaseHeldPortsNow();
    CloseLogNow();
    WriteInterruptedResult();
    const char* text = SignalExitText(signal);
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
    _exit(128 + signal);
}

}  // namespace

const char* SignalExitText(int signal) {
    switch (signal) {
        case SIGINT:
            return "\nOsprey: interrupted (SIGINT). The port is released. The instrument may still "
                   "be in download mode: run the same update again to recover it.\n";
        case SIGTERM:
            return "\nOsprey: stopped (SIGTERM). The port is released. The instrument may still "
                   "be in download mode: run the same update again to recover it.\n";
        case SIGHUP:
            return "\nOsprey: the terminal went away (SIGHUP). The port is released. The "
                   "instrument may still be in download mode: run the same update again to "
                   "recover it.\n";
        default:
            return "\nOsprey: the output was closed (SIGPIPE). The port is released. The "
                   "instrument may still be in download mode: run the same update again to "
                   "recover it.\n";
    }
}

void InstallSignalExit() {
    struct sigaction action {};
    action.sa_handler = EndOnSignal;
    sigfillset(&action.sa_mask);  // a second signal waits: the first ends the run
    for (int signal : kSignals) {
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace osprey
