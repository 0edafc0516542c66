// kr470-fleet: many instruments updated at once through the plug-in's update
// procedure, with a report at the end.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <kio/HeldPorts.h>

#include "AtomicWrite.h"
#include "FleetOptions.h"
#include "FleetRun.h"
#include "PortKey.h"
#include "Printable.h"
#include "Report.h"

namespace {

using namespace fleet;

StopSignal* stopSignal = nullptr;
std::atomic<int> signalsSeen{0};

// The first signal asks every update to stop between records; a second one
// ends the tool at once.
void OnSignal(int number) {
    if (signalsSeen.fetch_add(1) > 0) {
        kio::ReleaseHeldPortsNow();  // settings, exclusive mode and lock files put back
        signal(number, SIG_DFL);
        raise(number);
        return;
    }
    stopSignal->Request();
}

void CatchSignals(StopSignal& stop) {
    stopSignal = &stop;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        // What the parent ignores stays ignored: nohup, a background job's SIGINT.
        struct sigaction inherited {};
        if (sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(number, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);  // a closed output must not end an update half-way
    signal(SIGXFSZ, SIG_IGN);  // nor a log past the file-size limit: that log stops instead
}

BoardSize TerminalSize() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return {};
    }
    return {size.ws_row, size.ws_col};
}

// A refusal may quote the plan: its control bytes are shown as '?'.
int Refuse(const std::string& why) {
    std::fprintf(stderr, "kr470-fleet: %s\n", Printable(why).c_str());
    return kUsage;
}

// The plan's rows, or a refusal said on standard error.
bool LoadPlan(const FleetOptions& options, std::vector<PlanRow>& rows, std::vector<PortKey>& keys) {
    try {
        rows = options.planFile.empty() ? PlanFromAddresses(options.addresses, options.updateFile)
                                        : ReadPlanFile(options.planFile);
    } catch (const PlanError& error) {
        Refuse(error.what());
        return false;
    }
    keys = KeysOfRows(rows);
    std::vector<std::string> clashes = SharedPorts(rows, keys);
    for (const std::string& clash : clashes) {
        Refuse(clash);
    }
    if (!clashes.empty()) {
        Refuse("two rows name the same port; nothing was started");
        return false;
    }
    return true;
}

bool MakeLogFolder(const std::string& folder) {
    std::string problem;
    if (!fileio::MakeFolders(folder, problem)) {
        Refuse("cannot make the log folder " + folder + ": " + problem);
        return false;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        Refuse("cannot write in the log folder " + folder);
        return false;
    }
    return true;
}

// The JSON report is checked before anything starts: found unwritable only at
// the end, it would be lost after the updates had run. It never replaces the
// plan or an update file, and a link at its name is replaced, never written
// through.
bool CheckJsonFile(const FleetOptions& options, const std::vector<PlanRow>& rows) {
    std::string problem;
    if (options.jsonFile.empty()) {
        return true;
    }
    std::error_code error;
    if (!fileio::CheckReplaceable(options.jsonFile, fileio::LinkUse::kReplaceLink, problem)) {
        Refuse("the JSON report cannot be written: " + problem);
        return false;
    }
    if (!options.planFile.empty() &&
        std::filesystem::equivalent(options.planFile, options.jsonFile, error)) {
        Refuse("the JSON report cannot be written: " + options.jsonFile + " is the plan file");
        return false;
    }
    for (const PlanRow& row : rows) {
        if (std::filesystem::equivalent(row.updateFile, options.jsonFile, error)) {
            Refuse("the JSON report cannot be written: " + options.jsonFile +
                   " is the update file of " + row.address);
            return false;
        }
    }
    return true;
}

int Report(const FleetOptions& options, const std::vector<JobReport>& reports, bool stopped,
           bool onTerminal) {
    const int status = ExitStatus(reports, stopped, options.policy.dryRun);
    std::ostream& tableOut = onTerminal ? std::cout : std::cerr;
    tableOut << '\n' << SummaryTable(reports) << std::flush;
    if (!onTerminal) {
        for (const JobReport& report : reports) {
            std::cout << JsonObject(report) << '\n';
        }
        std::cout << std::flush;
    }
    std::string problem;
    if (!options.jsonFile.empty() &&
        !fileio::WriteFileAtomically(options.jsonFile, JsonReport(reports, status), problem,
                                     fileio::LinkUse::kReplaceLink)) {
        std::fprintf(stderr, "kr470-fleet: the JSON report was not written: %s\n", problem.c_str());
        return kReportLost;
    }
    return status;
}

int Main(int argc, char** argv) {
    FleetOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        Refuse(error);
        std::fputs("Try 'kr470-fleet --help' for more information.\n", stderr);
        return kUsage;
    }
    if (options.help || options.version) {
        std::fputs(options.help ? kUsageText : "kr470-fleet 1.0\n", stdout);
        return 0;
    }
    std::vector<PlanRow> rows;
    std::vector<PortKey> keys;
    if (!LoadPlan(options, rows, keys) || !MakeLogFolder(options.policy.logFolder) ||
        !CheckJsonFile(options, rows)) {
        return kUsage;
    }
    StopSignal stop;
    CatchSignals(stop);
    const bool onTerminal = isatty(STDOUT_FILENO) == 1;
    std::vector<std::string> addresses;
    for (const PlanRow& row : rows) {
        addresses.push_back(row.address);
    }
    ProgressBoard board(std::cout, BoardModeFor(onTerminal, std::getenv("TERM")), addresses,
                        TerminalSize());
    std::unique_ptr<kestrel::IOFactory> factory = kestrel::CreateIOFactory();
    const size_t jobs = JobsToRun(options, DistinctHosts(keys));
    std::vector<std::string> lines;
    for (const PortKey& key : keys) {
        lines.push_back(key.line);
    }
    std::vector<JobReport> reports =
        RunFleet(rows, lines, jobs, {options.policy, *factory, stop, board}, std::cerr);
    board.Finish();
    return Report(options, reports, stop.Requested(), onTerminal);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::exception& error) {
        // Only after the stack has unwound: every port opened is closed and put back.
        std::fprintf(stderr, "kr470-fleet: %s\n", error.what());
        return kSomeNotDone;
    }
}
