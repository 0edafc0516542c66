// Osprey on a line paced like a real one: the simulator reads at the set baud
// rate. Updates at slow and fast rates, the port's settings and lock after a
// run, and runs ended by SIGINT at random points.
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "Process.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"

namespace osprey {
namespace {

using testsupport::ProcessResult;
using testsupport::Simulator;
using testsupport::TempDir;

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t CountLines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

void ExpectSameSettings(const termios& a, const termios& b) {
    EXPECT_EQ(a.c_iflag, b.c_iflag);
    EXPECT_EQ(a.c_oflag, b.c_oflag);
    EXPECT_EQ(a.c_cflag, b.c_cflag);
    EXPECT_EQ(a.c_lflag, b.c_lflag);
    EXPECT_EQ(a.c_line, b.c_line);
    for (size_t i = 0; i < NCCS; ++i) {
        EXPECT_EQ(a.c_cc[i], b.c_cc[i]) << "c_cc[" << i << "]";
    }
    EXPECT_EQ(cfgetispeed(&a), cfgetispeed(&b));
    EXPECT_EQ(cfgetospeed(&a), cfgetospeed(&b));
}

class SerialLineTest : public ::testing::Test {
  protected:
    SerialLineTest() {
        device_ = (dir_.Path() / "kr470").string();
        locks_ = dir_.Path() / "locks";
        std::filesystem::create_directory(locks_);
        dir_.Write("ports.ini", "[COM7]\ndevice = " + device_ + "\n");
    }
    ~SerialLineTest() override { close(port_); }

    // Starts the simulator and notes the port's settings as Osprey will find them.
    void StartSimulator(uint32_t baud, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {
            SIMULATOR_PATH,      "--link", device_, "--transcript", Transcript().string(), "--baud",
            std::to_string(baud)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        simulator_ = std::make_unique<Simulator>(argv);
        ASSERT_FALSE(simulator_->FirstLine().empty());
        port_ = open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(port_, 0);
        ASSERT_EQ(tcgetattr(port_, &before_), 0);
    }

    void WriteUpdateFile(size_t records) {
        kr470::UpdateFileInput input;
        input.records = kr470::GenerateImage(records * 32, 16, "KR470A 1.05");
        input.revision = "1.05";
        input.description = {"KR470A firmware 1.05"};
        dir_.Write("UPDATE.INI", kr470::BuildUpdateFile(input));
    }

    std::vector<std::string> Environment() const {
        return {"OSPREY_PORTS=" + (dir_.Path() / "ports.ini").string(),
                "OSPREY_RESET_STEP_MS=" + std::to_string(resetStepMs_),
                "KR470_LOCK_DIR=" + locks_.string()};
    }

    ProcessResult Osprey(std::vector<std::string> words, const std::string& answers) {
        words.insert(words.begin(), OSPREY_PATH);
        return testsupport::RunProcess(words, answers, Environment(), dir_.Path().string());
    }

    std::filesystem::path Transcript() const { return dir_.Path() / "transcript.txt"; }
    std::filesystem::path LockFile() const {
        std::string real = std::filesystem::canonical(device_).string();
        std::string name = real.substr(5);
        std::replace(name.begin(), name.end(), '/', '_');
        return locks_ / ("LCK.." + name);
    }

    // The port as the next user finds it: same settings, not exclusive, no
    // lock, and free to be taken at once.
    void ExpectPortLeftAsFound() {
        termios after{};
        ASSERT_EQ(tcgetattr(port_, &after), 0);
        ExpectSameSettings(before_, after);
        int exclusive = 1;
        ASSERT_EQ(ioctl(port_, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
        EXPECT_FALSE(std::filesystem::exists(LockFile()));
        int again = open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(again, 0);
        EXPECT_EQ(flock(again, LOCK_EX | LOCK_NB), 0);
        close(again);
    }

    TempDir dir_;
    std::string device_;
    std::filesystem::path locks_;
    std::unique_ptr<Simulator> simulator_;
    int port_ = -1;
    termios before_{};
    // Long enough for "dlo:comp" to cross a 2400-baud line before the close
    // abandons what is still queued.
    int resetStepMs_ = 40;
};

struct LineCase {
    uint32_t baud;
    bool strict;
    size_t records;  // small at slow rates: the matrix stays quick
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.baud << (c.strict ? " strict, " : " normal, ") << c.records << " records";
}

class PacedUpdateTest : public SerialLineTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(PacedUpdateTest, CommitsAndLeavesThePortAsItWas) {
    const LineCase& c = GetParam();
    StartSimulator(c.baud);
    WriteUpdateFile(c.records);
    std::vector<std::string> words = {"/FUPDATE.INI", "/ACOM7::Baud=" + std::to_string(c.baud)};
    if (c.strict) {
        words.push_back("/C");
    }
    ProcessResult r = Osprey(words, "y\n\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("\nSuccessfully updated instrument firmware.\n"), std::string::npos)
        << r.output;
    ExpectPortLeftAsFound();
    EXPECT_NE(ReadText(Transcript()).find("\ndlo:comp "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Rates, PacedUpdateTest,
                         ::testing::Values(LineCase{2400, false, 3}, LineCase{2400, true, 3},
                                           LineCase{9600, false, 12}, LineCase{9600, true, 12},
                                           LineCase{57600, false, 60}, LineCase{57600, true, 60},
                                           LineCase{115200, false, 60}, LineCase{115200, true, 60}),
                         [](const auto& info) {
                             return std::to_string(info.param.baud) +
                                    (info.param.strict ? "Strict" : "Normal");
                         });

// More than 12 s of line time: written all at once, the backlog would outlast
// the wait for the reply that follows the pass.
TEST_F(SerialLineTest, LongPassAt9600NeverOutrunsTheReplyWait) {
    StartSimulator(9600);
    WriteUpdateFile(160);
    ProcessResult r = Osprey({"/FUPDATE.INI", "/ACOM7::Baud=9600"}, "y\n\n");
    EXPECT_NE(r.output.find("\nSuccessfully updated instrument firmware.\n"), std::string::npos)
        << r.output;
}

TEST_F(SerialLineTest, LiveLockRefusesDeadLockIsTaken) {
    StartSimulator(115200);
    std::ofstream(LockFile()) << "      " << getppid() << "\n";
    ProcessResult held = Osprey({"/ACOM7"}, "");
    EXPECT_EQ(held.output,
              "\nAn unknown error occurred!\nUpdate of firmware FAILED!\n\nPress Enter to exit.");
    EXPECT_NE(held.errors.find("held by PID " + std::to_string(getppid())), std::string::npos)
        << held.errors;
    EXPECT_TRUE(std::filesystem::exists(LockFile()));  // another's lock stays

    pid_t dead = fork();
    if (dead == 0) {
        _exit(0);
    }
    waitpid(dead, nullptr, 0);
    std::ofstream(LockFile()) << "      " << dead << "\n";
    ProcessResult taken = Osprey({"/ACOM7"}, "");
    EXPECT_NE(taken.output.find("Velmora,KR470A"), std::string::npos) << taken.output;
    ExpectPortLeftAsFound();
}

TEST_F(SerialLineTest, LinkAtTheLockNameInTheNamedFolderRefusesThePort) {
    StartSimulator(115200);
    std::filesystem::create_symlink(dir_.Path() / "elsewhere", LockFile());
    ProcessResult refused = Osprey({"/ACOM7"}, "");
    EXPECT_EQ(refused.output,
              "\nAn unknown error occurred!\nUpdate of firmware FAILED!\n\nPress Enter to exit.");
    EXPECT_NE(refused.errors.find(LockFile().string() + " is not a lock file"), std::string::npos)
        << refused.errors;
    EXPECT_NE(refused.errors.find("unset KR470_LOCK_DIR"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "elsewhere"));  // nothing made through it
    EXPECT_TRUE(std::filesystem::is_symlink(LockFile()));
    EXPECT_TRUE(ReadText(Transcript()).empty());
}

TEST_F(SerialLineTest, OpenFailuresAreExplainedOnStandardError) {
    ProcessResult absent = Osprey({"/ACOM7"}, "");
    EXPECT_EQ(absent.output,
              "\nAn unknown error occurred!\nUpdate of firmware FAILED!\n\nPress Enter to exit.");
    EXPECT_NE(absent.errors.find(device_), std::string::npos) << absent.errors;
    EXPECT_NE(absent.errors.find("No such file or directory"), std::string::npos);
    EXPECT_NE(absent.errors.find("/dev/serial/by-id/"), std::string::npos);

    ProcessResult path = Osprey({"/A/dev/ttyUSB0"}, "");
    EXPECT_EQ(
        path.output,
        "\nI/O Parameter error occurred!\nUpdate of firmware FAILED!\n\nPress Enter to exit.");
    EXPECT_NE(path.errors.find("Osprey takes COM<n>"), std::string::npos) << path.errors;
    EXPECT_NE(path.errors.find("device = /dev/ttyUSB0"), std::string::npos);
}

// Waits (in poll, up to 10 s) until the transcript holds `lines` lines.
bool WaitForTranscriptLines(const std::filesystem::path& path, size_t lines) {
    int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    inotify_add_watch(watch, path.parent_path().c_str(), IN_MODIFY | IN_CREATE);
    bool reached = false;
    for (int wakeups = 0; !reached && wakeups < 100000; ++wakeups) {
        reached = CountLines(ReadText(path)) >= lines;
        pollfd pfd{watch, POLLIN, 0};
        if (!reached && poll(&pfd, 1, 10000) <= 0) {
            break;
        }
        std::array<char, 4096> events{};
        while (read(watch, events.data(), events.size()) > 0) {
        }
    }
    close(watch);
    return reached;
}

// Waits (in poll on a process descriptor) up to waitMs for the child to end.
bool EndsWithin(pid_t pid, int waitMs, int& status) {
    int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd pfd{handle, POLLIN, 0};
    bool ended = poll(&pfd, 1, waitMs) == 1;
    close(handle);
    if (!ended) {
        kill(pid, SIGKILL);
    }
    waitpid(pid, &status, 0);
    return ended;
}

class InterruptTest : public SerialLineTest, public ::testing::WithParamInterface<int> {};

TEST_P(InterruptTest, SigintAnywhereReleasesThePortAtOnce) {
    std::mt19937 random(static_cast<uint32_t>(470 + GetParam()));
    const size_t records = 40;
    WriteUpdateFile(records);
    for (int run = 0; run < 8; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        StartSimulator(57600);
        // Anywhere from the first question to the last record of the pass.
        size_t line = std::uniform_int_distribution<size_t>(2, 4 + records)(random);
        int in[2], out[2], err[2];
        ASSERT_EQ(pipe2(in, O_CLOEXEC) | pipe2(out, O_CLOEXEC) | pipe2(err, O_CLOEXEC), 0);
        // Osprey at the simulator's rate: the paced reader keeps the pass long
        // enough to be hit anywhere, without the port's default 9600 on top.
        pid_t pid = testsupport::Spawn({OSPREY_PATH, "/FUPDATE.INI", "/ACOM7::Baud=57600"},
                                       Environment(), dir_.Path().string(), in[0], out[1], err[1]);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        ASSERT_EQ(write(in[1], "y\n\n", 3), 3);
        close(in[1]);
        ASSERT_TRUE(WaitForTranscriptLines(Transcript(), line));
        kill(pid, SIGINT);
        int status = 0;
        EXPECT_TRUE(EndsWithin(pid, 1000, status));
        std::string output = testsupport::ReadAll(out[0]);
        std::string errors = testsupport::ReadAll(err[0]);
        close(out[0]);
        close(err[0]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT) << status;
        ExpectPortLeftAsFound();
        close(port_);
        port_ = -1;
        simulator_->Stop();
        const std::string received = ReadText(Transcript());
        EXPECT_EQ(received.find("dlo:comp"), std::string::npos) << output;
        // The advice follows what was sent; it may warn a moment early, never late.
        const bool started = received.find("dlo:start") != std::string::npos;
        const bool warned = errors.find("may now identify as a loader") != std::string::npos &&
                            errors.find("run the same update again") != std::string::npos;
        EXPECT_TRUE(started ? warned
                            : warned || errors.find("firmware is unchanged") != std::string::npos)
            << errors;
        std::filesystem::remove(Transcript());
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, InterruptTest, ::testing::Values(0, 1, 2));

}  // namespace
}  // namespace osprey
