// The per-user settings store: string values addressed by application name,
// section and key, kept between uses of the plug-in. On Linux each application
// name is one INI file under ${XDG_CONFIG_HOME:-~/.config}, its backslashes
// turned into folders ("Velmora\WaveBench\Firmware Update" becomes
// Velmora/WaveBench/Firmware Update.ini).
#pragma once

#include <map>
#include <optional>
#include <string>

namespace kestrel {

inline constexpr const char* kSettingsApplication = "Velmora\\WaveBench\\Firmware Update";
inline constexpr const char* kSettingsSection = "Properties";

// The values of one section, read once; nothing when the store cannot be
// read (no regular file, no permission, too large, or not in INI layout), and
// then `problem`, when given, says why. An absent store reads as an empty section.
std::optional<std::map<std::string, std::string>> ReadSettingsSection(
    const std::string& application, const std::string& section, std::string* problem = nullptr);
// The value under `key` in a section read above, matched ignoring case as the
// store does; `fallback` when absent.
std::string SettingOr(const std::map<std::string, std::string>& values, const std::string& key,
                      const std::string& fallback);
// The stored value (key matched ignoring case), `fallback` when the key is
// absent, nothing when the store cannot be read.
std::optional<std::string> GetSetting(const std::string& application, const std::string& section,
                                      const std::string& key, const std::string& fallback);
// Rewrites the store with one value changed, every other line kept: through a
// temporary file created exclusively beside it and renamed over it, through a
// symbolic link to its target. False, the store untouched, when the value
// could not be stored, and always when the store cannot be read: it would
// be overwritten with this one value.
bool SaveSetting(const std::string& application, const std::string& section, const std::string& key,
                 const std::string& value);

// Where the INI files live; tests point it at a temporary folder. Empty: the default.
void SetSettingsFolder(const std::string& folder);
std::string SettingsFilePath(const std::string& application);

}  // namespace kestrel
