#include "ConfigPath.h"

#include <cstdlib>

namespace fileio {

const char* NonEmptyVariable(const char* name) {
    const char* value = name != nullptr ? std::getenv(name) : nullptr;
    return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string ConfigFilePath(const char* overrideVariable, std::string_view relative) {
    if (const char* named = NonEmptyVariable(overrideVariable))
        return named;
    return InConfigFolder(relative);
}

}  // namespace fileio
