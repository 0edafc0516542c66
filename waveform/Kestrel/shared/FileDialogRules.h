// The file dialog's request and the text rules every platform's dialog
// shares: the filter list with "|" between its pieces becomes the
// NUL-separated list the dialog takes, and a buffer the dialog filled is read
// up to its first NUL.
#pragma once

#include <cstddef>
#include <cstdint>
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

// "a|b|c" becomes "a\0b\0c\0".
inline std::string FilterRule(const std::string& filter) {
    std::string converted;
    for (char c : filter)
        converted.push_back(c == '|' ? '\0' : c);
    converted.push_back('\0');
    return converted;
}

inline std::string CutAtNul(const std::string& text) {
    size_t nul = text.find('\0');
    return nul == std::string::npos ? text : text.substr(0, nul);
}

// The NUL-separated list back into its pieces.
inline std::vector<std::string> FilterPieces(const std::string& converted) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t nul; (nul = converted.find('\0', start)) != std::string::npos; start = nul + 1)
        pieces.push_back(converted.substr(start, nul - start));
    return pieces;
}

// The request FileDialog hands its chooser: the filter in its pieces and the
// suggested name as the file buffer holds it (without padding).
inline FileDialogRequest MakeFileDialogRequest(const std::string& filter,
                                               const std::string& suggestedName,
                                               const std::string& defaultExtension, int32_t flags,
                                               int16_t mode, const std::string& initialDirectory,
                                               const std::string& title) {
    FileDialogRequest request;
    request.filters = FilterPieces(FilterRule(filter));
    request.suggestedName = suggestedName.substr(0, kFileBufferSize - 1);
    request.initialDirectory = initialDirectory;
    request.title = title;
    request.defaultExtension = defaultExtension;
    request.flags = flags;
    request.mode = mode;
    return request;
}

}  // namespace kestrel
