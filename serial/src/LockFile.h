// UUCP-style lock files, as terminal programs and modem managers on Linux
// take them: "LCK..<device name>" in the lock folder, holding the owner's PID
// as ten ASCII characters and a newline. The file is written whole under a
// name of its own and linked into place, so no other process ever sees it
// empty. A lock whose process is gone is stale and removed, and so is one
// that names this process at a path it never linked (an earlier process with
// the same PID left it); one that names a live process is honoured in any of
// the usual forms (ASCII with or without leading blanks, or the PID as a binary int);
// one that is still empty but was made a moment ago is taken for another
// opener still writing it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace serialio {

// KR470_LOCK_DIR when set (whether or not it is usable: taking a lock there
// says why not), else /run/lock, else /var/lock: the first that is a folder
// this user may write. Empty when there is none (no lock is taken).
std::string LockDirectory();
// True when KR470_LOCK_DIR names the folder: a lock that cannot be made there
// refuses the port.
bool LockDirectoryNamed();

// "LCK..ttyUSB0" for /dev/ttyUSB0 or any link to it; a device in a subfolder
// of /dev has its slashes turned into underscores ("LCK..pts_3").
std::string LockNameFor(std::string_view devicePath);

enum class LockStatus { kTaken, kHeld, kFailed };

struct LockOutcome {
    LockStatus status = LockStatus::kFailed;
    std::string path;     // the lock file, when taken
    pid_t holder = 0;     // the live owner, when held (0: an opener still writing it)
    int error = 0;        // errno, when failed
    std::string problem;  // why no lock could be made, when failed
};

// Takes the device's lock in `folder` for this process.
LockOutcome TakeLock(std::string_view devicePath, const std::string& folder);

// Removes the lock file at `path` if it names this process; a lock another
// process has put there since is left alone. Async-signal-safe.
void ReleaseLock(const char* path);

}  // namespace serialio
