#include "RegularFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "ReadOpen.h"

namespace fileio {
namespace {

std::string TooLarge(const std::string& path, uint64_t maxBytes) {
    return path + " is larger than " + std::to_string(maxBytes) + " bytes";
}

}  // namespace

const char* FileKind(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (IsSocket(mode))
        return "a socket";
    return "not a regular file";
}

int OpenRegularFile(const std::string& path, uint64_t maxBytes, std::string& problem,
                    ReadStatus& status) {
    int fd = OpenForReading(path.c_str());
    struct stat file {};
    // Where a folder cannot even be opened for reading (Windows), it is still
    // refused as a folder rather than said to be unreadable.
    if (fd < 0 && errno != ENOENT && ::stat(path.c_str(), &file) == 0 && S_ISDIR(file.st_mode)) {
        status = ReadStatus::kRefused;
        problem = path + " is " + FileKind(file.st_mode) + ", not a regular file";
        return -1;
    }
    if (fd < 0 || ::fstat(fd, &file) != 0) {
        status = errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kUnreadable;
        problem = path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    status = ReadStatus::kRefused;
    if (!S_ISREG(file.st_mode)) {
        problem = path + " is " + FileKind(file.st_mode) + ", not a regular file";
    } else if (static_cast<uint64_t>(file.st_size) > maxBytes) {
        problem = TooLarge(path, maxBytes);
    } else {
        status = ReadStatus::kRead;
        return fd;
    }
    ::close(fd);
    return -1;
}

bool IsNullDevice(const std::string& path) {
    struct stat file {};
    struct stat null {};
    return ::stat(path.c_str(), &file) == 0 && S_ISCHR(file.st_mode) &&
           ::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) && file.st_rdev == null.st_rdev;
}

ReadStatus ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& text,
                           std::string& problem) {
    text.clear();
    ReadStatus status = ReadStatus::kRead;
    int fd = OpenRegularFile(path, maxBytes, problem, status);
    if (fd < 0)
        return status;
    std::array<char, 64 * 1024> buffer{};
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            problem = path + ": " + std::strerror(errno);
            ::close(fd);
            text.clear();
            return ReadStatus::kUnreadable;
        }
        if (n == 0)
            break;
        if (text.size() + static_cast<size_t>(n) > maxBytes) {
            problem = TooLarge(path, maxBytes);
            ::close(fd);
            text.clear();
            return ReadStatus::kRefused;
        }
        text.append(buffer.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadStatus::kRead;
}

}  // namespace fileio
