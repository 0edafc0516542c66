// UUCP-style lock files, as terminal programs and modem managers on Linux
// take them: "LCK..<device name>" in the lock folder, holding the owner's PID
// as ten ASCII characters and a newline. A lock whose process is gone is stale
// and removed.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace serialio {

// KR470_LOCK_DIR when set, else /run/lock, else /var/lock: the first that is
// a folder this user may write. Empty when there is none (no lock is taken).
std::string LockDirectory();

// "LCK..ttyUSB0" for /dev/ttyUSB0 or any link to it; a device in a subfolder
// of /dev has its slashes turned into underscores ("LCK..pts_3").
std::string LockNameFor(std::string_view devicePath);

enum class LockStatus { kTaken, kHeld, kFailed };

struct LockOutcome {
    LockStatus status = LockStatus::kFailed;
    std::string path;  // the lock file, when taken
    pid_t holder = 0;  // the live owner, when held
    int error = 0;     // errno, when failed
};

// Takes the device's lock in `folder` for this process.
LockOutcome TakeLock(std::string_view devicePath, const std::string& folder);

}  // namespace serialio
