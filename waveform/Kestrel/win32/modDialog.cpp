// The file dialog on Windows: the common file dialog through GetOpenFileNameA
// (GetSaveFileNameA in save mode), its record filled in the 8-bit form
// without the later additions (the size the system gave the record before
// its places bar), with no owner window.
#include "DialogPlatform.h"

#include <windows.h>
// after windows.h, which it needs
#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "Win32WindowServices.h"
#include "modGlobals.h"

namespace kestrel {
namespace {

// A whole long path fits: the suggested name is cut to the dialog's designed
// buffer, but the chosen path comes back however long the system allows.
constexpr size_t kChosenPathBuffer = 32768;

std::string CurrentProcessFolder() {
    std::vector<char> folder(MAX_PATH + 1, '\0');
    DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
    if (length >= folder.size()) {
        folder.assign(length + 1, '\0');
        length = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
    }
    return std::string(folder.data(), std::min<size_t>(length, folder.size()));
}

std::string CommonDialogChooser(const FileDialogRequest& request) {
    std::string filter;
    for (const std::string& piece : request.filters)
        filter += piece + '\0';
    filter += '\0';  // ends the list
    std::vector<char> file(kChosenPathBuffer, '\0');
    std::copy(request.suggestedName.begin(), request.suggestedName.end(), file.begin());
    std::vector<char> fileTitle(kFileBufferSize, '\0');

    OPENFILENAMEA record{};
    record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    record.hwndOwner = nullptr;
    record.lpstrFilter = filter.c_str();
    record.nFilterIndex = static_cast<DWORD>(request.filterIndex);
    record.lpstrFile = file.data();
    record.nMaxFile = static_cast<DWORD>(file.size());
    record.lpstrFileTitle = fileTitle.data();
    record.nMaxFileTitle = static_cast<DWORD>(fileTitle.size());
    record.lpstrInitialDir =
        request.initialDirectory.empty() ? nullptr : request.initialDirectory.c_str();
    record.lpstrTitle = request.title.c_str();
    record.Flags = static_cast<DWORD>(request.flags);
    // No default extension at all when none is given: an empty one would
    // have the dialog add the filter's.
    record.lpstrDefExt =
        request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
    const BOOL chosen =
        request.mode == kSaveMode ? GetSaveFileNameA(&record) : GetOpenFileNameA(&record);
    if (!chosen)
        return "";
    return CutAtNul(std::string(file.data(), file.size()));
}

}  // namespace

namespace platform {

std::string ShowFileChooser(const FileDialogRequest& request) {
    return CommonDialogChooser(request);
}

std::string CurrentFolder() {
    return CurrentProcessFolder();
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void ReportDialogError(const std::string& description) {
    win32::ShowMessageBox(nullptr, description, Buttons::kOk, Icon::kNone, kBoxTitle);
}

// Both: the dialog gives backslashes, a typed path may hold either.
const char* PathSeparators() {
    return "\\/";
}

}  // namespace platform
}  // namespace kestrel
