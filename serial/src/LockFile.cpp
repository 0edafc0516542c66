#include "LockFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace serialio {
namespace {

bool WritableFolder(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           access(path.c_str(), W_OK | X_OK) == 0;
}

// The PID a lock file names, 0 when it names none.
pid_t ReadHolder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return 0;
    }
    std::array<char, 32> text{};
    ssize_t n = ::read(fd, text.data(), text.size() - 1);
    ::close(fd);
    const char* begin = text.data();
    const char* end = begin + (n > 0 ? n : 0);
    while (begin < end && *begin == ' ') {
        ++begin;
    }
    pid_t pid = 0;
    std::from_chars(begin, end, pid);
    return pid > 0 ? pid : 0;
}

bool ProcessAlive(pid_t pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

bool CreateLock(const std::string& path, int& error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = errno;
        return false;
    }
    std::array<char, 16> text{};
    int length = std::snprintf(text.data(), text.size(), "%10d\n", static_cast<int>(getpid()));
    bool written = ::write(fd, text.data(), static_cast<size_t>(length)) == length;
    error = written ? 0 : errno;
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
    }
    return written;
}

}  // namespace

std::string LockDirectory() {
    if (const char* chosen = std::getenv("KR470_LOCK_DIR"); chosen != nullptr && *chosen != '\0') {
        return WritableFolder(chosen) ? std::string(chosen) : std::string();
    }
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        if (WritableFolder(folder)) {
            return folder;
        }
    }
    return {};
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
    LockOutcome outcome;
    outcome.path = folder + "/" + LockNameFor(devicePath);
    // Two tries: the second after removing a stale lock.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (CreateLock(outcome.path, outcome.error)) {
            outcome.status = LockStatus::kTaken;
            return outcome;
        }
        if (outcome.error != EEXIST) {
            break;
        }
        pid_t holder = ReadHolder(outcome.path);
        if (ProcessAlive(holder)) {
            outcome.status = LockStatus::kHeld;
            outcome.holder = holder;
            outcome.path.clear();
            return outcome;
        }
        ::unlink(outcome.path.c_str());
    }
    outcome.status = LockStatus::kFailed;
    outcome.path.clear();
    return outcome;
}

}  // namespace serialio
