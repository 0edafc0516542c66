// The file dialog and the file-open helper that remembers the folder of the
// last pick in the user's settings. Every routine reports its own errors in a
// box and never raises one to its caller.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrel {

// The dialog's flags, with their published values.
inline constexpr int32_t kHideReadOnly = 0x4;
inline constexpr int32_t kNoChangeDir = 0x8;
inline constexpr int32_t kFileMustExist = 0x1000;
inline constexpr int32_t kOpenFlags = kFileMustExist | kNoChangeDir | kHideReadOnly;  // 0x100C

inline constexpr int16_t kOpenMode = 1;
inline constexpr int16_t kSaveMode = 2;
// The dialog's file buffer, terminating NUL included: the suggested name is cut
// to fit it. The chosen path is not: it comes back whole.
inline constexpr size_t kFileBufferSize = 255;

// What the dialog is asked to show; what a chooser (the real one or a test's) gets.
struct FileDialogRequest {
    std::vector<std::string> filters;  // "description", "pattern", ... in pairs
    int filterIndex = 1;               // the pair preselected, from 1
    std::string suggestedName;
    std::string initialDirectory;
    std::string title;
    std::string defaultExtension;
    int32_t flags = 0;
    int16_t mode = kOpenMode;
};

// Returns the chosen path, or "" when the user cancelled. Tests put their own
// chooser in place; an empty hook restores the Qt file dialog.
using FileChooser = std::function<std::string(const FileDialogRequest&)>;
void SetFileChooser(FileChooser chooser);

// "a|b|c" becomes "a\0b\0c\0".
std::string FilterRule(const std::string& filter);
std::string CutAtNul(const std::string& text);
// The directory of `path` with its trailing separator (this platform's: '/').
// Leaves `directory` as it was when the path has no separator; true when the
// directory exists.
bool DirectoryOfPath(const std::string& path, std::string& directory);

std::string FileDialog(const std::string& filter, const std::string& suggestedName,
                       const std::string& defaultExtension, int32_t flags, bool& cancelled,
                       int16_t mode, const std::string& initialDirectory, const std::string& title);

// Opens the dialog in the folder stored under `settingsKey` (else the current
// folder) and stores the folder of the pick there.
std::string FileOpenHelper(bool& cancelled, const std::string& filter,
                           const std::string& settingsKey, const std::string& suggestedName,
                           const std::string& title);

}  // namespace kestrel
