// A host for in-process components on Linux: registers a library, lists
// what is registered, creates "Kestrel.CWaveform" and calls its getWaveform.
//
//   kestrel-host [--register LIBRARY] [--unregister LIBRARY] [--list]
//   kestrel-host --help | --version
//
// The registry actions run first, in the order given, and need no display;
// a failed one is said on stderr and ends the run with status 1. With --list
// or --unregister it prints and ends; otherwise it opens its window, and
// without a display says what to do and ends with status 1. A command line
// it does not understand is said on stderr with status 2.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Activation.h"
#include "HostWindow.h"
#include "Registry.h"

namespace {

constexpr const char* kName = "kestrel-host";
constexpr const char* kVersion = "1.0";

struct Action {
    enum Kind { kRegister, kUnregister, kList } kind;
    std::string library;
};

void DescribeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "Registers, lists and unregisters in-process components, and opens a window that creates "
        "Kestrel.CWaveform and calls its getWaveform.\nThe registry actions run first, in the "
        "order given; with --list or --unregister it ends after them.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({"register", "Register the component library LIBRARY first.", "LIBRARY"});
    parser.addOption({"unregister", "Remove LIBRARY's registration and exit.", "LIBRARY"});
    parser.addOption({"list", "Print each registered class and exit."});
}

// The registry actions in the order given (the parser keeps each option's
// values in order, and the order the options came in).
std::vector<Action> ActionsOf(const QCommandLineParser& parser) {
    std::vector<Action> actions;
    const QStringList registered = parser.values("register");
    const QStringList unregistered = parser.values("unregister");
    qsizetype nextRegister = 0, nextUnregister = 0;
    for (const QString& name : parser.optionNames()) {
        if (name == "list")
            actions.push_back({Action::kList, ""});
        else if (name == "register" && nextRegister < registered.size())
            actions.push_back({Action::kRegister, registered[nextRegister++].toStdString()});
        else if (name == "unregister" && nextUnregister < unregistered.size())
            actions.push_back({Action::kUnregister, unregistered[nextUnregister++].toStdString()});
    }
    return actions;
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

// What the registry holds, to tell whether an action changed it.
std::vector<std::string> RegisteredClassIds() {
    std::vector<std::string> ids;
    for (const kcom::RegisteredClass& entry : kcom::RegisteredClasses())
        ids.push_back(entry.clsid + " " + entry.library);
    return ids;
}

bool Run(const Action& action) {
    if (action.kind == Action::kList)
        return PrintRegistered();
    std::string error;
    const bool registering = action.kind == Action::kRegister;
    const std::vector<std::string> before =
        registering ? std::vector<std::string>() : RegisteredClassIds();
    HRESULT result = registering ? kcom::RegisterLibrary(action.library, error)
                                 : kcom::UnregisterLibrary(action.library, error);
    if (FAILED(result)) {
        std::fprintf(stderr, "kestrel-host: cannot %s %s: %s\n",
                     registering ? "register" : "unregister", action.library.c_str(),
                     error.c_str());
        return false;
    }
    if (!registering) {
        if (RegisteredClassIds() == before)
            std::printf("%s was not registered: nothing to unregister\n", action.library.c_str());
        else
            std::printf("unregistered\n");
    }
    return true;
}

// The toolkit ends the process when no display answers; say what to do instead.
QtMessageHandler toolkitHandler = nullptr;
void ExplainMissingDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (toolkitHandler != nullptr)
        toolkitHandler(type, context, text);
    if (type != QtFatalMsg)
        return;
    std::fprintf(stderr,
                 "kestrel-host: no display to open the window on. Run it in a desktop session, "
                 "or without one as: xvfb-run -a kestrel-host\n");
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(kName);
    QCoreApplication::setApplicationVersion(kVersion);
    QCommandLineParser parser;
    DescribeOptions(parser);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        const QString problem = parser.positionalArguments().isEmpty()
                                    ? parser.errorText()
                                    : "unexpected argument " + parser.positionalArguments().front();
        std::fprintf(stderr, "kestrel-host: %s\nTry 'kestrel-host --help'.\n",
                     problem.toLocal8Bit().constData());
        return 2;
    }
    if (parser.isSet("help") || parser.isSet("help-all")) {
        // Without an application object the parser cannot know the program's name.
        QString help = parser.helpText();
        help.replace("<executable_name>", kName);
        std::fputs(help.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet("version")) {
        std::printf("%s %s\n", kName, kVersion);
        return 0;
    }
    bool windowWanted = true;
    for (const Action& action : ActionsOf(parser)) {
        if (!Run(action))
            return 1;
        windowWanted = windowWanted && action.kind == Action::kRegister;
    }
    if (!windowWanted)
        return 0;
    toolkitHandler = qInstallMessageHandler(ExplainMissingDisplay);
    QApplication application(argc, argv);
    qInstallMessageHandler(toolkitHandler);
    host::HostWindow window;
    window.CreateComponent("Kestrel.CWaveform");
    window.show();
    return application.exec();
}
