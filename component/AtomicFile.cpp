#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace kcom {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows in one path

std::string Why(const std::string& path) {
    return path + ": " + std::strerror(errno);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

// Reads up to limit + 1 bytes, so an oversized file shows itself.
bool ReadAll(int fd, size_t limit, std::string& text) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0 || text.size() > limit)
            return true;
        text.append(buffer.data(), static_cast<size_t>(n));
    }
}

// A new file named `prefix` and a fresh suffix, created with O_EXCL and
// without following links: a file or link already under the name is never
// opened. -1 when none could be made.
int CreateExclusively(const std::string& prefix, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        name = prefix + std::to_string(getpid()) + "." +
               std::to_string(static_cast<unsigned long>(now.tv_nsec) ^ ++counter);
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

}  // namespace

FileText ReadSmallFile(const std::string& path, size_t limit) {
    FileText file;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return file;
        return {FileState::kUnreadable, "", Why(path)};
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        file = {FileState::kUnreadable, "", Why(path)};
    } else if (!S_ISREG(status.st_mode)) {
        file = {FileState::kUnreadable, "", path + " is not a regular file"};
    } else if (static_cast<unsigned long long>(status.st_size) > limit) {
        file = {FileState::kUnreadable, "",
                path + " is larger than " + std::to_string(limit) + " bytes"};
    } else if (!ReadAll(fd, limit, file.text)) {
        file = {FileState::kUnreadable, "", Why(path)};
    } else if (file.text.size() > limit) {
        file = {FileState::kUnreadable, "",
                path + " is larger than " + std::to_string(limit) + " bytes"};
    } else {
        file.state = FileState::kRead;
    }
    close(fd);
    return file;
}

std::string WriteTarget(const std::string& path, std::string& error) {
    std::string target = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat status {};
        if (lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return target;  // a file, or nothing yet: written here
        std::vector<char> link(PATH_MAX + 1);
        ssize_t n = readlink(target.c_str(), link.data(), PATH_MAX);
        if (n < 0) {
            error = Why(target);
            return "";
        }
        std::string next(link.data(), static_cast<size_t>(n));
        target = next.starts_with('/') ? next : FolderOf(target) + "/" + next;
    }
    error = path + ": too many levels of symbolic links";
    return "";
}

bool ReplaceFile(const std::string& path, const std::string& text, std::string& error) {
    const std::string target = WriteTarget(path, error);
    if (target.empty())
        return false;
    const size_t slash = target.find_last_of('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary;
    int fd = CreateExclusively(FolderOf(target) + "/." + name + ".new.", temporary);
    if (fd < 0) {
        error = "cannot write beside " + Why(target);
        return false;
    }
    // The new file keeps the old one's permissions; a first one gets the
    // creation mode (0666 less the umask) from its exclusive creation.
    struct stat old {};
    const bool keepMode = stat(target.c_str(), &old) == 0;
    const mode_t mode = old.st_mode & 07777;
    bool ok = (!keepMode || fchmod(fd, mode) == 0) && WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temporary.c_str(), target.c_str()) != 0) {
        error = "cannot write " + Why(target);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace kcom
