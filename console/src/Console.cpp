#include "Console.h"

#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Decimal.h"
#include "SerialLink.h"

namespace osprey {

bool strictChecking = false;
bool logEnabled = false;
FILE* logFile = nullptr;

namespace {

void SleepReal(unsigned milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

// Drops what the user typed before the prompt appeared. Only a terminal has
// typed-ahead input; answers piped in by a script are never discarded.
void DiscardTypedAhead(FILE* input) {
    int fd = fileno(input);
    if (fd >= 0 && isatty(fd)) {
        tcflush(fd, TCIFLUSH);
    }
}

// Reads one whole answer line, whatever its length. False at end of input.
bool ReadAnswerLine(FILE* input, std::string& line) {
    line.clear();
    int c = 0;
    while ((c = std::fgetc(input)) != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
    }
    return c != EOF || !line.empty();
}

}  // namespace

SleepFunction sleepMilliseconds = SleepReal;

ConsoleStreams& Console() {
    static ConsoleStreams streams{stdin, stdout};
    return streams;
}

unsigned ResetStepMilliseconds() {
    constexpr unsigned kDefaultStepMs = 1200;
    const char* text = std::getenv("OSPREY_RESET_STEP_MS");
    if (text == nullptr) {
        return kDefaultStepMs;
    }
    // A typing slip must never skip the instrument's restart time.
    std::string_view digits(text);
    unsigned value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    bool whole = error == std::errc() && end == digits.data() + digits.size();
    return whole && value > 0 ? value : kDefaultStepMs;
}

void TeePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (logEnabled && logFile != nullptr) {
        va_list copy;
        va_copy(copy, args);
        std::vfprintf(logFile, format, copy);
        va_end(copy);
    }
    std::vfprintf(Console().output, format, args);
    va_end(args);
    std::fflush(Console().output);
}

int PromptUser(const char* text, bool anyAnswer) {
    std::string line;
    for (;;) {
        DiscardTypedAhead(Console().input);
        TeePrintf("%s", text);
        bool gotLine = ReadAnswerLine(Console().input, line);
        if (anyAnswer) {
            return line.empty() ? 0 : static_cast<unsigned char>(line[0]);
        }
        if (!gotLine) {
            return 'N';  // end of input: never ask forever
        }
        int first = line.empty() ? 0 : std::toupper(static_cast<unsigned char>(line[0]));
        if (first == 'Y' || first == 'N') {
            return first;
        }
    }
}

void WaitForReset(int seconds) {
    TeePrintf("\nWaiting %d seconds for unit to reset...\n", seconds);
    unsigned step = ResetStepMilliseconds();
    for (int i = 1; i <= seconds; ++i) {
        TeePrintf("%d", i);
        sleepMilliseconds(step);
        TeePrintf("\b\b");
    }
    TeePrintf("...done!\n");
}

void ShowProgress(int width, int done, int total, const char* text) {
    double percent = static_cast<double>(done) / total * 100.0;
    int barWidth = width > 1 ? width : 1;
    std::string bar(static_cast<size_t>(barWidth) + 1, '|');
    for (int i = 1; i < barWidth; ++i) {
        bar[static_cast<size_t>(i)] = percent * 0.01 * barWidth > i ? '*' : '-';
    }
    // The longest line is the bar, a blank, "%.2f%%" of any double, and the text.
    std::vector<char> line(bar.size() + 400 + (text ? std::strlen(text) : 0));
    if (text == nullptr) {
        std::snprintf(line.data(), line.size(), "%s %.2f%%", bar.c_str(), percent);
    } else {
        std::snprintf(line.data(), line.size(), "%s %.2f%% %s", bar.c_str(), percent, text);
    }
    TeePrintf("%s", line.data());
    if (done == total) {
        TeePrintf("\nDone!\n");
    } else {
        std::string backspaces(std::strlen(line.data()), '\b');
        TeePrintf("%s", backspaces.c_str());
    }
}

void PrintDurationEstimate(uint32_t baudRate) {
    const char* minutes = nullptr;
    if (baudRate >= 57600) {
        minutes = strictChecking ? "14" : "9";
    } else if (baudRate == 38400) {
        minutes = strictChecking ? "20" : "14";
    } else if (baudRate == 19200) {
        minutes = strictChecking ? "32" : "30";
    } else if (baudRate == 9600) {
        minutes = strictChecking ? "64" : "60";
    } else if (baudRate < 9600) {
        TeePrintf("Warning: Should use baud rate greater than 9600.\n");
        TeePrintf("         This update MAY require a 2 or more hours to complete!\n");
        return;
    }
    if (minutes != nullptr) {
        TeePrintf("The Update will take about %s minutes.\n", minutes);
    }
}

void PrintDurationEstimate(SerialLink& link) {
    PrintDurationEstimate(link.BaudRate());
}

void StartLogging() {
    StopLogging();
    logFile = std::fopen(kLogFileName, "w");
    if (logFile == nullptr) {
        std::fprintf(stderr, "Osprey: cannot create log file %s: %s; logging is off.\n",
                     kLogFileName, std::strerror(errno));
        return;
    }
    // Written through at once: a run ended by a signal keeps all it showed.
    std::setvbuf(logFile, nullptr, _IONBF, 0);
    logEnabled = true;
}

void CloseLogAtSignal() {
    // Only close(): the log is written through, so everything shown is in it.
    if (FILE* file = logFile; file != nullptr) {
        ::close(fileno(file));
    }
}

void StopLogging() {
    if (logFile != nullptr) {
        std::fclose(logFile);
        logFile = nullptr;
    }
    logEnabled = false;
}

}  // namespace osprey
