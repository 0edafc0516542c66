#include "LockFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

namespace serialio {
namespace {

// A lock file that is still empty (or only blanks) is another opener's, still
// being written, for this long after it was made; after that it is stale.
constexpr time_t kYoungLockSeconds = 2;

// Rounds of taking, judging and clearing before giving up on a lock file
// that keeps changing under us.
constexpr int kAttempts = 4;

// Names of our own beside the lock: the PID and a number for each use, so
// threads locking several devices at once never share one.
std::string PrivateName(const std::string& folder, const char* kind) {
    static std::atomic<unsigned> uses{0};
    return folder + "/" + kind + std::to_string(getpid()) + "." + std::to_string(uses++);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Nothing yet, or only the blanks that pad a PID: a lock still being written.
bool OnlyBlanks(const char* text, size_t length) {
    for (size_t at = 0; at < length; ++at) {
        if (!IsBlank(text[at])) {
            return false;
        }
    }
    return true;
}

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

// Only blanks and line ends from `at` on: what may follow an ASCII PID.
bool OnlyPadding(const char* text, size_t at, size_t length) {
    for (; at < length; ++at) {
        if (!IsBlank(text[at]) && !IsLineEnd(text[at])) {
            return false;
        }
    }
    return true;
}

// The PID in a lock file's first bytes: ASCII digits after any blanks, or a
// binary int as old UUCP programs wrote it. Four bytes that are not digits
// and padding alone are a binary int, even when the first is a digit. 0 when
// it names none. Async-signal-safe.
pid_t PidInLock(const char* text, size_t length) {
    size_t at = 0;
    while (at < length && IsBlank(text[at])) {
        ++at;
    }
    const size_t first = at;
    long pid = 0;
    for (; at < length && text[at] >= '0' && text[at] <= '9' && pid <= INT_MAX / 10; ++at) {
        pid = pid * 10 + (text[at] - '0');
    }
    const bool binary = length == sizeof(int) && !OnlyPadding(text, at, length);
    if (at > first && !binary) {
        return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
    }
    if (binary) {
        int value = 0;
        std::memcpy(&value, text, sizeof value);
        return value > 0 ? value : 0;
    }
    return 0;
}

// Reads the first bytes of a lock file; -1 when it cannot be opened.
// Async-signal-safe.
ssize_t ReadLock(const char* path, std::array<char, 32>& text) {
    int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    ssize_t n = ::read(fd, text.data(), text.size());
    ::close(fd);
    return n;
}

bool ProcessAlive(pid_t pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// The lock paths this process has linked. A lock elsewhere that names this
// process was written by an earlier one that had the same PID.
class OwnLocks {
  public:
    void Add(const std::string& path) {
        std::lock_guard lock(mutex_);
        paths_.insert(path);
    }
    bool Linked(const std::string& path) {
        std::lock_guard lock(mutex_);
        return paths_.count(path) != 0;
    }

  private:
    std::mutex mutex_;
    std::set<std::string> paths_;
};

OwnLocks& OwnLockPaths() {
    static OwnLocks locks;
    return locks;
}

// A lock naming `pid` belongs to a process that still runs it.
bool HolderLives(const std::string& path, pid_t pid) {
    if (pid == getpid()) {
        return OwnLockPaths().Linked(path);  // another opener in this process, or none
    }
    return ProcessAlive(pid);
}

bool WritableFolder(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           access(path.c_str(), W_OK | X_OK) == 0;
}

// Writes this process's PID into a file of our own and links it to `path`,
// which succeeds only when nothing is there. 0, or the errno.
int LinkLock(const std::string& folder, const std::string& path) {
    const std::string draft = PrivateName(folder, "LTMP.");
    int fd = ::open(draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return errno;
    }
    std::array<char, 16> text{};
    int length = std::snprintf(text.data(), text.size(), "%10d\n", static_cast<int>(getpid()));
    int error = ::write(fd, text.data(), static_cast<size_t>(length)) == length ? 0 : errno;
    ::close(fd);
    if (error == 0 && ::link(draft.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    ::unlink(draft.c_str());
    return error;
}

enum class Found { kNothing, kNotALock, kLive, kBeingWritten, kStale };

// An open file, closed with its owner.
class OpenFile {
  public:
    explicit OpenFile(int fd = -1) : fd_(fd) {}
    OpenFile(OpenFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OpenFile& operator=(OpenFile&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~OpenFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Fd() const { return fd_; }

  private:
    int fd_;
};

struct Existing {
    Found found = Found::kNothing;
    pid_t holder = 0;
    // The lock judged, kept open: while it is, no other file can have its
    // inode, so "the name still leads to it" cannot be fooled by a reused one.
    OpenFile file;
};

// What stands at the lock's name.
Existing Judge(const std::string& path) {
    Existing existing;
    struct stat named {};
    if (lstat(path.c_str(), &named) != 0) {
        return existing;  // gone meanwhile
    }
    if (!S_ISREG(named.st_mode)) {
        existing.found = Found::kNotALock;
        return existing;
    }
    OpenFile file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    std::array<char, 32> text{};
    ssize_t n = -1;
    if (file.Fd() < 0 || fstat(file.Fd(), &opened) != 0 || opened.st_ino != named.st_ino ||
        opened.st_dev != named.st_dev || (n = ::read(file.Fd(), text.data(), text.size())) < 0) {
        return existing;  // replaced meanwhile: look again
    }
    const size_t length = static_cast<size_t>(n);
    existing.holder = PidInLock(text.data(), length);
    if (existing.holder > 0) {
        existing.found = HolderLives(path, existing.holder) ? Found::kLive : Found::kStale;
    } else {
        const bool young = time(nullptr) - opened.st_mtime < kYoungLockSeconds;
        existing.found =
            young && OnlyBlanks(text.data(), length) ? Found::kBeingWritten : Found::kStale;
    }
    existing.file = std::move(file);
    return existing;
}

// Removes the stale lock judged, and only that one. Openers that find it
// stale at once take turns (flock on the stale file itself, held for a
// moment): each removes it only while it still has a name and the lock's
// name leads to it, so a fresh lock that the first one linked in meanwhile is
// never touched. 0 or the errno.
int RemoveStale(const std::string& path, const Existing& stale) {
    const int fd = stale.file.Fd();
    if (flock(fd, LOCK_EX) != 0) {
        return errno;
    }
    int error = 0;
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) == 0 && held.st_nlink > 0 && lstat(path.c_str(), &named) == 0 &&
        named.st_ino == held.st_ino && named.st_dev == held.st_dev && ::unlink(path.c_str()) != 0) {
        error = errno;
    }
    flock(fd, LOCK_UN);  // the next one's turn
    return error;
}

LockOutcome Failed(int error, std::string problem) {
    LockOutcome outcome;
    outcome.error = error;
    outcome.problem = std::move(problem);
    return outcome;
}

}  // namespace

std::string LockDirectory() {
    if (LockDirectoryNamed()) {
        return std::getenv("KR470_LOCK_DIR");
    }
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        if (WritableFolder(folder)) {
            return folder;
        }
    }
    return {};
}

bool LockDirectoryNamed() {
    const char* chosen = std::getenv("KR470_LOCK_DIR");
    return chosen != nullptr && *chosen != '\0';
}

std::string LockNameFor(std::string_view devicePath) {
    std::string path(devicePath);
    std::array<char, PATH_MAX> resolved{};
    if (realpath(path.c_str(), resolved.data()) != nullptr) {
        path = resolved.data();
    }
    std::string_view name = path;
    if (name.starts_with("/dev/")) {
        name.remove_prefix(5);
    } else if (size_t slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    std::string lockName = "LCK..";
    for (char c : name) {
        lockName.push_back(c == '/' ? '_' : c);
    }
    return lockName;
}

LockOutcome TakeLock(std::string_view devicePath, const std::string& folder) {
    const std::string path = folder + "/" + LockNameFor(devicePath);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int error = LinkLock(folder, path);
        if (error == 0) {
            OwnLockPaths().Add(path);
            return {LockStatus::kTaken, path, 0, 0, {}};
        }
        // A live holder counts even where we could not have written a lock ourselves.
        const Existing existing = Judge(path);
        if (existing.found == Found::kLive || existing.found == Found::kBeingWritten) {
            return {LockStatus::kHeld, {}, existing.holder, 0, {}};
        }
        if (error != EEXIST) {
            return Failed(error,
                          "cannot make a lock file in " + folder + ": " + std::strerror(error));
        }
        switch (existing.found) {
            case Found::kLive:
            case Found::kBeingWritten:
                break;  // answered above
            case Found::kNotALock:
                return Failed(EEXIST, path + " is not a lock file (a link, a folder or a device)");
            case Found::kStale:
                if (int refused = RemoveStale(path, existing); refused != 0) {
                    return Failed(refused, "cannot remove the stale lock file " + path + ": " +
                                               std::strerror(refused));
                }
                break;
            case Found::kNothing:
                break;
        }
    }
    return Failed(EAGAIN, "the lock file " + path + " keeps changing");
}

void ReleaseLock(const char* path) {
    std::array<char, 32> text{};
    ssize_t n = ReadLock(path, text);
    if (n > 0 && PidInLock(text.data(), static_cast<size_t>(n)) == getpid()) {
        ::unlink(path);
    }
}

}  // namespace serialio
