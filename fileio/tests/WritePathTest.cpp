// The one rule for files the tools write: another user's link in a sticky
// folder is never followed, nothing is created through a link, a link is
// replaced rather than written through unless asked, only regular files are
// written and no open blocks.
#include "WritePath.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "AtomicWrite.h"
#include "SharedFolder.h"
#include "TempFile.h"

namespace fileio {
namespace {

namespace fs = std::filesystem;
using testsupport::SharedFolder;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Append(const std::string& path, const std::string& text, std::string& problem) {
    int fd = OpenForAppending(path, problem);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

TEST(WritePath, AnotherUsersLinkInAStickyFolderIsNeverFollowed) {
    if (!SharedFolder::CanActAsAnotherUser())
        GTEST_SKIP() << "needs root to make another user's link";
    SharedFolder shared;
    const fs::path victim = shared.Top() / "victim";
    std::ofstream(victim) << "victim's";
    const std::string link = shared.Link("report.json", victim);
    ASSERT_FALSE(link.empty());
    std::string problem;

    EXPECT_FALSE(Append(link, "x", problem));
    EXPECT_NE(problem.find("another user's symbolic link"), std::string::npos) << problem;
    EXPECT_FALSE(WriteFileAtomically(link, "x", problem, LinkUse::kWriteThrough));
    EXPECT_FALSE(CheckReplaceable(link, LinkUse::kWriteThrough, problem));
    EXPECT_EQ(Read(victim), "victim's");
    // Replacing the name itself leaves the victim alone.
    EXPECT_TRUE(CheckReplaceable(link, LinkUse::kReplaceLink, problem)) << problem;
    EXPECT_TRUE(WriteFileAtomically(link, "report", problem, LinkUse::kReplaceLink)) << problem;
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(Read(link), "report");
    EXPECT_EQ(Read(victim), "victim's");

    // A dangling link creates nothing where the other user chose.
    const std::string dangling = shared.Link("log", shared.Top() / "made");
    EXPECT_FALSE(Append(dangling, "x", problem));
    EXPECT_FALSE(fs::exists(shared.Top() / "made"));

    // A folder on the way that is the other user's link: refused too.
    fs::create_directory(shared.Top() / "private");
    const std::string folder = shared.Link("logs", shared.Top() / "private");
    EXPECT_FALSE(Append(folder + "/01.log", "x", problem));
    EXPECT_FALSE(fs::exists(shared.Top() / "private" / "01.log"));

    // Nor is a folder made through such a link (fleet's --log-dir, say).
    EXPECT_FALSE(MakeFolders(folder + "/run/logs", problem));
    EXPECT_FALSE(fs::exists(shared.Top() / "private" / "run"));
    EXPECT_TRUE(MakeFolders((shared.Path() / "mine" / "logs").string(), problem)) << problem;

    // The folder owner's (root's) link is followed, as the kernel does.
    const std::string own = shared.Link("own.log", victim, 0);
    EXPECT_TRUE(Append(own, "+", problem)) << problem;
    EXPECT_EQ(Read(victim), "victim's+");
}

TEST(WritePath, OurOwnLinksAreFollowedOnlyToAFileThatIsThere) {
    testsupport::TempDir dir;
    const fs::path file = dir.Path() / "kept.log";
    std::ofstream(file) << "a";
    fs::create_symlink("kept.log", dir.Path() / "link.log");
    fs::create_symlink("none.log", dir.Path() / "dangling.log");
    std::string problem;
    EXPECT_TRUE(Append((dir.Path() / "link.log").string(), "b", problem)) << problem;
    EXPECT_EQ(Read(file), "ab");

    EXPECT_FALSE(Append((dir.Path() / "dangling.log").string(), "b", problem));
    EXPECT_NE(problem.find("symbolic link to no file"), std::string::npos) << problem;
    EXPECT_FALSE(fs::exists(dir.Path() / "none.log"));

    // Replaced whole: the link named, unless written through; a dangling
    // chain is replaced itself even then.
    const std::string link = (dir.Path() / "link.log").string();
    EXPECT_TRUE(WriteFileAtomically(link, "report", problem, LinkUse::kReplaceLink)) << problem;
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(Read(file), "ab");
    const std::string dangling = (dir.Path() / "dangling.log").string();
    EXPECT_TRUE(WriteFileAtomically(dangling, "x", problem, LinkUse::kWriteThrough)) << problem;
    EXPECT_FALSE(fs::is_symlink(dangling));
    EXPECT_FALSE(fs::exists(dir.Path() / "none.log"));
}

TEST(WritePath, OnlyRegularFilesAreWrittenAndNoOpenBlocks) {
    testsupport::TempDir dir;
    const std::string fifo = (dir.Path() / "result.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string problem;
    EXPECT_FALSE(Append(fifo, "x", problem));  // no reader: would block without O_NONBLOCK
    EXPECT_NE(problem.find("FIFO"), std::string::npos) << problem;
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(Append(fifo, "x", problem));
    EXPECT_NE(problem.find("a FIFO, not a regular file"), std::string::npos) << problem;
    ::close(reader);
    for (const std::string& path :
         {std::string("/dev/full"), std::string("/dev/null"), dir.Path().string()}) {
        EXPECT_FALSE(Append(path, "x", problem)) << path;
        EXPECT_FALSE(CheckReplaceable(path, LinkUse::kReplaceLink, problem)) << path;
    }
    EXPECT_TRUE(
        CheckReplaceable((dir.Path() / "new.json").string(), LinkUse::kReplaceLink, problem))
        << problem;
}

// Run as the other user in a child: what CheckReplaceable says of `path`.
bool ReplaceableAsAnotherUser(const std::string& path) {
    pid_t child = ::fork();
    if (child == 0) {
        std::string problem;
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(2);
        ::_exit(CheckReplaceable(path, LinkUse::kReplaceLink, problem) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(WritePath, AnotherUsersFileInAStickyFolderIsFoundUnreplaceableBeforehand) {
    if (!SharedFolder::CanActAsAnotherUser())
        GTEST_SKIP() << "needs root to act as another user";
    SharedFolder shared;
    const fs::path theirs = shared.Path() / "report.json";
    std::ofstream(theirs) << "root's";
    ::chmod(theirs.c_str(), 0666);  // writable, yet the sticky folder forbids renaming over it
    EXPECT_FALSE(ReplaceableAsAnotherUser(theirs.string()));
    const fs::path mine = shared.Path() / "mine.json";
    std::ofstream(mine) << "nobody's";
    ASSERT_EQ(::chown(mine.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(ReplaceableAsAnotherUser(mine.string()));
    EXPECT_TRUE(ReplaceableAsAnotherUser((shared.Path() / "new.json").string()));
}

}  // namespace
}  // namespace fileio
