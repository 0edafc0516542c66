// The per-user settings store: what it reads, what it refuses to touch, and
// how it writes (whole, through links, other lines kept).
#include "SettingsStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSettings>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "IniText.h"
#include "SharedFolder.h"
#include "TempFile.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

class SettingsStoreTest : public ::testing::Test {
  protected:
    SettingsStoreTest() {
        SetSettingsFolder(dir_.Path().string());
        fs::create_directories(fs::path(Path()).parent_path());
    }
    ~SettingsStoreTest() override { SetSettingsFolder(""); }
    static std::string Path() { return SettingsFilePath(kSettingsApplication); }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::optional<std::string> Get(const std::string& key) {
        return GetSetting(kSettingsApplication, kSettingsSection, key, "<absent>");
    }
    static bool Save(const std::string& key, const std::string& value) {
        return SaveSetting(kSettingsApplication, kSettingsSection, key, value);
    }
    testsupport::TempDir dir_;
};

TEST_F(SettingsStoreTest, ChangesOneLineAndKeepsCommentsAndOtherSections) {
    const std::string before =
        "; kept by hand\n[Other]\nIOAddress=not this one\n\n[Properties]\n# the bench\n"
        "ioaddress = GPIB0::10\nINIFile=/srv/fw/a.ini\n\n[Last]\nx=1\n";
    std::ofstream(Path()) << before;
    EXPECT_EQ(Get("IOAddress"), "GPIB0::10");
    ASSERT_TRUE(Save("IOAddress", "ASRL/dev/pts/3::INSTR"));
    ASSERT_TRUE(Save("OpenDir", "/srv/fw/"));
    EXPECT_EQ(Read(Path()),
              "; kept by hand\n[Other]\nIOAddress=not this one\n\n[Properties]\n# the bench\n"
              "ioaddress=ASRL/dev/pts/3::INSTR\nINIFile=/srv/fw/a.ini\nOpenDir=/srv/fw/\n\n"
              "[Last]\nx=1\n");
    ASSERT_TRUE(SaveSetting(kSettingsApplication, "New", "k", "v"));
    EXPECT_TRUE(Read(Path()).ends_with("[Last]\nx=1\n\n[New]\nk=v\n"));
    EXPECT_EQ(Get("INIFile"), "/srv/fw/a.ini");
}

TEST_F(SettingsStoreTest, ValuesWithSpecialCharactersComeBackAsStored) {
    for (const std::string& value : {std::string("COM1::Baud=57600,Parity=NONE"),
                                     std::string(" padded "), std::string("C:\\Tools\\\"VKR\";1#"),
                                     std::string("tab\there\x01"
                                                 "a"),
                                     std::string("@Variant(x)"), std::string("a ; b # c"),
                                     std::string("x \\\"; y #"), std::string("")}) {
        ASSERT_TRUE(Save("IOAddress", value));
        EXPECT_EQ(Get("IOAddress"), value) << Read(Path());
    }
    // Quoted and escaped values as older files hold them.
    std::ofstream(Path()) << "[Properties]\nIOAddress=\"a,b\"\nINIFile=C:\\\\fw\\\\x.ini\n";
    EXPECT_EQ(Get("IOAddress"), "a,b");
    EXPECT_EQ(Get("INIFile"), "C:\\fw\\x.ini");
}

// Values as a technician's store holds them: paths with '#', ';' and blanks,
// quotes, backslashes, a leading '@', non-ASCII names.
const std::vector<std::string> kAwkwardValues = {
    "/home/u/fw #2/KR470A_105.INI",
    "/home/u/fw#2/",
    "C:\\Firmware\\KR470A #3; old\\",
    "@home/fw.ini",
    "@@twice",
    "@",
    " blank first",
    "blank last ",
    "  both  ",
    "say \"hi\" ; then # not a comment",
    "a;b,c=d",
    "\\\\server\\share\\",
    "/home/jürgen/Übersicht/固件.ini",
    "# all of it",
    "; all of it",
    "tab\tin\x01"
    "0",
    "GPIB0::10::INSTR",
    "",
};

TEST_F(SettingsStoreTest, EveryValueTheQtStoreWroteReadsBackAndSurvivesAnotherKeysSave) {
    for (const std::string& value : kAwkwardValues) {
        fs::remove(Path());
        {
            QSettings old(QString::fromStdString(Path()), QSettings::IniFormat);
            old.setValue("Properties/INIFile", QString::fromStdString(value));
            old.setValue("Properties/OpenDir", QString::fromStdString(value));
        }
        const std::string written = Read(Path());
        EXPECT_EQ(Get("INIFile"), value) << written;
        ASSERT_TRUE(Save("IOAddress", "GPIB0::10"));
        EXPECT_EQ(Get("INIFile"), value) << Read(Path());
        EXPECT_EQ(Get("OpenDir"), value) << Read(Path());
        // And what the store writes itself comes back too.
        ASSERT_TRUE(Save("OpenDir", value));
        EXPECT_EQ(Get("OpenDir"), value) << Read(Path());
    }
}

TEST_F(SettingsStoreTest, KeysDifferingInCaseReadAndWriteTheSameLine) {
    std::ofstream(Path()) << "[Properties]\ninifile=/first.ini\nINIFile=/second.ini\n";
    EXPECT_EQ(Get("INIFile"), "/first.ini");
    ASSERT_TRUE(Save("INIFile", "/saved.ini"));
    EXPECT_EQ(Get("INIFile"), "/saved.ini");
    EXPECT_EQ(Read(Path()), "[Properties]\ninifile=/saved.ini\nINIFile=/second.ini\n");
}

TEST_F(SettingsStoreTest, AStoreThatIsALinkIsWrittenThroughToItsTarget) {
    fs::create_directories(dir_.Path() / "real");
    const fs::path target = dir_.Path() / "real" / "settings.ini";
    std::ofstream(target) << "; mine\n[Properties]\nINIFile=a.ini\n";
    fs::remove(Path());
    fs::create_symlink(target, Path());
    ASSERT_TRUE(Save("IOAddress", "GPIB0::11"));
    EXPECT_TRUE(fs::is_symlink(Path()));
    EXPECT_EQ(Read(target.string()), "; mine\n[Properties]\nINIFile=a.ini\nIOAddress=GPIB0::11\n");
    // No temporary file is left beside the target or the link.
    EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator()),
              1);
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(Path()).parent_path()),
                            fs::directory_iterator()),
              1);

    // A link to nothing: nothing is made through it; the store replaces the link.
    fs::remove(target);
    ASSERT_TRUE(Save("IOAddress", "GPIB0::12"));
    EXPECT_FALSE(fs::is_symlink(Path()));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(Read(Path()), "[Properties]\nIOAddress=GPIB0::12\n");
}

TEST_F(SettingsStoreTest, AnotherUsersLinkInAStickyFolderIsNeverWrittenThrough) {
    if (!testsupport::SharedFolder::CanActAsAnotherUser())
        GTEST_SKIP() << "needs root to make another user's link";
    const fs::path folder = fs::path(Path()).parent_path();
    ASSERT_EQ(::chmod(folder.c_str(), 01777), 0);
    const fs::path victim = dir_.Path() / "victim.ini";
    std::ofstream(victim) << "[Properties]\n";
    fs::create_symlink(victim, Path());
    ASSERT_EQ(::lchown(Path().c_str(), testsupport::kOtherUser, testsupport::kOtherUser), 0);
    EXPECT_FALSE(Save("IOAddress", "GPIB0::11"));
    EXPECT_EQ(Read(victim.string()), "[Properties]\n");
}

TEST_F(SettingsStoreTest, AStoreThatCannotBeReadIsNeverWritten) {
    const std::string garbled = "[Properties\nIOAddress=ASRL3::INSTR\n";
    std::ofstream(Path()) << garbled;
    for (int i = 0; i < 3; ++i) {  // every reader, not only the first, sees it
        EXPECT_EQ(Get("IOAddress"), std::nullopt);
        EXPECT_FALSE(Save("IOAddress", "GPIB0::10"));
    }
    EXPECT_EQ(Read(Path()), garbled);
    EXPECT_EQ(ReadSettingsSection(kSettingsApplication, kSettingsSection), std::nullopt);

    std::ofstream(Path(), std::ios::binary) << std::string("[Properties]\nIOAddress=a\0b\n", 25);
    EXPECT_EQ(Get("IOAddress"), std::nullopt);

    std::ofstream(Path(), std::ios::trunc) << "[Properties]\n; " << std::string(2 << 20, 'x');
    EXPECT_EQ(Get("IOAddress"), std::nullopt);
    EXPECT_FALSE(Save("IOAddress", "GPIB0::10"));

    fs::remove(Path());
    ASSERT_EQ(mkfifo(Path().c_str(), 0600), 0);  // must not block
    EXPECT_EQ(Get("IOAddress"), std::nullopt);
    EXPECT_FALSE(Save("IOAddress", "GPIB0::10"));
    EXPECT_TRUE(fs::is_fifo(Path()));
}

TEST(IniText, AByteOrderMarkAndCarriageReturnsAreReadAndKept) {
    const std::string text = "\xEF\xBB\xBF[Properties]\r\nIOAddress=GPIB0::10\r\n";
    EXPECT_TRUE(IniTextWellFormed(text));
    EXPECT_EQ(IniSectionValues(text, "properties").at("IOAddress"), "GPIB0::10");
    EXPECT_EQ(WithIniValue(text, "Properties", "IOAddress", "GPIB0::11"),
              "\xEF\xBB\xBF[Properties]\r\nIOAddress=GPIB0::11\r\n");
    EXPECT_FALSE(IniTextWellFormed("[Properties]\njust words\n"));
}

TEST(IniText, ACommentAfterAHandWrittenValueIsNoPartOfIt) {
    const std::string text = "[Properties] ; the window's\nIOAddress=GPIB0::10 ; the bench\n";
    EXPECT_TRUE(IniTextWellFormed(text));
    EXPECT_EQ(IniSectionValues(text, "Properties").at("IOAddress"), "GPIB0::10");
    EXPECT_EQ(WithIniValue(text, "Properties", "INIFile", "a.ini"), text + "INIFile=a.ini\n");
}

}  // namespace
}  // namespace kestrel
