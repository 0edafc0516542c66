#include "modDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <filesystem>

#include "QtWindowServices.h"
#include "SettingsStore.h"
#include "modGlobals.h"

namespace kestrel {
namespace {

FileChooser& Chooser() {
    static FileChooser chooser;
    return chooser;
}

void ReportError(const std::exception& error) {
    ShowMessageBox(nullptr, error.what(), Buttons::kOk, Icon::kNone, kBoxTitle);
}

// The NUL-separated list back into its pieces.
std::vector<std::string> FilterPieces(const std::string& converted) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t nul; (nul = converted.find('\0', start)) != std::string::npos; start = nul + 1) {
        pieces.push_back(converted.substr(start, nul - start));
    }
    return pieces;
}

// A filter pair as Qt reads it: "description (patterns)", Qt taking the
// patterns from the last parentheses. The dialog shows only the caller's
// description, so the patterns can differ from what it says: "*.*" means every
// file, also one without a dot, so Qt is given "*".
QString QtNameFilter(const std::string& description, const std::string& pattern) {
    QStringList patterns = QString::fromStdString(pattern).split(';', Qt::SkipEmptyParts);
    for (QString& each : patterns) {
        each = each.trimmed();
        if (each == "*.*")
            each = "*";
    }
    return QString::fromStdString(description) + " (" + patterns.join(' ') + ")";
}

std::string QtChooser(const FileDialogRequest& request) {
    QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(request.title),
                       QString::fromStdString(request.initialDirectory));
    dialog.setObjectName("fileDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);  // the descriptions as given
    dialog.setAcceptMode(request.mode == kSaveMode ? QFileDialog::AcceptSave
                                                   : QFileDialog::AcceptOpen);
    // The chosen file must exist: the dialog stays open on a name that does not.
    dialog.setFileMode((request.flags & kFileMustExist) != 0 ? QFileDialog::ExistingFile
                                                             : QFileDialog::AnyFile);
    QStringList filters;
    for (size_t i = 0; i + 1 < request.filters.size(); i += 2)
        filters << QtNameFilter(request.filters[i], request.filters[i + 1]);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    dialog.selectFile(QString::fromStdString(request.suggestedName));
    // The Qt dialog never changes the process's current folder.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return "";
    return dialog.selectedFiles().front().toStdString();
}

}  // namespace

void SetFileChooser(FileChooser chooser) {
    Chooser() = std::move(chooser);
}

std::string FilterRule(const std::string& filter) {
    std::string converted;
    for (char c : filter)
        converted.push_back(c == '|' ? '\0' : c);
    converted.push_back('\0');
    return converted;
}

std::string CutAtNul(const std::string& text) {
    size_t nul = text.find('\0');
    return nul == std::string::npos ? text : text.substr(0, nul);
}

bool DirectoryOfPath(const std::string& path, std::string& directory) {
    try {
        size_t separator = path.find_last_of('/');
        if (separator != std::string::npos)
            directory = path.substr(0, separator + 1);
        if (directory.empty())
            return false;
        return std::filesystem::is_directory(directory);
    } catch (const std::exception& error) {
        ReportError(error);
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
        FileDialogRequest request;
        request.filters = FilterPieces(FilterRule(filter));
        // The suggested name as the file buffer holds it, without its padding.
        request.suggestedName = suggestedName.substr(0, kFileBufferSize - 1);
        request.initialDirectory = initialDirectory;
        request.title = title;
        request.defaultExtension = defaultExtension;
        request.flags = flags;
        request.mode = mode;
        // Any path the system accepts comes back whole, however long.
        std::string chosen = CutAtNul(Chooser() ? Chooser()(request) : QtChooser(request));
        cancelled = chosen.empty();
        return chosen;
    } catch (const std::exception& error) {
        ReportError(error);
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
            initial = QDir::currentPath().toStdString();
        std::string chosen =
            FileDialog(filter, suggestedName, "", kOpenFlags, cancelled, kOpenMode, initial, title);
        if (cancelled)
            return "";
        std::string directory;
        DirectoryOfPath(chosen, directory);
        SaveSetting(kSettingsApplication, kSettingsSection, settingsKey, directory);
        return chosen;
    } catch (const std::exception& error) {
        ReportError(error);
        return "";
    }
}

}  // namespace kestrel
