// The file dialog's routines as every platform runs them; the chooser itself
// and the few platform facts come from DialogPlatform.h.
#include "modDialog.h"

#include "DialogPlatform.h"
#include "UserSettings.h"
#include "WindowTexts.h"

namespace kestrel {
namespace {

FileChooser& Chooser() {
    static FileChooser chooser;
    return chooser;
}

}  // namespace

void SetFileChooser(FileChooser chooser) {
    Chooser() = std::move(chooser);
}

bool DirectoryOfPath(const std::string& path, std::string& directory) {
    try {
        const size_t separator = path.find_last_of(platform::PathSeparators());
        if (separator != std::string::npos)
            directory = path.substr(0, separator + 1);
        if (directory.empty())
            return false;
        return platform::IsFolder(directory);
    } catch (const std::exception& error) {
        platform::ReportDialogError(error.what());
        return false;
    }
}

std::string FileDialog(const std::string& filter, const std::string& suggestedName,
                       const std::string& defaultExtension, int32_t flags, bool& cancelled,
                       int16_t mode, const std::string& initialDirectory,
                       const std::string& title) {
    if (mode != kOpenMode && mode != kSaveMode)
        return "";
    try {
        const FileDialogRequest request = MakeFileDialogRequest(
            filter, suggestedName, defaultExtension, flags, mode, initialDirectory, title);
        // Any path the system accepts comes back whole, however long.
        std::string chosen =
            CutAtNul(Chooser() ? Chooser()(request) : platform::ShowFileChooser(request));
        cancelled = chosen.empty();
        return chosen;
    } catch (const std::exception& error) {
        platform::ReportDialogError(error.what());
        cancelled = true;
        return "";
    }
}

std::string FileOpenHelper(bool& cancelled, const std::string& filter,
                           const std::string& settingsKey, const std::string& suggestedName,
                           const std::string& title) {
    try {
        std::string initial =
            GetSetting(kSettingsApplication, kSettingsSection, settingsKey, "").value_or("");
        if (initial.empty())
            initial = platform::CurrentFolder();
        std::string chosen =
            FileDialog(filter, suggestedName, "", kOpenFlags, cancelled, kOpenMode, initial, title);
        if (cancelled)
            return "";
        std::string directory;
        DirectoryOfPath(chosen, directory);
        SaveSetting(kSettingsApplication, kSettingsSection, settingsKey, directory);
        return chosen;
    } catch (const std::exception& error) {
        platform::ReportDialogError(error.what());
        return "";
    }
}

std::string PickUpdateFile(bool& cancelled) {
    return FileOpenHelper(cancelled, kFileFilter, kOpenDirKey, kSuggestedFile, kFindFileTitle);
}

}  // namespace kestrel
