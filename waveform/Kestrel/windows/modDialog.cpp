// The file dialog on Linux: Qt's own file dialog (not the desktop's), and the
// platform facts the shared routines take.
#include "DialogPlatform.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <filesystem>

#include "QtWindowServices.h"
#include "modGlobals.h"

namespace kestrel {
namespace {

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

namespace platform {

std::string ShowFileChooser(const FileDialogRequest& request) {
    return QtChooser(request);
}

std::string CurrentFolder() {
    return QDir::currentPath().toStdString();
}

bool IsFolder(const std::string& path) {
    return std::filesystem::is_directory(path);
}

void ReportDialogError(const std::string& description) {
    ShowMessageBox(nullptr, description, Buttons::kOk, Icon::kNone, kBoxTitle);
}

const char* PathSeparators() {
    return "/";
}

}  // namespace platform
}  // namespace kestrel
