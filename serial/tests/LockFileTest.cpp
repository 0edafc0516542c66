#include "LockFile.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "PseudoTerminal.h"

namespace serialio {
namespace {

using testing::LockFolder;

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteLock(const std::string& path, pid_t pid) {
    std::ofstream(path) << std::string(10 - std::to_string(pid).size(), ' ') << pid << '\n';
}

pid_t DeadProcess() {
    pid_t pid = fork();
    if (pid == 0) {
        _exit(0);
    }
    waitpid(pid, nullptr, 0);
    return pid;
}

TEST(LockFileTest, NamesFollowTheDeviceBehindAnyLink) {
    EXPECT_EQ(LockNameFor("/dev/ttyUSB0"), "LCK..ttyUSB0");
    testing::PseudoTerminal pty;
    std::string number = pty.Path().substr(pty.Path().rfind('/') + 1);
    EXPECT_EQ(LockNameFor(pty.Path()), "LCK..pts_" + number);
    LockFolder folder;
    std::string link = folder.Path() + "/instrument";
    ASSERT_EQ(symlink(pty.Path().c_str(), link.c_str()), 0);
    EXPECT_EQ(LockNameFor(link), "LCK..pts_" + number);
}

TEST(LockFileTest, TakenLockHoldsThePidAsTenCharacters) {
    LockFolder folder;
    LockOutcome lock = TakeLock("/dev/ttyS9", folder.Path());
    ASSERT_EQ(lock.status, LockStatus::kTaken);
    EXPECT_EQ(lock.path, folder.Path() + "/LCK..ttyS9");
    std::string text = ReadText(lock.path);
    ASSERT_EQ(text.size(), 11u);
    EXPECT_EQ(std::stoi(text), getpid());
    EXPECT_EQ(text.back(), '\n');
}

TEST(LockFileTest, LiveHolderRefusesAndDeadHolderIsCleared) {
    LockFolder folder;
    std::string path = folder.Path() + "/LCK..ttyS9";
    WriteLock(path, getppid());
    LockOutcome held = TakeLock("/dev/ttyS9", folder.Path());
    EXPECT_EQ(held.status, LockStatus::kHeld);
    EXPECT_EQ(held.holder, getppid());
    EXPECT_EQ(std::stoi(ReadText(path)), getppid());  // left alone

    WriteLock(path, DeadProcess());
    LockOutcome taken = TakeLock("/dev/ttyS9", folder.Path());
    EXPECT_EQ(taken.status, LockStatus::kTaken);
    EXPECT_EQ(std::stoi(ReadText(path)), getpid());

    std::ofstream(path) << "garbage\n";  // names no process: stale
    EXPECT_EQ(TakeLock("/dev/ttyS9", folder.Path()).status, LockStatus::kTaken);
}

TEST(LockFileTest, FolderFromTheEnvironmentOrTheSystemOnes) {
    {
        LockFolder folder;
        EXPECT_EQ(LockDirectory(), folder.Path());
    }
    std::string system = LockDirectory();
    EXPECT_TRUE(system.empty() || system == "/run/lock" || system == "/var/lock") << system;
}

}  // namespace
}  // namespace serialio
