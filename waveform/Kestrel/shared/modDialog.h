// The file dialog and the file-open helper that remembers the folder of the
// last pick in the user's settings. Every routine reports its own errors in a
// box and never raises one to its caller.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "FileDialogRules.h"

namespace kestrel {

// Returns the chosen path, or "" when the user cancelled. Tests put their own
// chooser in place; an empty hook restores the platform's file dialog (Qt's
// on Linux, the common file dialog on Windows).
using FileChooser = std::function<std::string(const FileDialogRequest&)>;
void SetFileChooser(FileChooser chooser);

// The directory of `path` with its trailing separator (this platform's: '/'
// on Linux, '\\' on Windows).
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

// The setup window's "Find Update File": the helper with the window's filter,
// settings key, suggested name and title; the path, or "" with `cancelled`.
std::string PickUpdateFile(bool& cancelled);

}  // namespace kestrel
