#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "ConsolePlatform.h"
#include "HeldPorts.h"
#include "PortsFile.h"
#include "WritePath.h"

namespace osprey {

void DiscardTypedAhead(FILE* input) {
    int fd = fileno(input);
    if (fd >= 0 && isatty(fd)) {
        tcflush(fd, TCIFLUSH);
    }
}

int OpenLogDescriptor(const char* name, std::string& why) {
    return fileio::OpenForRewriting(name, why);
}

bool NonEmptyRegularFile(const char* name, std::time_t& written) {
    struct stat status {};
    if (::lstat(name, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) {
        return false;
    }
    written = status.st_mtime;
    return true;
}

bool RenameWithoutReplacing(const char* from, const char* to, std::string& why) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return true;
    }
    // A file system without the flag: a second name, then the first one dropped.
    if ((errno == EINVAL || errno == ENOSYS) && ::link(from, to) == 0) {
        ::unlink(from);
        return true;
    }
    why = errno == EEXIST ? "exists" : std::strerror(errno);
    return false;
}

void KeepRunningPastFileLimit() {
    std::signal(SIGXFSZ, SIG_IGN);
}

int OpenAppendDescriptor(const char* path, std::string& why) {
    return fileio::OpenForAppending(path, why);
}

bool IsSameFile(int fd, const char* path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path, &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

std::tm UtcTime(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    return utc;
}

std::optional<std::string> DeviceOfPort(std::string_view devicePath) {
    std::optional<int> number = PortNumberOf(devicePath);
    if (!number) {
        return std::nullopt;
    }
    return LookUpPort(*number, "").device;
}

void ReleasePortsNow() {
    serialio::ReleaseHeldPortsNow();
}

}  // namespace osprey
