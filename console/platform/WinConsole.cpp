#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "ConsolePlatform.h"
#include "WinPort.h"

namespace osprey {

void DiscardTypedAhead(FILE* input) {
    int fd = _fileno(input);
    HANDLE handle = fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        FlushConsoleInputBuffer(handle);
    }
}

// Text mode, as the console: the log reads as the screen did, CR LF line ends.
int OpenLogDescriptor(const char* name, std::string& why) {
    int fd = ::_open(name, _O_WRONLY | _O_CREAT | _O_TEXT | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    struct _stat64 status {};
    if (::_fstat64(fd, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
        why = "it is not a regular file";
        ::_close(fd);
        return -1;
    }
    if (::_chsize_s(fd, 0) != 0) {
        why = std::strerror(errno);
        ::_close(fd);
        return -1;
    }
    return fd;
}

bool NonEmptyRegularFile(const char* name, std::time_t& written) {
    struct _stat64 status {};
    if (::_stat64(name, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG ||
        status.st_size == 0) {
        return false;
    }
    written = static_cast<std::time_t>(status.st_mtime);
    return true;
}

bool RenameWithoutReplacing(const char* from, const char* to, std::string& why) {
    if (MoveFileExA(from, to, 0)) {  // without MOVEFILE_REPLACE_EXISTING
        return true;
    }
    const DWORD error = GetLastError();
    why = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? "exists"
                                                                      : "the system refused it";
    return false;
}

void KeepRunningPastFileLimit() {
    // Windows has no file-size signal: a write past a limit fails by itself.
}

int OpenAppendDescriptor(const char* path, std::string& why) {
    int fd = ::_open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                     _S_IREAD | _S_IWRITE);
    struct _stat64 status {};
    if (fd >= 0 && (::_fstat64(fd, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)) {
        ::_close(fd);
        fd = -1;
        errno = EINVAL;
        why = "it is not a regular file";
    } else if (fd < 0) {
        why = std::strerror(errno);
    }
    return fd;
}

bool IsSameFile(int fd, const char* path) {
    HANDLE opened = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    HANDLE named = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    const bool same = opened != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(opened, &a) &&
                      ::GetFileInformationByHandle(named, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    ::CloseHandle(named);
    return same;
}

std::tm UtcTime(std::time_t when) {
    std::tm utc{};
    gmtime_s(&utc, &when);
    return utc;
}

// The port's own name is the device: there is no map to go through.
std::optional<std::string> DeviceOfPort(std::string_view devicePath) {
    return std::string(devicePath);
}

void ReleasePortsNow() {
    ReleaseHeldPortNow();
}

}  // namespace osprey
