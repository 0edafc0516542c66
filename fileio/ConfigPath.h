// Where the tools' per-user configuration files live: the folder is the
// platform's (PosixConfigFolder.cpp, WinConfigFolder.cpp), the rule the same.
#pragma once

#include <string>
#include <string_view>

namespace fileio {

// ${XDG_CONFIG_HOME}, else $HOME/.config (an unset HOME gives "/.config");
// on Windows %APPDATA% (unset: the current folder).
std::string ConfigFolder();

// `relative` ("tool/file.ini") inside ConfigFolder(), with the platform's
// separator.
std::string InConfigFolder(std::string_view relative);

// The file named by the environment variable `overrideVariable` when it is
// set and not empty, else InConfigFolder(`relative`).
std::string ConfigFilePath(const char* overrideVariable, std::string_view relative);

// The value of the environment variable `name`; nullptr when it is unset or
// empty (or `name` is nullptr).
const char* NonEmptyVariable(const char* name);

}  // namespace fileio
