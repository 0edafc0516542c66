// Console services of the updater: output copied into the optional log file,
// yes/no prompts, the reset countdown, the progress line and the estimate.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace osprey {

class SerialLink;

// Process-wide state of the console updater.
extern bool strictChecking;  // option C
extern bool logEnabled;      // option L, once the log file is open
extern FILE* logFile;        // "VlmFirmwareUpdate.log"

inline constexpr const char* kLogFileName = "VlmFirmwareUpdate.log";

// Where the console services read answers from and write to. The program
// uses stdin and stdout; tests point them at files of their own.
struct ConsoleStreams {
    FILE* input;
    FILE* output;
};
ConsoleStreams& Console();

// The sleep behind the reset countdown. Tests replace it.
using SleepFunction = void (*)(unsigned milliseconds);
extern SleepFunction sleepMilliseconds;

// Milliseconds per counted second of WaitForReset: the value of
// OSPREY_RESET_STEP_MS when that is a positive number, else 1200.
unsigned ResetStepMilliseconds();

[[gnu::format(printf, 1, 2)]] void TeePrintf(const char* format, ...);

// Returns the first character of the answer line. With anyAnswer false only
// 'Y' or 'N' come back; end of input counts as 'N' (or 0 with anyAnswer).
int PromptUser(const char* text, bool anyAnswer);

void WaitForReset(int seconds);
void ShowProgress(int width, int done, int total, const char* text = nullptr);
void PrintDurationEstimate(uint32_t baudRate);
void PrintDurationEstimate(SerialLink& link);

// Opens the log file and turns logging on. Only a regular file is logged to,
// never through a symbolic link; when the file cannot be created the run goes
// on with screen output only, and that is said once on stderr. The log is
// unbuffered: whatever was shown is in the file. The first failed write to it
// is said once on stderr and ends logging. SIGXFSZ is ignored from here on.
void StartLogging();
void StopLogging();
// Says on stderr that the log cannot be made, and why; logging stays off.
void RefuseLogging(const std::string& why);
// Closes the log at once; safe inside a signal handler. Nothing is lost,
// since every write went through already. StopLogging afterwards is harmless.
void CloseLogNow();

}  // namespace osprey
