// Command-line option parsing of the console updater.
#pragma once

namespace osprey {

inline constexpr const char* kOptionLetters = "?F:HCDA:LV";
inline constexpr const char* kDefaultUpdateFile = "VKR470_105.INI";
inline constexpr const char* kDefaultAddress =
    "COM1::Baud=57600,Parity=NONE,Handshake=DTR_DSR,Size=8";
inline constexpr const char* kProgramVersion = "1.00.04";

extern int optionIndex;             // next word that NextOption examines
extern const char* optionArgument;  // argument of the option last returned

// Returns the option letter, 0 for a word that is not a valid option (or an
// option whose argument is missing), or -1 when no words remain.
int NextOption(int argc, const char* const* argv, const char* letters);

// Resets the parser to the first word after the program name.
void ResetOptions();

// Prints the usage text to standard output and ends the process with status 1.
[[noreturn]] void PrintUsage(const char* programName);

// Prints the version line with the build's date and time.
void PrintVersion();

}  // namespace osprey
