// Small files replaced whole: through links, keeping permissions, never
// leaving half a file or a temporary one.
#include "AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TempFile.h"

namespace kcom {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(AtomicFile, ReplacesWholeKeepingPermissionsAndFollowingLinks) {
    osprey::testing::TempDir dir;
    const fs::path file = dir.Path() / "settings.ini";
    std::ofstream(file) << "old";
    fs::permissions(file, fs::perms(0640));
    const fs::path link = dir.Path() / "link.ini";
    fs::create_symlink("settings.ini", link);  // relative to the link's folder
    std::string error;
    ASSERT_TRUE(ReplaceFile(link.string(), "new", error)) << error;
    EXPECT_EQ(Read(file), "new");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);

    // Links in a loop: an error, nothing written.
    fs::create_symlink("b", dir.Path() / "a");
    fs::create_symlink("a", dir.Path() / "b");
    EXPECT_FALSE(ReplaceFile((dir.Path() / "a").string(), "x", error));
    EXPECT_NE(error.find("symbolic links"), std::string::npos);

    // A folder that cannot take the temporary file: the old file stays whole.
    EXPECT_FALSE(ReplaceFile((dir.Path() / "missing" / "f.ini").string(), "x", error));
    EXPECT_EQ(Read(file), "new");
}

TEST(AtomicFile, ReadsOnlyRegularFilesWithinTheBound) {
    osprey::testing::TempDir dir;
    EXPECT_EQ(ReadSmallFile((dir.Path() / "none").string(), 10).state, FileState::kAbsent);
    const std::string file = dir.Write("f", "0123456789");
    FileText read = ReadSmallFile(file, 10);
    EXPECT_EQ(read.state, FileState::kRead);
    EXPECT_EQ(read.text, "0123456789");
    EXPECT_EQ(ReadSmallFile(file, 9).state, FileState::kUnreadable);
    EXPECT_EQ(ReadSmallFile(dir.Path().string(), 10).state, FileState::kUnreadable);
    ASSERT_EQ(mkfifo((dir.Path() / "fifo").c_str(), 0600), 0);
    FileText fifo = ReadSmallFile((dir.Path() / "fifo").string(), 10);  // does not block
    EXPECT_EQ(fifo.state, FileState::kUnreadable);
    EXPECT_NE(fifo.why.find("not a regular file"), std::string::npos);
}

}  // namespace
}  // namespace kcom
