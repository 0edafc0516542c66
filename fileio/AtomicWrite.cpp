#include "AtomicWrite.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace fileio {
namespace {

std::string Folder(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Failure(const std::string& what, const std::string& path) {
    return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Makes the rename itself durable; a folder that cannot be synced is no failure.
void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& problem,
                         LinkUse use, mode_t newFileMode) {
    std::string target;
    if (!PathToWrite(path, use, target, problem))
        return false;
    mode_t mode = newFileMode;
    struct stat status {};
    if (::lstat(target.c_str(), &status) == 0 && !S_ISLNK(status.st_mode)) {
        if (!S_ISREG(status.st_mode)) {
            problem = target + " is not a regular file";
            return false;
        }
        mode = status.st_mode & 07777;
    }
    std::string temporary = target + ".new.XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);  // O_EXCL: never an existing name
    if (fd < 0) {
        problem = Failure("create a file beside", target);
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    if (!ok)
        problem = Failure("write", temporary);
    if (::close(fd) != 0 && ok) {
        problem = Failure("write", temporary);
        ok = false;
    }
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        problem = Failure("replace", target);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolder(Folder(target));
    return true;
}

}  // namespace fileio
