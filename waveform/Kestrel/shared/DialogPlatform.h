// What the file dialog's routines (modDialog.cpp) take from the platform
// they run on: the system's file chooser, the process's current folder,
// whether a path is a folder, how a box reports an error, and which
// characters end a folder in a path.
#pragma once

#include <string>

#include "FileDialogRules.h"

namespace kestrel::platform {

// Shows the chooser for `request`; the chosen path, or "" when cancelled.
std::string ShowFileChooser(const FileDialogRequest& request);
std::string CurrentFolder();
// May throw when the path cannot be examined.
bool IsFolder(const std::string& path);
// A box with the error's description, no icon, the title "Firmware Update".
void ReportDialogError(const std::string& description);
// The characters a folder ends with in a path.
const char* PathSeparators();

}  // namespace kestrel::platform
