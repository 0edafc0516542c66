// A host for in-process components on Linux: registers a library, lists
// what is registered, creates "Kestrel.CWaveform" and calls its getWaveform.
//
//   kestrel-host [--register LIBRARY] [--unregister LIBRARY] [--list]
//
// With --list or --unregister it prints and ends; otherwise it opens its window.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "HostWindow.h"
#include "Registry.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrel-host [--register LIBRARY] [--unregister LIBRARY] [--list]\n");
    return 2;
}

int PrintRegistered() {
    for (const kcom::RegisteredClass& entry : kcom::RegisteredClasses())
        std::printf("%s %s %s %s\n", entry.progId.c_str(), entry.clsid.c_str(),
                    entry.library.c_str(), entry.threadingModel.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    host::HostWindow window;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--list") == 0)
            return PrintRegistered();
        if (i + 1 >= argc)
            return Usage();
        std::string error;
        if (std::strcmp(argv[i], "--register") == 0) {
            window.RegisterLibrary(argv[++i]);
        } else if (std::strcmp(argv[i], "--unregister") == 0) {
            HRESULT result = kcom::UnregisterLibrary(argv[++i], error);
            std::printf("%s\n", SUCCEEDED(result) ? "unregistered" : error.c_str());
            return SUCCEEDED(result) ? 0 : 1;
        } else {
            return Usage();
        }
    }
    window.CreateComponent("Kestrel.CWaveform");
    window.show();
    return application.exec();
}
