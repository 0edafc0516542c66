// The per-user configuration folder on Windows: the roaming application data
// folder, %APPDATA%, with paths written with backslashes.
#include <algorithm>

#include "ConfigPath.h"

namespace fileio {

std::string ConfigFolder() {
    const char* appData = NonEmptyVariable("APPDATA");
    return appData != nullptr ? appData : ".";
}

std::string InConfigFolder(std::string_view relative) {
    std::string path = ConfigFolder() + "\\" + std::string(relative);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace fileio
