#include "Options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Console.h"

namespace osprey {

int optionIndex = 1;
const char* optionArgument = nullptr;

void ResetOptions() {
    optionIndex = 1;
    optionArgument = nullptr;
}

int NextOption(int argc, const char* const* argv, const char* letters) {
    optionArgument = nullptr;
    if (optionIndex >= argc) {
        return -1;
    }
    const char* word = argv[optionIndex];
    const char* letterAt = (word[0] == '/' || word[0] == '-') ? word + 1 : word;
    char letter = *letterAt;
    const char* found = letter == '\0' ? nullptr : std::strchr(letters, letter);
    if (found == nullptr) {
        return 0;
    }
    ++optionIndex;
    if (found[1] != ':') {
        return letter;
    }
    if (letterAt[1] != '\0') {
        optionArgument = letterAt + 1;
        return letter;
    }
    if (optionIndex >= argc) {
        return 0;  // the argument is missing
    }
    optionArgument = argv[optionIndex++];
    return letter;
}

void PrintUsage(const char* programName) {
    FILE* out = Console().output;
    std::fprintf(out, "Usage: %s\n", programName);
    std::fprintf(out, "%s /F<filename> [/Aaddress][/C ][/D ][/H ]\n", programName);
    std::fprintf(out, "\tF - INI file with firmware update information, default=%s\n",
                 kDefaultUpdateFile);
    std::fprintf(out, "\tA - I/O Address default=%s\n", kDefaultAddress);
    std::fprintf(out, "\tC - Strict Checking (slower mode) default is off\n");
    std::fprintf(out, "\tD - Prints description of update from INI file, then exits.\n");
    std::fprintf(out, "\tL - Sends all screen output to a logfile.  File name %s.\n", kLogFileName);
    std::fprintf(out, "\tH - This help message.\n");
    std::exit(1);
}

void PrintVersion() {
    std::fprintf(Console().output, "Version %s, Built on %s at %s\n", kProgramVersion, __DATE__,
                 __TIME__);
}

}  // namespace osprey
