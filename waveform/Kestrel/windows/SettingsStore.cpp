#include "SettingsStore.h"

#include <cstdlib>
#include <filesystem>

#include "AtomicFile.h"
#include "IniText.h"
#include "Text.h"

namespace kestrel {
namespace {

std::string& FolderOverride() {
    static std::string folder;
    return folder;
}

std::string DefaultFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0')
        return config;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

// Far above the few short values the store holds.
constexpr size_t kMaxStoreBytes = 1 << 20;

// The store's text ("" when there is none yet), or nothing when it cannot be read.
std::optional<std::string> StoreText(const std::string& application) {
    kcom::FileText file = kcom::ReadSmallFile(SettingsFilePath(application), kMaxStoreBytes);
    if (file.state == kcom::FileState::kUnreadable || !IniTextWellFormed(file.text))
        return std::nullopt;
    return std::move(file.text);
}

}  // namespace

void SetSettingsFolder(const std::string& folder) {
    FolderOverride() = folder;
}

std::string SettingsFilePath(const std::string& application) {
    std::string relative = application;
    for (char& c : relative) {
        if (c == '\\')
            c = '/';
    }
    std::string folder = FolderOverride().empty() ? DefaultFolder() : FolderOverride();
    return folder + "/" + relative + ".ini";
}

std::optional<std::map<std::string, std::string>> ReadSettingsSection(
    const std::string& application, const std::string& section) {
    std::optional<std::string> text = StoreText(application);
    if (!text)
        return std::nullopt;
    return IniSectionValues(*text, section);
}

std::string SettingOr(const std::map<std::string, std::string>& values, const std::string& key,
                      const std::string& fallback) {
    for (const auto& [name, value] : values) {
        if (Lower(name) == Lower(key))
            return value;
    }
    return fallback;
}

std::optional<std::string> GetSetting(const std::string& application, const std::string& section,
                                      const std::string& key, const std::string& fallback) {
    auto values = ReadSettingsSection(application, section);
    if (!values)
        return std::nullopt;
    return SettingOr(*values, key, fallback);
}

bool SaveSetting(const std::string& application, const std::string& section, const std::string& key,
                 const std::string& value) {
    std::optional<std::string> text = StoreText(application);
    if (!text)
        return false;
    const std::string path = SettingsFilePath(application);
    std::error_code ignored;  // a missing folder shows as the write's failure
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::string error;
    return kcom::ReplaceFile(path, WithIniValue(*text, section, key, value), error);
}

}  // namespace kestrel
