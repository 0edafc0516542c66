#include "SettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <cstdlib>

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

QString Key(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + "/" + QString::fromStdString(key);
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

std::optional<std::string> GetSetting(const std::string& application, const std::string& section,
                                      const std::string& key, const std::string& fallback) {
    const QString path = QString::fromStdString(SettingsFilePath(application));
    QFileInfo file(path);
    if (file.exists() && (!file.isFile() || !file.isReadable()))
        return std::nullopt;
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return std::nullopt;
    QVariant value = settings.value(Key(section, key));
    if (!value.isValid())
        return fallback;
    return value.toString().toStdString();
}

bool SaveSetting(const std::string& application, const std::string& section, const std::string& key,
                 const std::string& value) {
    // QSettings writes the whole file anew through a save file and renames it
    // into place, so the old values survive a failed write.
    QSettings settings(QString::fromStdString(SettingsFilePath(application)), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return false;  // an unreadable store would be overwritten with this one value
    settings.setValue(Key(section, key), QString::fromStdString(value));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

}  // namespace kestrel
