// The per-user settings store: string values addressed by application name,
// section and key, kept between uses of the plug-in. On Linux each application
// name is one INI file under ${XDG_CONFIG_HOME:-~/.config}, its backslashes
// turned into folders ("Velmora\WaveBench\Firmware Update" becomes
// Velmora/WaveBench/Firmware Update.ini).
#pragma once

#include <optional>
#include <string>

namespace kestrel {

inline constexpr const char* kSettingsApplication = "Velmora\\WaveBench\\Firmware Update";
inline constexpr const char* kSettingsSection = "Properties";

// The stored value, `fallback` when the key is absent, nothing when the store
// cannot be read.
std::optional<std::string> GetSetting(const std::string& application, const std::string& section,
                                      const std::string& key, const std::string& fallback);
// Writes through a temporary file, so a failed write leaves the old file whole.
// False when the value could not be stored.
bool SaveSetting(const std::string& application, const std::string& section, const std::string& key,
                 const std::string& value);

// Where the INI files live; tests point it at a temporary folder. Empty: the default.
void SetSettingsFolder(const std::string& folder);
std::string SettingsFilePath(const std::string& application);

}  // namespace kestrel
