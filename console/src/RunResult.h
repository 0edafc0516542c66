// The result record: with OSPREY_RESULT naming a file, each run that reads
// its options appends exactly one JSON line to it saying how the run ended,
// for scripts: a usage text, /V and /D end with a line of their own. The file
// is opened before anything else is done, and a file that cannot be opened
// for appending (not a regular file, a link another user planted, no
// permission) refuses the run. Otherwise nothing the user sees, the log file
// or the exit status changes with it.
//
// The entry and the procedure feed it through the calls below; each does
// nothing while OSPREY_RESULT is unset.
#pragma once

#include <optional>
#include <string>

namespace osprey {

class SerialLink;

// Before the command line is read: opens OSPREY_RESULT for appending. False,
// said on stderr, when it is set and cannot be opened: the run must end.
bool OpenResultFile();

// Whether `path` names the file OSPREY_RESULT was opened as.
bool IsResultFile(const char* path);

// For a run that ends without trying an update: "usage", "version",
// "described" (or "refused" when /D's update file cannot be opened). Writes
// the line at once; the run ends right after.
void RecordRunWithoutUpdate(const char* result, const std::string& updateFile,
                            const std::string& address);

// At the start of a run that tries an update (after the command line).
void BeginResultRecord(const std::string& updateFile, const std::string& address);

// The port the link opened, so that even a run ended by a signal names it.
void NoteLinkOpened(const SerialLink& link);

// The "*IDN?" reply, before RunUpdate splits it.
void NoteIdentification(const char* reply);

// Each download pass as it starts.
void NotePassStarted();

// Where the download stands: "dlo:start" sent, then "dlo:comp" sent. Kept
// for a signal's text and record even while OSPREY_RESULT is unset.
void NoteDownloadStarted();
void NoteCommitSent();

// RunUpdate's result. A committed update is recorded as "committed": nothing
// is asked after "dlo:comp" unless a confirming query was asked for.
void NoteProcedureResult(int result);

// The confirming query's reply (none when it went unanswered) and why it does
// not confirm the update (empty when it does): "updated" or "unconfirmed".
void NoteConfirmation(const std::optional<std::string>& identification, const std::string& failure);

// A failure that ended the run through the entry's guard, with its message.
void NoteLinkFailure(const char* message);

// Appends the line. `link` may be null (never created).
void FinishResultRecord(const SerialLink* link);

// For a run ended by a signal: appends the line prepared for it, if a record
// was begun: "declined" before "dlo:start", "failed" in download mode,
// "committed" after "dlo:comp". Async-signal-safe.
void WriteInterruptedResult();

}  // namespace osprey
