#include "Console.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <array>
#include <cctype>
#include <charconv>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ConsolePlatform.h"
#include "Decimal.h"
#include "SerialLink.h"

namespace osprey {

bool strictChecking = false;
bool logEnabled = false;
FILE* logFile = nullptr;

namespace {

// The log's descriptor, for CloseLogNow; -1 when there is none to close.
volatile sig_atomic_t logDescriptor = -1;
// Set once CloseLogNow closed the descriptor under the stream.
volatile sig_atomic_t logClosedNow = 0;

// The name an earlier run's log is kept under: "VlmFirmwareUpdate-" and the
// UTC time it was last written, "-2" and on when that name is taken.
std::string KeptLogName(std::time_t written, int attempt) {
    std::tm utc = UtcTime(written);
    std::array<char, 32> stamp{};
    std::strftime(stamp.data(), stamp.size(), "%Y%m%d-%H%M%S", &utc);
    std::string name = std::string("VlmFirmwareUpdate-") + stamp.data();
    return name + (attempt > 1 ? "-" + std::to_string(attempt) : "") + ".log";
}

// A log an earlier run left is moved aside before this run's log is made, so
// that running again (what the advice says) keeps it. Only a regular file
// with something in it is moved; a name already there is never replaced.
void KeepEarlierLog() {
    std::time_t written = 0;
    if (!NonEmptyRegularFile(kLogFileName, written)) {
        return;
    }
    constexpr int kMostAttempts = 100;
    std::string why;
    for (int attempt = 1; attempt <= kMostAttempts; ++attempt) {
        if (RenameWithoutReplacing(kLogFileName, KeptLogName(written, attempt).c_str(), why)) {
            return;
        }
        if (why != "exists") {
            break;
        }
    }
    std::fprintf(stderr, "Osprey: cannot keep the earlier log file %s: %s; it is replaced.\n",
                 kLogFileName, why.c_str());
}

// Opens the log as the platform allows (see OpenLogDescriptor). -1 when it
// cannot be; that is said on stderr.
int OpenLogFile() {
    KeepEarlierLog();
    std::string why;
    int fd = OpenLogDescriptor(kLogFileName, why);
    if (fd < 0) {
        RefuseLogging(why);
    }
    return fd;
}

// The first failed write ends logging; the run goes on with the screen only.
void GiveUpLogging(int error) {
    std::fprintf(stderr, "Osprey: cannot write log file %s: %s; logging is off.\n", kLogFileName,
                 std::strerror(error));
    StopLogging();
}

void SleepReal(unsigned milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
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
        errno = 0;
        int written = std::vfprintf(logFile, format, copy);
        va_end(copy);
        if ((written < 0 || std::ferror(logFile)) && logEnabled) {
            GiveUpLogging(errno != 0 ? errno : EIO);
        }
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

void RefuseLogging(const std::string& why) {
    std::fprintf(stderr, "Osprey: cannot create log file %s: %s; logging is off.\n", kLogFileName,
                 why.c_str());
}

void StartLogging() {
    StopLogging();
    // Past a file-size limit a write fails (and is reported) instead of ending the run.
    KeepRunningPastFileLimit();
    int fd = OpenLogFile();
    if (fd < 0) {
        return;
    }
    logFile = ::fdopen(fd, "w");
    if (logFile == nullptr) {
        RefuseLogging(std::strerror(errno));
        ::close(fd);
        return;
    }
    // Everything shown goes through at once: an interrupted run keeps its log.
    std::setvbuf(logFile, nullptr, _IONBF, 0);
    logDescriptor = fd;
    logEnabled = true;
}

void StopLogging() {
    logEnabled = false;
    if (logFile != nullptr) {
        // After CloseLogNow the descriptor is gone (and may be reused): leave the stream be.
        if (logClosedNow == 0) {
            std::fclose(logFile);
        }
        logFile = nullptr;
    }
    logDescriptor = -1;
    logClosedNow = 0;
}

void CloseLogNow() {
    logEnabled = false;
    int fd = logDescriptor;
    logDescriptor = -1;
    if (fd >= 0) {
        logClosedNow = 1;
        ::close(fd);
    }
}

}  // namespace osprey
