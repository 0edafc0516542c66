// The few spots of the console services, the result record and the run's
// sudden end where the operating system shows: one implementation a platform.
#pragma once

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace osprey {

// Drops what the user typed before a prompt appeared. Only a console or
// terminal has typed-ahead input; answers piped in are never discarded.
void DiscardTypedAhead(FILE* input);

// Opens the log file for writing, emptied, only as a regular file and never
// through a link where the platform has them. -1 with `why` (a short reason)
// when it cannot be.
int OpenLogDescriptor(const char* name, std::string& why);

// Whether `name` is a regular file (not a link) with something in it, and
// when it was last written.
bool NonEmptyRegularFile(const char* name, std::time_t& written);

// Renames `from` to `to` unless `to` exists. False with `why` ("exists" when
// `to` is taken, else a short reason).
bool RenameWithoutReplacing(const char* from, const char* to, std::string& why);

// From the first log line or result line on, a write past a file-size limit
// must fail (and be reported) rather than end the run.
void KeepRunningPastFileLimit();

// A descriptor for appending whole lines to `path`, created when missing:
// only a regular file, never blocking, links taken by the tools' one rule
// (fileio/WritePath.h) where the platform has them. -1 with `why` when it
// cannot be opened.
int OpenAppendDescriptor(const char* path, std::string& why);

// Whether the open descriptor `fd` and the file named `path` are one file.
bool IsSameFile(int fd, const char* path);

// The UTC calendar time of `when`.
std::tm UtcTime(std::time_t when);

// The device that stands for the port named `devicePath` ("\\.\COM<n>"), as
// the result record names it.
std::optional<std::string> DeviceOfPort(std::string_view devicePath);

// Puts back and releases every port the run holds; safe in a signal handler.
void ReleasePortsNow();

}  // namespace osprey
