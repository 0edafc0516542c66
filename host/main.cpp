// A host for in-process components on Linux: registers a library, lists
// what is registered, creates "Kestrel.CWaveform" and calls its getWaveform.
//
//   kestrel-host [--register LIBRARY] [--unregister LIBRARY] [--list]
//
// The registry actions run first, in the order given, and need no display;
// a failed one is said on stderr and ends the run with status 1. With --list
// or --unregister it prints and ends; otherwise it opens its window.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Activation.h"
#include "HostWindow.h"
#include "Registry.h"

namespace {

constexpr const char* kUsage =
    "usage: kestrel-host [--register LIBRARY] [--unregister LIBRARY] [--list]\n";

struct Action {
    enum Kind { kRegister, kUnregister, kList } kind;
    std::string library;
};

// The actions of the command line, or false when it is not understood.
bool ParseActions(int argc, char** argv, std::vector<Action>& actions) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--list") == 0) {
            actions.push_back({Action::kList, ""});
        } else if (std::strcmp(argv[i], "--register") == 0 && i + 1 < argc) {
            actions.push_back({Action::kRegister, argv[++i]});
        } else if (std::strcmp(argv[i], "--unregister") == 0 && i + 1 < argc) {
            actions.push_back({Action::kUnregister, argv[++i]});
        } else {
            return false;
        }
    }
    return true;
}

bool PrintRegistered() {
    kcom::RegistryKeys keys;
    if (std::string error; !kcom::TryReadRegistry(keys, error)) {
        std::fprintf(stderr, "kestrel-host: cannot list the registry: %s\n", error.c_str());
        return false;
    }
    for (const kcom::RegisteredClass& entry : kcom::RegisteredClasses())
        std::printf("%s %s %s %s\n", entry.progId.c_str(), entry.clsid.c_str(),
                    entry.library.c_str(), entry.threadingModel.c_str());
    return true;
}

bool Run(const Action& action) {
    if (action.kind == Action::kList)
        return PrintRegistered();
    std::string error;
    const bool registering = action.kind == Action::kRegister;
    HRESULT result = registering ? kcom::RegisterLibrary(action.library, error)
                                 : kcom::UnregisterLibrary(action.library, error);
    if (FAILED(result)) {
        std::fprintf(stderr, "kestrel-host: cannot %s %s: %s\n",
                     registering ? "register" : "unregister", action.library.c_str(),
                     error.c_str());
        return false;
    }
    if (!registering)
        std::printf("unregistered\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Action> actions;
    if (!ParseActions(argc, argv, actions)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    bool windowWanted = true;
    for (const Action& action : actions) {
        if (!Run(action))
            return 1;
        windowWanted = windowWanted && action.kind == Action::kRegister;
    }
    if (!windowWanted)
        return 0;
    QApplication application(argc, argv);
    host::HostWindow window;
    window.CreateComponent("Kestrel.CWaveform");
    window.show();
    return application.exec();
}
