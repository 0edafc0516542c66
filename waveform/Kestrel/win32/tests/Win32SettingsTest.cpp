// Under Wine: the settings in the current user's registry area, and the
// file-open helper's remembered folder with Windows paths. No display needed.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "UserSettings.h"
#include "modDialog.h"

namespace kestrel {
namespace {

std::optional<std::string> RegistryValue(const std::string& key, const std::string& name) {
    char value[512] = {};
    DWORD size = sizeof(value);
    if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::string(value);
}

// An application name of the test's own, removed afterwards.
class RegistrySettingsTest : public testing::Test {
  protected:
    ~RegistrySettingsTest() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KR470 tests"); }
    const std::string application_ = "KR470 tests\\Firmware Update";
};

TEST_F(RegistrySettingsTest, ValuesGoUnderSoftwareApplicationSectionAndReadBackIgnoringCase) {
    EXPECT_EQ(ReadSettingsSection(application_, "Properties")->size(), 0u);  // nothing yet
    ASSERT_TRUE(SaveSetting(application_, "Properties", "IOAddress", "ASRL5::INSTR"));
    ASSERT_TRUE(SaveSetting(application_, "Properties", "INIFile", "C:\\Updates\\KR470A_105.INI"));
    EXPECT_EQ(RegistryValue("Software\\KR470 tests\\Firmware Update\\Properties", "IOAddress"),
              "ASRL5::INSTR");

    EXPECT_EQ(GetSetting(application_, "Properties", "ioaddress", "GPIB0::10"), "ASRL5::INSTR");
    EXPECT_EQ(GetSetting(application_, "Properties", "OpenDir", "none"), "none");
    // A key written again in other case replaces the one value.
    ASSERT_TRUE(SaveSetting(application_, "Properties", "inifile", "D:\\KR470A_106.INI"));
    auto section = ReadSettingsSection(application_, "Properties");
    ASSERT_TRUE(section);
    EXPECT_EQ(section->size(), 2u);
    EXPECT_EQ(SettingOr(*section, "INIFile", ""), "D:\\KR470A_106.INI");
}

// The helper keeps its folder under the plug-in's own application name.
class FileOpenHelperTest : public testing::Test {
  protected:
    FileOpenHelperTest()
        : saved_(GetSetting(kSettingsApplication, kSettingsSection, "OpenDir", "")) {
        SaveSetting(kSettingsApplication, kSettingsSection, "OpenDir", "");
        SetFileChooser([this](const FileDialogRequest& request) {
            initialFolders_.push_back(request.initialDirectory);
            return pick_;
        });
    }
    ~FileOpenHelperTest() override {
        SetFileChooser({});
        if (saved_ && !saved_->empty())
            SaveSetting(kSettingsApplication, kSettingsSection, "OpenDir", *saved_);
        else
            RegDeleteKeyValueA(HKEY_CURRENT_USER,
                               "Software\\Velmora\\WaveBench\\Firmware Update\\Properties",
                               "OpenDir");
    }
    std::string Open(bool& cancelled) { return PickUpdateFile(cancelled); }
    std::string StoredFolder() {
        return GetSetting(kSettingsApplication, kSettingsSection, "OpenDir", "").value_or("");
    }

    std::optional<std::string> saved_;
    std::vector<std::string> initialFolders_;
    std::string pick_;
};

TEST_F(FileOpenHelperTest, TheFolderOfAPickIsRememberedWithItsBackslashAndCancelKeepsIt) {
    char here[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, here);
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    pick_ = std::string(windows) + "\\KR470A_105.INI";

    bool cancelled = true;
    EXPECT_EQ(Open(cancelled), pick_);
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(StoredFolder(), std::string(windows) + "\\");

    pick_.clear();  // the user cancels the next one
    EXPECT_EQ(Open(cancelled), "");
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(StoredFolder(), std::string(windows) + "\\");
    ASSERT_EQ(initialFolders_.size(), 2u);
    EXPECT_EQ(initialFolders_[0], here);  // first use: the current folder
    EXPECT_EQ(initialFolders_[1], std::string(windows) + "\\");
}

TEST(DirectoryOfPath, TakesEitherSeparatorAndSaysWhetherTheFolderExists) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string folder = "unchanged";
    EXPECT_FALSE(DirectoryOfPath("update.ini", folder));
    EXPECT_EQ(folder, "unchanged");
    EXPECT_TRUE(DirectoryOfPath(std::string(windows) + "\\win.ini", folder));
    EXPECT_EQ(folder, std::string(windows) + "\\");
    EXPECT_FALSE(DirectoryOfPath("C:/no/such/folder/update.ini", folder));
    EXPECT_EQ(folder, "C:/no/such/folder/");
}

}  // namespace
}  // namespace kestrel
