#include <signal.h>

#include "SignalExit.h"

namespace osprey {
namespace {

static_assert(SIGHUP == kHangUpSignal && SIGINT == kInterruptSignal && SIGPIPE == kPipeSignal &&
              SIGTERM == kTerminateSignal);

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void EndOnSignal(int signal) {
    EndInterruptedRun(signal);
}

}  // namespace

void InstallSignalExit() {
    struct sigaction action {};
    action.sa_handler = EndOnSignal;
    sigfillset(&action.sa_mask);  // a second signal waits: the first ends the run
    for (int signal : kSignals) {
        // What the parent ignores stays ignored: nohup, a background job's SIGINT.
        struct sigaction inherited {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace osprey
