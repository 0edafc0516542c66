#include "LockFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PseudoTerminal.h"
#include "ScopedEnv.h"

namespace serialio {
namespace {

using testsupport::LockFolder;

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
    testsupport::PseudoTerminal pty;
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

TEST(LockFileTest, LiveHolderIsHonouredInEveryUsualForm) {
    LockFolder folder;
    std::string path = folder.Path() + "/LCK..ttyS9";
    const int parent = getppid();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(&parent), 4);
    LockOutcome binary = TakeLock("/dev/ttyS9", folder.Path());
    EXPECT_EQ(binary.status, LockStatus::kHeld);
    EXPECT_EQ(binary.holder, parent);

    std::ofstream(path) << " \t  " << parent;  // blanks before, no line end
    EXPECT_EQ(TakeLock("/dev/ttyS9", folder.Path()).holder, parent);
    std::ofstream(path) << parent << "\n";  // no blanks at all
    EXPECT_EQ(TakeLock("/dev/ttyS9", folder.Path()).holder, parent);
}

// A live child of this test, until `hold` is closed; pid -1 when none came.
struct LiveChild {
    pid_t pid = -1;
    int hold = -1;
};

bool IsDigit(unsigned byte) {
    return byte >= '0' && byte <= '9';
}

// A PID whose binary int begins with an ASCII digit and goes on with a byte
// that is none ("9O\0\0" for 0x4f39).
bool DigitLed(pid_t pid) {
    const auto bits = static_cast<unsigned>(pid);
    return IsDigit(bits & 0xffu) && !IsDigit((bits >> 8) & 0xffu);
}

LiveChild StartChildWithDigitLedPid() {
    for (int attempt = 0; attempt < 4000; ++attempt) {
        std::array<int, 2> pipeEnds{};
        if (pipe(pipeEnds.data()) != 0) {
            break;
        }
        pid_t pid = fork();
        if (pid < 0) {
            close(pipeEnds[0]);
            close(pipeEnds[1]);
            break;
        }
        if (pid == 0) {
            close(pipeEnds[1]);
            char byte = 0;
            ssize_t ignored = read(pipeEnds[0], &byte, 1);  // until the parent closes its end
            (void)ignored;
            _exit(0);
        }
        close(pipeEnds[0]);
        if (DigitLed(pid)) {
            return {pid, pipeEnds[1]};
        }
        close(pipeEnds[1]);
        waitpid(pid, nullptr, 0);
    }
    return {};
}

TEST(LockFileTest, BinaryPidWhoseFirstByteIsADigitIsReadWhole) {
    LiveChild child = StartChildWithDigitLedPid();
    if (child.pid < 0) {
        GTEST_SKIP() << "no PID beginning with a digit byte came up";
    }
    LockFolder folder;
    std::string path = folder.Path() + "/LCK..ttyS9";
    const int pid = child.pid;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(&pid), 4);
    LockOutcome lock = TakeLock("/dev/ttyS9", folder.Path());
    close(child.hold);
    waitpid(child.pid, nullptr, 0);
    EXPECT_EQ(lock.status, LockStatus::kHeld);
    EXPECT_EQ(lock.holder, pid);
}

TEST(LockFileTest, LockNamingThisProcessThatItNeverMadeIsAnEarlierRunsAndIsStale) {
    LockFolder folder;
    std::string path = folder.Path() + "/LCK..ttyS7";
    WriteLock(path, getpid());  // as a run before this one with the same PID left it
    LockOutcome reused = TakeLock("/dev/ttyS7", folder.Path());
    EXPECT_EQ(reused.status, LockStatus::kTaken);
    EXPECT_EQ(ReadText(path), std::string(10 - std::to_string(getpid()).size(), ' ') +
                                  std::to_string(getpid()) + "\n");

    // One this process made is another opener's of ours, still holding the port.
    LockOutcome again = TakeLock("/dev/ttyS7", folder.Path());
    EXPECT_EQ(again.status, LockStatus::kHeld);
    EXPECT_EQ(again.holder, getpid());
    ReleaseLock(path.c_str());
}

TEST(LockFileTest, EmptyLockIsAnotherOpenerWritingItOnlyForAMoment) {
    LockFolder folder;
    std::string path = folder.Path() + "/LCK..ttyS9";
    std::ofstream(path).close();  // just made: its owner is still writing it
    LockOutcome young = TakeLock("/dev/ttyS9", folder.Path());
    EXPECT_EQ(young.status, LockStatus::kHeld);
    EXPECT_EQ(young.holder, 0);
    EXPECT_EQ(ReadText(path), "");

    std::array<timespec, 2> longAgo{{{1000, 0}, {1000, 0}}};  // left by a crash
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), longAgo.data(), 0), 0);
    EXPECT_EQ(TakeLock("/dev/ttyS9", folder.Path()).status, LockStatus::kTaken);
    EXPECT_EQ(std::stoi(ReadText(path)), getpid());
}

TEST(LockFileTest, ReleaseRemovesOnlyALockThatNamesThisProcess) {
    LockFolder folder;
    LockOutcome lock = TakeLock("/dev/ttyS9", folder.Path());
    ASSERT_EQ(lock.status, LockStatus::kTaken);
    WriteLock(lock.path, getppid());  // another opener's by now
    ReleaseLock(lock.path.c_str());
    EXPECT_EQ(std::stoi(ReadText(lock.path)), getppid());
    WriteLock(lock.path, getpid());
    ReleaseLock(lock.path.c_str());
    EXPECT_FALSE(std::filesystem::exists(lock.path));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 0);
}

TEST(LockFileTest, LinkOrFolderAtTheNameIsNoLockAndIsLeftAlone) {
    LockFolder folder;
    std::string path = folder.Path() + "/LCK..ttyS9";
    std::string victim = folder.Path() + "/victim";
    std::ofstream(victim) << "precious\n";
    ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
    LockOutcome linked = TakeLock("/dev/ttyS9", folder.Path());
    EXPECT_EQ(linked.status, LockStatus::kFailed);
    EXPECT_NE(linked.problem.find("is not a lock file"), std::string::npos) << linked.problem;
    EXPECT_EQ(ReadText(victim), "precious\n");
    EXPECT_TRUE(std::filesystem::is_symlink(path));

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(TakeLock("/dev/ttyS9", folder.Path()).status, LockStatus::kFailed);
    EXPECT_TRUE(std::filesystem::is_directory(path));

    LockOutcome missing = TakeLock("/dev/ttyS9", folder.Path() + "/missing");
    EXPECT_EQ(missing.status, LockStatus::kFailed);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_NE(missing.problem.find("cannot make a lock file in"), std::string::npos);
}

// The holder a folder we may not write in tells of (as root: as the user nobody).
pid_t HolderSeenWithoutWriting(const std::string& folder) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return -1;
    }
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(1);
        }
        LockOutcome lock = TakeLock("/dev/ttyS9", folder);
        pid_t holder = lock.status == LockStatus::kHeld ? lock.holder : -1;
        _exit(write(pipeFds[1], &holder, sizeof holder) == sizeof holder ? 0 : 1);
    }
    close(pipeFds[1]);
    pid_t holder = -1;
    if (read(pipeFds[0], &holder, sizeof holder) != sizeof holder) {
        holder = -1;
    }
    close(pipeFds[0]);
    waitpid(child, nullptr, 0);
    return holder;
}

TEST(LockFileTest, LiveHolderCountsInAFolderWeMayNotWriteIn) {
    LockFolder folder;
    WriteLock(folder.Path() + "/LCK..ttyS9", getpid());
    std::filesystem::permissions(folder.Path(), std::filesystem::perms::owner_all |
                                                    std::filesystem::perms::group_read |
                                                    std::filesystem::perms::group_exec |
                                                    std::filesystem::perms::others_read |
                                                    std::filesystem::perms::others_exec);
    if (geteuid() != 0) {
        std::filesystem::permissions(folder.Path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
    }
    EXPECT_EQ(HolderSeenWithoutWriting(folder.Path()), getpid());
    std::filesystem::permissions(folder.Path(), std::filesystem::perms::owner_all);
}

// One opener of a race: waits for the start, takes the lock, tells whether
// the lock file names it, and keeps it until the parent says so.
[[noreturn]] void Contend(const std::string& folder, int start, int tried, int release) {
    char go = 0;
    if (read(start, &go, 1) != 1) {
        _exit(3);
    }
    LockOutcome lock = TakeLock("/dev/ttyS9", folder);
    int result = 0;  // not taken
    if (lock.status == LockStatus::kTaken) {
        std::array<char, 32> text{};
        int fd = open(lock.path.c_str(), O_RDONLY);
        ssize_t n = fd >= 0 ? read(fd, text.data(), text.size() - 1) : -1;
        result = n > 0 && std::atoi(text.data()) == getpid() ? 1 : 2;
        close(fd);
    }
    if (write(tried, "x", 1) != 1 || read(release, &go, 1) != 1) {
        _exit(3);
    }
    ReleaseLock(lock.path.c_str());
    _exit(result);
}

TEST(LockFileTest, TwoOpenersAtOnceLeaveOneHolderWithALockNamingIt) {
    LockFolder folder;
    for (int round = 0; round < 1000; ++round) {
        if (round % 2 == 1) {  // both find a stale lock to clear first
            WriteLock(folder.Path() + "/LCK..ttyS9", 2147483632);  // beyond any PID
        }
        std::array<int, 2> start{}, tried{}, release{};
        ASSERT_EQ(pipe(start.data()), 0);
        ASSERT_EQ(pipe(tried.data()), 0);
        ASSERT_EQ(pipe(release.data()), 0);
        std::array<pid_t, 2> openers{};
        for (pid_t& opener : openers) {
            opener = fork();
            if (opener == 0) {
                Contend(folder.Path(), start[0], tried[1], release[0]);
            }
        }
        char marks[2] = {};
        ASSERT_EQ(write(start[1], "go", 2), 2);
        for (int seen = 0; seen < 2;) {  // both have tried while the holder holds
            ssize_t n = read(tried[0], marks, 2 - static_cast<size_t>(seen));
            ASSERT_GT(n, 0);
            seen += static_cast<int>(n);
        }
        ASSERT_EQ(write(release[1], "go", 2), 2);
        std::array<int, 3> results{};
        for (pid_t opener : openers) {
            int status = 0;
            waitpid(opener, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 2);
            ++results[static_cast<size_t>(WEXITSTATUS(status))];
        }
        for (int fd : {start[0], start[1], tried[0], tried[1], release[0], release[1]}) {
            close(fd);
        }
        ASSERT_EQ(results[2], 0) << "round " << round << ": a holder without its lock file";
        ASSERT_EQ(results[1], 1) << "round " << round;
        ASSERT_FALSE(std::filesystem::exists(folder.Path() + "/LCK..ttyS9")) << round;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));  // no draft or stale copy left
}

TEST(LockFileTest, FolderFromTheEnvironmentOrTheSystemOnes) {
    testsupport::ScopedEnv unnamed("KR470_LOCK_DIR", std::nullopt);
    {
        LockFolder folder;
        EXPECT_EQ(LockDirectory(), folder.Path());
        EXPECT_TRUE(LockDirectoryNamed());
        testsupport::ScopedEnv named("KR470_LOCK_DIR",
                                     "/nonexistent/locks");  // kept, to be refused
        EXPECT_EQ(LockDirectory(), "/nonexistent/locks");
    }
    EXPECT_FALSE(LockDirectoryNamed());
    std::string system = LockDirectory();
    EXPECT_TRUE(system.empty() || system == "/run/lock" || system == "/var/lock") << system;
}

}  // namespace
}  // namespace serialio
