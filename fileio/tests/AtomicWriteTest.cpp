// Files replaced whole (through links when asked, keeping permissions, never leaving
// half a file or a temporary one) and read only when they are regular files
// within their bound.
#include "AtomicWrite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "RegularFile.h"
#include "TempFile.h"

namespace fileio {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(AtomicWrite, ReplacesWholeKeepingPermissionsAndFollowingLinks) {
    testsupport::TempDir dir;
    const fs::path file = dir.Path() / "settings.ini";
    std::ofstream(file) << "old";
    fs::permissions(file, fs::perms(0640));
    const fs::path link = dir.Path() / "link.ini";
    fs::create_symlink("settings.ini", link);  // relative to the link's folder
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(link.string(), "new", error, LinkUse::kWriteThrough)) << error;
    EXPECT_EQ(Read(file), "new");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);

    // Links in a loop: an error, nothing written.
    fs::create_symlink("b", dir.Path() / "a");
    fs::create_symlink("a", dir.Path() / "b");
    EXPECT_FALSE(
        WriteFileAtomically((dir.Path() / "a").string(), "x", error, LinkUse::kWriteThrough));
    EXPECT_NE(error.find("symbolic links"), std::string::npos);

    // A folder that cannot take the temporary file: the old file stays whole.
    EXPECT_FALSE(WriteFileAtomically((dir.Path() / "missing" / "f.ini").string(), "x", error,
                                     LinkUse::kReplaceLink));
    EXPECT_EQ(Read(file), "new");
}

TEST(RegularFile, ReadsOnlyRegularFilesWithinTheBound) {
    testsupport::TempDir dir;
    std::string text;
    std::string problem;
    EXPECT_EQ(ReadRegularFile((dir.Path() / "none").string(), 10, text, problem),
              ReadStatus::kMissing);
    const std::string file = dir.Write("f", "0123456789");
    EXPECT_EQ(ReadRegularFile(file, 10, text, problem), ReadStatus::kRead);
    EXPECT_EQ(text, "0123456789");
    EXPECT_EQ(ReadRegularFile(file, 9, text, problem), ReadStatus::kRefused);
    EXPECT_EQ(ReadRegularFile(dir.Path().string(), 10, text, problem), ReadStatus::kRefused);
    ASSERT_EQ(mkfifo((dir.Path() / "fifo").c_str(), 0600), 0);
    // Does not block on a FIFO with no writer.
    EXPECT_EQ(ReadRegularFile((dir.Path() / "fifo").string(), 10, text, problem),
              ReadStatus::kRefused);
    EXPECT_NE(problem.find("not a regular file"), std::string::npos);
}

}  // namespace
}  // namespace fileio
