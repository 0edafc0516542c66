// The file dialog, its helper's remembered folder, and the path rules.
#include "modDialog.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "WindowFixture.h"

namespace kestrel {
namespace {

using testing::WindowTest;

const std::string kFilter = "Firmware Updates (*.ini)|*.ini|All Files (*.*)|*.*";

TEST(FileDialogRules, FilterBecomesNulSeparatedPiecesAndCutStopsAtTheFirstNul) {
    using namespace std::string_literals;
    EXPECT_EQ(FilterRule(kFilter), "Firmware Updates (*.ini)\0*.ini\0All Files (*.*)\0*.*\0"s);
    EXPECT_EQ(FilterRule(""), "\0"s);
    EXPECT_EQ(CutAtNul("path.ini\0   "s), "path.ini");
    EXPECT_EQ(CutAtNul("whole"), "whole");
}

TEST(FileDialogRules, DirectoryOfPathKeepsTheTrailingSeparator) {
    std::string directory = "unchanged";
    EXPECT_FALSE(DirectoryOfPath("no-separator.ini", directory));
    EXPECT_EQ(directory, "unchanged");
    EXPECT_TRUE(DirectoryOfPath("/tmp/update.ini", directory));
    EXPECT_EQ(directory, "/tmp/");
    EXPECT_FALSE(DirectoryOfPath("/no/such/folder/update.ini", directory));
    EXPECT_EQ(directory, "/no/such/folder/");
    directory.clear();
    EXPECT_FALSE(DirectoryOfPath("", directory));
}

class FileOpenHelperTest : public WindowTest {
  protected:
    FileOpenHelperTest() {
        SetFileChooser([this](const FileDialogRequest& request) {
            requests_.push_back(request);
            return pick_;
        });
    }
    std::string Open(bool& cancelled) {
        return FileOpenHelper(cancelled, kFilter, "OpenDir", "VKR470_104.ini",
                              "Find Firmware Update File");
    }
    std::vector<FileDialogRequest> requests_;
    std::string pick_;
};

TEST_F(FileOpenHelperTest, FirstUseOpensHereAndThePickedFolderIsRememberedWithItsSeparator) {
    const std::filesystem::path here = std::filesystem::current_path();
    pick_ = dir_.Write("KR470A_105.INI", "");
    bool cancelled = true;
    EXPECT_EQ(Open(cancelled), pick_);
    EXPECT_FALSE(cancelled);
    ASSERT_EQ(requests_.size(), 1u);
    const FileDialogRequest& first = requests_[0];
    EXPECT_EQ(first.filters, (std::vector<std::string>{"Firmware Updates (*.ini)", "*.ini",
                                                       "All Files (*.*)", "*.*"}));
    EXPECT_EQ(first.filterIndex, 1);
    EXPECT_EQ(first.initialDirectory, here.string());
    EXPECT_EQ(first.suggestedName, "VKR470_104.ini");
    EXPECT_EQ(first.title, "Find Firmware Update File");
    EXPECT_EQ(first.flags, 0x100C);
    EXPECT_EQ(first.mode, 1);
    EXPECT_EQ(Stored("OpenDir"), dir_.Path().string() + "/");

    Open(cancelled);
    EXPECT_EQ(requests_[1].initialDirectory, dir_.Path().string() + "/");
    EXPECT_EQ(std::filesystem::current_path(), here);
}

TEST_F(FileOpenHelperTest, CancelReturnsNothingAndKeepsTheStoredFolder) {
    SaveSetting(kSettingsApplication, kSettingsSection, "OpenDir", "/srv/firmware/");
    bool cancelled = false;
    EXPECT_EQ(Open(cancelled), "");
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(Stored("OpenDir"), "/srv/firmware/");

    // Another mode returns at once and leaves the flag alone.
    cancelled = false;
    EXPECT_EQ(FileDialog(kFilter, "", "", 0, cancelled, 3, "/", "t"), "");
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(requests_.size(), 1u);
}

TEST_F(FileOpenHelperTest, ALongPathIsAcceptedWhole) {
    // Deeper than the dialog's 255-character buffer, within what the system takes.
    std::filesystem::path folder = dir_.Path();
    while (folder.string().size() < 2 * kFileBufferSize)
        folder /= std::string(60, 'd');
    std::filesystem::create_directories(folder);
    pick_ = (folder / "KR470A_105.INI").string();
    std::ofstream(pick_) << "";
    bool cancelled = true;
    EXPECT_EQ(Open(cancelled), pick_);
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(Stored("OpenDir"), folder.string() + "/");
}

// The filters as the user sees them in the dialog's list of file types.
QStringList ShownFilters(QFileDialog* dialog) {
    QStringList shown;
    auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
    for (int i = 0; types != nullptr && i < types->count(); ++i)
        shown << types->itemText(i);
    return shown;
}

// Lets the dialog's file-system model work until `listed` holds, or a deadline.
bool Eventually(const std::function<bool()>& listed) {
    QDeadlineTimer deadline(10000);
    while (!listed()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop wait;
        QTimer::singleShot(10, &wait, &QEventLoop::quit);
        wait.exec();
    }
    return true;
}

TEST_F(WindowTest, AllFilesListsFilesWithoutADotToo) {
    SaveSetting(kSettingsApplication, kSettingsSection, "OpenDir", dir_.Path().string() + "/");
    std::string update = dir_.Write("KR470A_105.INI", "");
    std::string dotless = dir_.Write("kr470a_firmware", "");
    bool updateListed = false, dotlessHidden = false, dotlessListed = false;
    WhenShown("fileDialog", [&](QWidget* window) {
        auto* dialog = static_cast<QFileDialog*>(window);
        auto* model = dialog->findChild<QFileSystemModel*>();
        ASSERT_NE(model, nullptr);
        // Listed: a row of the folder in the model the dialog's views show.
        auto listed = [&](const std::string& path) {
            const QModelIndex folder = model->index(QString::fromStdString(dir_.Path().string()));
            const QString name = QString::fromStdString(std::filesystem::path(path).filename());
            for (int row = 0; row < model->rowCount(folder); ++row) {
                if (model->index(row, 0, folder).data().toString() == name)
                    return true;
            }
            return false;
        };
        updateListed = Eventually([&] { return listed(update); });
        dotlessHidden = !listed(dotless);
        dialog->selectNameFilter(dialog->nameFilters()[1]);
        EXPECT_EQ(dialog->selectedNameFilter().startsWith("All Files (*.*)"), true);
        dotlessListed = Eventually([&] { return listed(dotless); });
        dialog->reject();
    });
    bool cancelled = false;
    FileOpenHelper(cancelled, kFilter, "OpenDir", "VKR470_104.ini", "Find Firmware Update File");
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(updateListed);
    EXPECT_TRUE(dotlessHidden);  // by "Firmware Updates (*.ini)"
    EXPECT_TRUE(dotlessListed);
}

TEST_F(WindowTest, RealFileDialogOffersTheFiltersInTheStoredFolder) {
    SaveSetting(kSettingsApplication, kSettingsSection, "OpenDir", dir_.Path().string() + "/");
    std::string pick = dir_.Write("KR470A_105.INI", "");
    QStringList filters;
    QString directory, title;
    WhenShown("fileDialog", [&](QWidget* window) {
        auto* dialog = static_cast<QFileDialog*>(window);
        filters = ShownFilters(dialog);
        directory = dialog->directory().absolutePath();
        title = dialog->windowTitle();
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        dialog->selectFile(QString::fromStdString(pick));
        static_cast<QDialog*>(dialog)->accept();  // as the Open button does
    });
    bool cancelled = true;
    EXPECT_EQ(FileOpenHelper(cancelled, kFilter, "OpenDir", "VKR470_104.ini",
                             "Find Firmware Update File"),
              pick);
    EXPECT_EQ(filters, (QStringList{"Firmware Updates (*.ini)", "All Files (*.*)"}));
    EXPECT_EQ(directory.toStdString(), dir_.Path().string());
    EXPECT_EQ(title, "Find Firmware Update File");
}

}  // namespace
}  // namespace kestrel
