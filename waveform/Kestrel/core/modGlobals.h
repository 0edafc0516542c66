// The plug-in's update-file routines and the module values they share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "InstrumentIO.h"
#include "TextStream.h"
#include "WindowHooks.h"

namespace kestrel {

// The module values and the window are per thread: the window's thread sets
// them and runs the update there, and a program that runs several updates at
// once gives each its own thread, which then never sees another's file,
// checking or window. StrictChecking is constinit so that every file reads it
// in place, without a per-thread initialisation call.
extern thread_local std::string UpdateFilePath;  // every reopen of the update file uses it
// Set by the setup window, read by UpdateFirmware.
extern constinit thread_local int16_t StrictChecking;

// The window's message boxes, breathing and wait; the window (or a test) sets
// it for the calling thread.
WindowServices& Window();
void SetWindowServices(WindowServices* services);

using StreamVariable = std::unique_ptr<TextStream>;

inline constexpr const char* kBoxTitle = "Firmware Update";
// ClearInstrumentErrors reads at most this many entries.
inline constexpr int kMostErrorEntries = 100;

void OpenUpdateFile(StreamVariable& stream);
// The section header matches ignoring case, the key with case.
int32_t GetIniValue(StreamVariable& stream, const std::string& section, const std::string& key,
                    std::string& value);
int32_t SplitText(const std::string& text, const std::string& delimiter,
                  std::vector<std::string>& target);
// A record line is "S", its type digit and hex digits; any other line that
// begins with "S" is refused like a line that is no record at all. A section
// that passes every other test but does not end with its one end record (S7,
// S8 or S9), after which a download pass ends, is refused too. The lines checked (all before "END")
// go into `checkedLines` when it is given, so that what is sent is exactly
// what was checked.
int16_t CheckCodeSection(StreamVariable& stream, int32_t expectedRecords, MessageList& messages,
                         std::vector<std::string>* checkedLines = nullptr);
void ClearInstrumentErrors(InstrumentIO& io);

// True for the lines that end a download pass: "S7", "S8" or "S9" records.
bool IsEndRecord(const std::string& line);
inline constexpr const char* kNoEndRecordText =
    "The code section does not end with its end record (S7, S8 or S9).\r\n"
    "Update file may be corrupt!";
void ShowDescription(const std::string& path);

// The results of UpdateFirmware.
inline constexpr int32_t kUpdateCommitted = 0;
inline constexpr int32_t kUpdateFailed = 1;  // refused, answered No, or failed; already reported
inline constexpr int32_t kUpdateRunTimeError = 2;
inline constexpr const char* kRunTimeErrorTitle = "FlashWrite Error";

// The whole firmware update over `io`: identifies the instrument, checks the
// update file, asks, downloads the [Code] section pass by pass and commits.
// Every outcome is reported to the user here.
int32_t UpdateFirmware(std::string& path, InstrumentIO& io, ProgressBar& progress,
                       MessageList& messages);

}  // namespace kestrel
