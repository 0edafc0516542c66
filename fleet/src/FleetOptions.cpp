#include "FleetOptions.h"

#include <getopt.h>

#include <algorithm>
#include <cstdlib>

#include "ToolArgs.h"

namespace fleet {

const char* const kUsageText =
    "Usage: kr470-fleet [OPTION]... --plan FILE\n"
    "   or: kr470-fleet [OPTION]... --update-file FILE ADDRESS...\n"
    "Updates the firmware of many KR470A instruments at once, each through the\n"
    "plug-in's update procedure, and reports what came of each.\n"
    "\n"
    "What to update:\n"
    "  -p, --plan FILE           one row per instrument: ADDRESS UPDATE-FILE [SERIAL]\n"
    "  -f, --update-file FILE    the update file for the addresses given as operands\n"
    "  -n, --dry-run             identify each instrument (*IDN?) and check the update\n"
    "                            file (model, revision, code section); send nothing else\n"
    "\n"
    "How the procedure's questions are answered (defaults are the safe answers):\n"
    "      --yes-same-revision   update an instrument already at the update's revision\n"
    "                            (default: no; such an instrument counts as current)\n"
    "      --yes-older-update    put an older revision on an instrument (default: no)\n"
    "      --retry-passes N      answer yes to \"Try again?\" after a failed pass at most\n"
    "                            N times for each instrument (default 0: give up)\n"
    "      --no-strict           send records without waiting for each one's\n"
    "                            acknowledgement (default: acknowledged; a serial line\n"
    "                            never acknowledges)\n"
    "  The go-ahead (\"Do you want to continue with update?\") is answered yes: running\n"
    "  the tool on the plan is the go-ahead. Any other question is answered no.\n"
    "\n"
    "How it runs:\n"
    "  -j, --jobs N              N updates at once (default: one per distinct port or\n"
    "                            host, at most 64); when the system refuses a thread,\n"
    "                            the updates run on those it gave (none: one at a time)\n"
    "                            (the instruments behind one \"++\" controller one at a time)\n"
    "      --reply-timeout-ms N  how long to wait for each reply (default: the\n"
    "                            procedure's 12000)\n"
    "      --log-dir DIR         one log file per instrument in DIR (default ./fleet-logs)\n"
    "      --json FILE           write the report as JSON to FILE too (checked before\n"
    "                            anything starts; a symbolic link at FILE is replaced,\n"
    "                            never written through)\n"
    "\n"
    "Progress is one line per instrument, redrawn in place on a terminal (what changed,\n"
    "at most four times a second), a plain line at each change with TERM=dumb; when\n"
    "standard output is no terminal it is one JSON object a line and the table goes to\n"
    "standard error. Control bytes in the logs and the table are written as '?'.\n"
    "Ctrl-C (SIGINT, SIGTERM, SIGHUP) stops every update between two records (a wait\n"
    "for an instrument's answer is cut short), never commits an interrupted pass and\n"
    "reports the instruments that may be left in\n"
    "download mode (they may then identify as a loader; the same update run again\n"
    "recovers them, or after switching one off and on if it reports a wrong start\n"
    "token); a second one ends the tool at once. A signal the parent ignores (nohup)\n"
    "stays ignored.\n"
    "\n"
    "An instrument is updated only when its *IDN? after the commit names the update\n"
    "file's model and revision and its serial number from before; else it is\n"
    "unconfirmed, with the reason.\n"
    "\n"
    "Exit status: 0 when every instrument was updated or already current (a dry run:\n"
    "ready or current), 1 when any was not (unconfirmed included), 2 for a refused\n"
    "command line or plan, 3 when stopped on request, 4 when the updates ran but the\n"
    "--json report could not be written.\n"
    "\n"
    "  -h, --help                show this help and exit\n"
    "  -V, --version             show the version and exit\n";

namespace {

enum LongOnly {
    kYesSameRevision = 256,
    kYesOlderUpdate,
    kRetryPasses,
    kNoStrict,
    kReplyTimeout,
    kLogDir,
    kJson,
};

constexpr option kOptions[] = {
    {"plan", required_argument, nullptr, 'p'},
    {"update-file", required_argument, nullptr, 'f'},
    {"dry-run", no_argument, nullptr, 'n'},
    {"jobs", required_argument, nullptr, 'j'},
    {"yes-same-revision", no_argument, nullptr, kYesSameRevision},
    {"yes-older-update", no_argument, nullptr, kYesOlderUpdate},
    {"retry-passes", required_argument, nullptr, kRetryPasses},
    {"no-strict", no_argument, nullptr, kNoStrict},
    {"reply-timeout-ms", required_argument, nullptr, kReplyTimeout},
    {"log-dir", required_argument, nullptr, kLogDir},
    {"json", required_argument, nullptr, kJson},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

constexpr toolargs::Tool kTool("kr470-fleet");

bool TakeNumber(int option, const char* text, FleetOptions& options, std::string& error) {
    long long value = 0;
    const char* name = option == 'j'            ? "--jobs"
                       : option == kRetryPasses ? "--retry-passes"
                                                : "--reply-timeout-ms";
    if (!kTool.Number(name, text, option == 'j' ? 1 : 0, option == kReplyTimeout ? 3600000 : 1000,
                      value, error)) {
        return false;
    }
    if (option == 'j') {
        options.jobs = static_cast<size_t>(value);
    } else if (option == kRetryPasses) {
        options.policy.retryPasses = static_cast<int>(value);
    } else {
        options.policy.replyTimeoutMs = static_cast<int32_t>(value);
    }
    return true;
}

bool TakeOption(int option, const char* value, FleetOptions& options, std::string& error) {
    switch (option) {
        case 'p':
            options.planFile = value;
            return true;
        case 'f':
            options.updateFile = value;
            return true;
        case 'n':
            options.policy.dryRun = true;
            return true;
        case kYesSameRevision:
            options.policy.yesSameRevision = true;
            return true;
        case kYesOlderUpdate:
            options.policy.yesOlderUpdate = true;
            return true;
        case kNoStrict:
            options.policy.strictChecking = false;
            return true;
        case kLogDir:
            options.policy.logFolder = value;
            return true;
        case kJson:
            options.jsonFile = value;
            return true;
        case 'h':
            options.help = true;
            return true;
        case 'V':
            options.version = true;
            return true;
        case 'j':
        case kRetryPasses:
        case kReplyTimeout:
            return TakeNumber(option, value, options, error);
        default:
            error = "unknown option";
            return false;
    }
}

bool CheckInput(const FleetOptions& options, std::string& error) {
    if (!options.planFile.empty() && (!options.updateFile.empty() || !options.addresses.empty())) {
        error = "give either --plan or --update-file with addresses, not both";
    } else if (options.planFile.empty() && options.updateFile.empty()) {
        error = "nothing to update: give --plan FILE, or --update-file FILE and addresses";
    } else if (options.planFile.empty() && options.addresses.empty()) {
        error = "--update-file needs at least one address";
    } else if (options.policy.logFolder.empty()) {
        error = "--log-dir needs a folder";
    }
    return error.empty();
}

}  // namespace

size_t JobsToRun(const FleetOptions& options, size_t distinctHosts) {
    return options.jobs != 0 ? options.jobs : std::min(distinctHosts, kDefaultJobsCap);
}

bool ParseOptions(int argc, char** argv, FleetOptions& options, std::string& error) {
    optind = 1;
    opterr = 0;
    for (int option; (option = getopt_long(argc, argv, "p:f:nj:hV", kOptions, nullptr)) != -1;) {
        if (option == '?' || option == ':') {
            error =
                optopt != 0
                    ? std::string("unknown option or missing value: -") + static_cast<char>(optopt)
                    : std::string("unknown option or missing value: ") + argv[optind - 1];
            return false;
        }
        if (!TakeOption(option, optarg, options, error)) {
            return false;
        }
    }
    options.addresses.assign(argv + optind, argv + argc);
    return options.help || options.version || CheckInput(options, error);
}

}  // namespace fleet
