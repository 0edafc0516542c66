// The per-user settings on Windows: the current user's registry area for
// application settings, HKEY_CURRENT_USER\Software\<application>\<section>,
// one string value a key ("Velmora\WaveBench\Firmware Update", section
// "Properties": HKCU\Software\Velmora\WaveBench\Firmware Update\Properties).
// The registry matches value names ignoring case, as the windows expect.
#include <windows.h>

#include <string>

#include "UserSettings.h"

namespace kestrel {
namespace {

// Far above the few short values the store holds; a larger value is not read.
constexpr DWORD kMaxValueBytes = 1 << 20;

std::string KeyPath(const std::string& application, const std::string& section) {
    return "Software\\" + application + "\\" + section;
}

std::string Describe(const std::string& path, LSTATUS status) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   static_cast<DWORD>(status), 0, text, sizeof(text) - 1, nullptr);
    std::string reason = text;
    while (!reason.empty() &&
           (reason.back() == '\r' || reason.back() == '\n' || reason.back() == '.'))
        reason.pop_back();
    if (reason.empty())
        reason = "error " + std::to_string(status);
    return "HKEY_CURRENT_USER\\" + path + ": " + reason;
}

// The string values of an open key; names of other types are passed over.
LSTATUS ReadValues(HKEY key, std::map<std::string, std::string>& values) {
    DWORD count = 0, longestName = 0, longestData = 0;
    LSTATUS status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &count, &longestName, &longestData, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    std::string name(longestName + 1, '\0');
    std::string data(std::min(longestData, kMaxValueBytes) + 1, '\0');
    for (DWORD index = 0; index < count; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size() - 1);
        DWORD type = 0;
        status = RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type,
                               reinterpret_cast<BYTE*>(data.data()), &dataLength);
        if (status == ERROR_MORE_DATA || status == ERROR_NO_MORE_ITEMS)
            continue;  // changed meanwhile, or a value too large to be ours
        if (status != ERROR_SUCCESS)
            return status;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            continue;
        std::string value(data.data(), std::min<size_t>(dataLength, data.size() - 1));
        values[name.substr(0, nameLength)] = value.substr(0, value.find('\0'));
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::optional<std::map<std::string, std::string>> ReadSettingsSection(
    const std::string& application, const std::string& section, std::string* problem) {
    const std::string path = KeyPath(application, section);
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    std::map<std::string, std::string> values;
    if (status == ERROR_FILE_NOT_FOUND)
        return values;  // nothing stored yet
    if (status == ERROR_SUCCESS) {
        status = ReadValues(key, values);
        RegCloseKey(key);
    }
    if (status == ERROR_SUCCESS)
        return values;
    if (problem != nullptr)
        *problem = Describe(path, status);
    return std::nullopt;
}

bool SaveSetting(const std::string& application, const std::string& section, const std::string& key,
                 const std::string& value) {
    const std::string path = KeyPath(application, section);
    HKEY opened = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return false;
    const std::string stored = value.substr(0, value.find('\0'));
    const LSTATUS status = RegSetValueExA(opened, key.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(stored.c_str()),
                                          static_cast<DWORD>(stored.size() + 1));
    RegCloseKey(opened);
    return status == ERROR_SUCCESS;
}

}  // namespace kestrel
