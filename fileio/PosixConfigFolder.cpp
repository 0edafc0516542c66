// The per-user configuration folder on POSIX systems: the XDG one.
#include "ConfigPath.h"

namespace fileio {

std::string ConfigFolder() {
    if (const char* config = NonEmptyVariable("XDG_CONFIG_HOME"))
        return config;
    const char* home = NonEmptyVariable("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

std::string InConfigFolder(std::string_view relative) {
    return ConfigFolder() + "/" + std::string(relative);
}

}  // namespace fileio
