#include "SettingsStore.h"

#include <filesystem>

#include "AtomicWrite.h"
#include "ConfigPath.h"
#include "IniText.h"
#include "RegularFile.h"

namespace kestrel {
namespace {

std::string& FolderOverride() {
    static std::string folder;
    return folder;
}

// Far above the few short values the store holds.
constexpr size_t kMaxStoreBytes = 1 << 20;

// The store's text ("" when there is none yet), or nothing when it cannot be
// read, and then `problem` says why.
std::optional<std::string> StoreText(const std::string& application, std::string& problem) {
    std::string text;
    const std::string path = SettingsFilePath(application);
    const fileio::ReadStatus status = fileio::ReadRegularFile(path, kMaxStoreBytes, text, problem);
    if (status == fileio::ReadStatus::kMissing)
        return "";
    if (status != fileio::ReadStatus::kRead)
        return std::nullopt;
    if (const size_t line = FirstIllFormedLine(text); line != 0) {
        problem = path + ", line " + std::to_string(line) +
                  " is neither a [section] header, a key=value line nor a comment";
        return std::nullopt;
    }
    return text;
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
    std::string folder = FolderOverride().empty() ? fileio::ConfigFolder() : FolderOverride();
    return folder + "/" + relative + ".ini";
}

std::optional<std::map<std::string, std::string>> ReadSettingsSection(
    const std::string& application, const std::string& section, std::string* problem) {
    std::string why;
    std::optional<std::string> text = StoreText(application, why);
    if (!text) {
        if (problem != nullptr)
            *problem = why;
        return std::nullopt;
    }
    return IniSectionValues(*text, section);
}

bool SaveSetting(const std::string& application, const std::string& section, const std::string& key,
                 const std::string& value) {
    std::string problem;
    std::optional<std::string> text = StoreText(application, problem);
    if (!text)
        return false;
    const std::string path = SettingsFilePath(application);
    std::string error;  // a missing folder shows as the write's failure
    fileio::MakeFolders(std::filesystem::path(path).parent_path().string(), error);
    // A link the user made to keep the store elsewhere stays a link.
    return fileio::WriteFileAtomically(path, WithIniValue(*text, section, key, value), error,
                                       fileio::LinkUse::kWriteThrough);
}

}  // namespace kestrel
