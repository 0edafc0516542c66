// The per-user settings the windows keep between uses of the plug-in: string
// values addressed by application name, section and key. Each platform keeps
// them its own way (an INI file per application on Linux, the current user's
// registry area on Windows) behind these functions; keys match ignoring case
// on both.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "Text.h"

namespace kestrel {

inline constexpr const char* kSettingsApplication = "Velmora\\WaveBench\\Firmware Update";
inline constexpr const char* kSettingsSection = "Properties";

// The values of one section, read once; nothing when the store cannot be
// read, and then `problem`, when given, says why. An absent store reads as an
// empty section.
std::optional<std::map<std::string, std::string>> ReadSettingsSection(
    const std::string& application, const std::string& section, std::string* problem = nullptr);

// Stores one value, every other kept. False, the store untouched, when the
// value could not be stored.
bool SaveSetting(const std::string& application, const std::string& section, const std::string& key,
                 const std::string& value);

// The value under `key` in a section read above, matched ignoring case as the
// store does; `fallback` when absent.
inline std::string SettingOr(const std::map<std::string, std::string>& values,
                             const std::string& key, const std::string& fallback) {
    for (const auto& [name, value] : values) {
        if (Lower(name) == Lower(key))
            return value;
    }
    return fallback;
}

// The stored value (key matched ignoring case), `fallback` when the key is
// absent, nothing when the store cannot be read.
inline std::optional<std::string> GetSetting(const std::string& application,
                                             const std::string& section, const std::string& key,
                                             const std::string& fallback) {
    auto values = ReadSettingsSection(application, section);
    if (!values)
        return std::nullopt;
    return SettingOr(*values, key, fallback);
}

}  // namespace kestrel
