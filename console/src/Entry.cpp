#include "Entry.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "AddressHint.h"
#include "Confirmation.h"
#include "Console.h"
#include "Description.h"
#include "Options.h"
#include "RunResult.h"
#include "SerialLink.h"
#include "SignalExit.h"
#include "UpdateProcedure.h"

namespace osprey {
namespace {

// The confirming query waits this long: the instrument has had its reset wait.
constexpr uint32_t kConfirmTimeoutMs = 3000;

struct RunSettings {
    std::string updateFile = kDefaultUpdateFile;
    std::string address = kDefaultAddress;
    bool describe = false;
};

// Parses every word, acting on each option at once.
RunSettings ParseCommandLine(int argc, const char* const* argv) {
    const char* programName = argc > 0 && argv[0] != nullptr ? argv[0] : "Osprey";
    RunSettings settings;
    for (int option; (option = NextOption(argc, argv, kOptionLetters)) != -1;) {
        switch (option) {
            case 'F':
                settings.updateFile = optionArgument;
                break;
            case 'A':
                settings.address = optionArgument;
                break;
            case 'C':
                strictChecking = true;
                break;
            case 'D':
                settings.describe = true;
                break;
            case 'L':
                // The screen's log would swallow the result line, or take its name.
                if (IsResultFile(kLogFileName)) {
                    StopLogging();
                    RefuseLogging("it is the result file (OSPREY_RESULT)");
                } else {
                    StartLogging();
                }
                break;
            case 'V':
                RecordRunWithoutUpdate("version", settings.updateFile, settings.address);
                PrintVersion();
                std::exit(0);
            default:
                RecordRunWithoutUpdate("usage", settings.updateFile, settings.address);
                PrintUsage(programName);
        }
    }
    return settings;
}

// OSPREY_CONFIRM set (and not "0"): one "*IDN?" after a commit.
bool ConfirmationRequested() {
    const char* value = std::getenv("OSPREY_CONFIRM");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

// Asks the instrument who it is after the commit and compares that with what
// the update file promised. Says so on stderr only: the screen is the same
// as without the query.
void ConfirmCommit(const std::string& updateFile, const std::string& before, SerialLink& link) {
    std::optional<std::string> after;
    link.SetReplyTimeout(kConfirmTimeoutMs);
    try {
        std::array<char, 256> reply{};
        size_t length = 0;
        link.Query("*IDN?", reply, length);
        after = reply.data();
    } catch (LinkError) {
        // No identification: not confirmed.
    }
    std::optional<UpdatePromise> promise = ReadUpdatePromise(updateFile);
    std::string failure = promise ? ConfirmationFailure(before, after, *promise)
                                  : "the update file could not be read again to compare";
    NoteConfirmation(after, failure);
    if (failure.empty()) {
        std::fprintf(stderr, "Osprey: confirmed: the instrument identifies as %s\n",
                     after->c_str());
    } else {
        std::fprintf(stderr, "Osprey: the update is not confirmed: %s.\n", failure.c_str());
    }
}

void UpdateInstrument(const RunSettings& settings, std::unique_ptr<SerialLink>& link) {
    if (RefuseUnusableUpdateFile(settings.updateFile.c_str())) {
        TeePrintf("\nUpdate of firmware FAILED!\n");
        return;  // the port stays closed
    }
    link = std::make_unique<SerialLink>();
    link->Open(settings.address);
    NoteLinkOpened(*link);
    PrintDurationEstimate(*link);
    size_t sent = 0;
    link->Write("SYST:REM", sent);
    CheckInstrumentErrors(*link);
    std::array<char, 256> identification{};
    size_t length = 0;
    link->Query("*IDN?", identification, length);
    TeePrintf("%s\n", identification.data());
    NoteIdentification(identification.data());
    const std::string before = identification.data();  // RunUpdate splits it in place
    int result = RunUpdate(settings.updateFile.c_str(), identification.data(), *link);
    if (result == 0) {
        TeePrintf("\nSuccessfully updated instrument firmware.\n");
    } else {
        TeePrintf("\nUpdate of firmware FAILED!\n");
    }
    NoteProcedureResult(result);
    if (result == 0 && ConfirmationRequested()) {
        ConfirmCommit(settings.updateFile, before, *link);
    }
}

}  // namespace

const char* LinkErrorMessage(int code) {
    switch (code) {
        case kIoFailure:
            return "\nUnknown I/O error occurred!\n";
        case kTimeout:
            return "\nI/O Timeout error occurred!\nCheck that the KR470 is set to RS-232.\n";
        case kBadParameter:
            return "\nI/O Parameter error occurred!\n";
        default:
            return "\nAn unknown error occurred!\n";
    }
}

int RunProgram(int argc, const char* const* argv) {
    InstallSignalExit();
    if (!OpenResultFile()) {
        return 1;  // refused before anything was started, as a usage error is
    }
    RunSettings settings = ParseCommandLine(argc, argv);
    if (settings.describe) {
        RecordRunWithoutUpdate("described", settings.updateFile, settings.address);
        PrintDescription(settings.updateFile.c_str());
    }
    BeginResultRecord(settings.updateFile, settings.address);
    std::unique_ptr<SerialLink> link;
    try {
        UpdateInstrument(settings, link);
    } catch (LinkError code) {
        NoteLinkFailure(LinkErrorMessage(code));
        if (std::string hint = AddressHint(settings.address); code == kBadParameter) {
            std::fputs(hint.c_str(), stderr);
        }
        TeePrintf("%s", LinkErrorMessage(code));
        TeePrintf("Update of firmware FAILED!\n");
    } catch (...) {
        NoteLinkFailure(LinkErrorMessage(0));
        TeePrintf("%s", LinkErrorMessage(0));
        TeePrintf("Update of firmware FAILED!\n");
    }
    FinishResultRecord(link.get());
    StopLogging();
    link.reset();
    PromptUser("\nPress Enter to exit.", true);
    return 0;
}

}  // namespace osprey
