#include "ConfigPath.h"

#include <cstdlib>

namespace fileio {
namespace {

const char* Variable(const char* name) {
    const char* value = name != nullptr ? std::getenv(name) : nullptr;
    return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::string ConfigFolder() {
    if (const char* config = Variable("XDG_CONFIG_HOME"))
        return config;
    const char* home = Variable("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

std::string ConfigFilePath(const char* overrideVariable, std::string_view relative) {
    if (const char* named = Variable(overrideVariable))
        return named;
    return ConfigFolder() + "/" + std::string(relative);
}

}  // namespace fileio
