#include "WritePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "RegularFile.h"

namespace fileio {
namespace {

constexpr int kMostLinkHops = 40;

std::string Folder(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsSharedFolder(const struct stat& folder) {
    return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
}

// Every folder on the way to `path` that is a link must be one we may follow.
bool CheckFolders(const std::string& path, std::string& problem) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        struct stat status {};
        if (::lstat(prefix.c_str(), &status) == 0 && S_ISLNK(status.st_mode) &&
            !MayFollowLink(prefix, status.st_uid, problem))
            return false;
    }
    return true;
}

bool ReadLink(const std::string& path, const struct stat& status, std::string& next,
              std::string& problem) {
    std::vector<char> link(static_cast<size_t>(status.st_size > 0 ? status.st_size : 255) + 2);
    ssize_t n = ::readlink(path.c_str(), link.data(), link.size() - 1);
    if (n < 0) {
        problem = "cannot read the link " + path + ": " + std::strerror(errno);
        return false;
    }
    next.assign(link.data(), static_cast<size_t>(n));
    if (!next.starts_with('/'))
        next = Folder(path) + "/" + next;
    return true;
}

}  // namespace

bool MayFollowLink(const std::string& linkPath, unsigned linkOwner, std::string& problem) {
    struct stat folder {};
    if (::stat(Folder(linkPath).c_str(), &folder) != 0 || !IsSharedFolder(folder) ||
        linkOwner == ::geteuid() || linkOwner == folder.st_uid)
        return true;
    problem = linkPath + " is another user's symbolic link in a shared folder; it is not followed";
    return false;
}

bool PathToWrite(const std::string& path, LinkUse use, std::string& target, std::string& problem) {
    target = path;
    if (!CheckFolders(path, problem))
        return false;
    if (use == LinkUse::kReplaceLink)
        return true;
    for (int hop = 0; hop <= kMostLinkHops; ++hop) {
        struct stat status {};
        if (::lstat(target.c_str(), &status) != 0) {
            target = path;  // a chain that ends at no file: nothing is made at its end
            return true;
        }
        if (!S_ISLNK(status.st_mode))
            return true;
        std::string next;
        if (!MayFollowLink(target, status.st_uid, problem) ||
            !ReadLink(target, status, next, problem) || !CheckFolders(next, problem))
            return false;
        target = next;
    }
    problem = "too many levels of symbolic links at " + path;
    return false;
}

bool MakeFolders(const std::string& folder, std::string& problem) {
    std::string target;
    if (folder.empty() || !PathToWrite(folder, LinkUse::kWriteThrough, target, problem))
        return folder.empty();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        problem = error.message();
        return false;
    }
    return true;
}

int OpenForAppending(const std::string& path, std::string& problem) {
    std::string target;
    if (!PathToWrite(path, LinkUse::kWriteThrough, target, problem))
        return -1;
    int fd = ::open(target.c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    0644);
    if (fd < 0) {
        // ELOOP: a link that names no file (O_NOFOLLOW); ENXIO: a FIFO nobody reads.
        problem = errno == ELOOP ? path +
                                       " is a symbolic link to no file; nothing is created "
                                       "through a link"
                  : errno == ENXIO ? path + " is a FIFO, not a regular file"
                                   : path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = path + " is " + FileKind(status.st_mode) + ", not a regular file";
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);  // blocking again, as a regular file is anyway
    return fd;
}

int OpenForRewriting(const std::string& path, std::string& why) {
    if (!CheckFolders(path, why))
        return -1;
    int fd = ::open(path.c_str(),
                    O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // ELOOP is the link O_NOFOLLOW refused; ENXIO a FIFO nobody reads.
        why = errno == ELOOP   ? "it is a symbolic link"
              : errno == ENXIO ? "it is not a regular file"
                               : std::strerror(errno);
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        why = "it is not a regular file";
        ::close(fd);
        return -1;
    }
    if (::ftruncate(fd, 0) != 0) {
        why = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_WRONLY);  // blocking again, as a regular file is anyway
    return fd;
}

bool CheckReplaceable(const std::string& path, LinkUse use, std::string& problem) {
    std::string target;
    if (!PathToWrite(path, use, target, problem))
        return false;
    struct stat file {};
    const bool exists = ::lstat(target.c_str(), &file) == 0;
    if (exists && !S_ISREG(file.st_mode) && !S_ISLNK(file.st_mode)) {
        problem = target + " is " + FileKind(file.st_mode) + ", not a regular file";
        return false;
    }
    const std::string folderPath = Folder(target);
    struct stat folder {};
    if (::stat(folderPath.c_str(), &folder) != 0 ||
        ::access(folderPath.c_str(), W_OK | X_OK) != 0) {
        problem = "cannot write in the folder of " + target;
        return false;
    }
    // In a sticky folder only the file's owner, the folder's owner or root may rename over it.
    const uid_t self = ::geteuid();
    if (exists && (folder.st_mode & S_ISVTX) != 0 && file.st_uid != self && folder.st_uid != self &&
        self != 0) {
        problem = target + " belongs to another user in a sticky folder and cannot be replaced";
        return false;
    }
    return true;
}

}  // namespace fileio
