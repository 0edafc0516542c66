// The file dialog, its helper's remembered folder, and the path rules.
#include "modDialog.h"

#include <QFileDialog>
#include <filesystem>

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

    // A path that does not fit the dialog's buffer fails the same way.
    pick_ = "/" + std::string(kFileBufferSize, 'x');
    EXPECT_EQ(Open(cancelled), "");
    EXPECT_TRUE(cancelled);

    // Another mode returns at once and leaves the flag alone.
    cancelled = false;
    EXPECT_EQ(FileDialog(kFilter, "", "", 0, cancelled, 3, "/", "t"), "");
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(requests_.size(), 2u);
}

TEST_F(WindowTest, RealFileDialogOffersTheFiltersInTheStoredFolder) {
    SaveSetting(kSettingsApplication, kSettingsSection, "OpenDir", dir_.Path().string() + "/");
    std::string pick = dir_.Write("KR470A_105.INI", "");
    QStringList filters;
    QString directory, title;
    WhenShown("fileDialog", [&](QWidget* window) {
        auto* dialog = static_cast<QFileDialog*>(window);
        filters = dialog->nameFilters();
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
