// Where the tools' per-user configuration files live.
#pragma once

#include <string>
#include <string_view>

namespace fileio {

// ${XDG_CONFIG_HOME}, else $HOME/.config (an unset HOME gives "/.config").
std::string ConfigFolder();

// The file named by the environment variable `overrideVariable` when it is
// set and not empty, else ConfigFolder() + "/" + `relative`.
std::string ConfigFilePath(const char* overrideVariable, std::string_view relative);

}  // namespace fileio
