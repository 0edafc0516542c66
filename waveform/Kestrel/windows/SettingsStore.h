// The per-user settings store: string values addressed by application name,
// section and key, kept between uses of the plug-in. On Linux each application
// name is one INI file under ${XDG_CONFIG_HOME:-~/.config}, its backslashes
// turned into folders ("Velmora\WaveBench\Firmware Update" becomes
// Velmora/WaveBench/Firmware Update.ini).
#pragma once

#include <string>

#include "UserSettings.h"

namespace kestrel {

// On Linux ReadSettingsSection also finds no store when the file is not a
// regular file, cannot be read, is too large or is not in INI layout.
// SaveSetting rewrites the store with one value changed, every other line
// kept: through a temporary file created exclusively beside it and renamed
// over it, through a symbolic link to its target; always false when the store
// cannot be read: it would be overwritten with this one value.

// Where the INI files live; tests point it at a temporary folder. Empty: the default.
void SetSettingsFolder(const std::string& folder);
std::string SettingsFilePath(const std::string& application);

}  // namespace kestrel
