// Osprey given what a careless user, a full disk or a local attacker would
// give it: devices, FIFOs and folders as its files, links where it writes.
// Every case must end within its time-out with a clear message, in bounded
// memory, and change nothing outside the test's folder.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TempFile.h"
#include "UpdateFileBuilder.h"

namespace osprey {
namespace {

constexpr int kCaseTimeoutMs = 10000;
constexpr long kMostKilobytes = 64 * 1024;  // far above what a sound run needs

struct Outcome {
    bool timedOut = false;
    int status = -1;
    std::string output;  // standard output and standard error together
    long peakKilobytes = 0;
};

// Runs `argv` in `folder` with `environment` only and no input, killing it
// when it outlives the time-out.
Outcome RunBounded(const std::vector<std::string>& argv,
                   const std::vector<std::string>& environment, const std::string& folder) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        int none = open("/dev/null", O_RDONLY);
        if (chdir(folder.c_str()) != 0 || none < 0)
            _exit(126);
        dup2(none, 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        std::vector<char*> args, env;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        for (const std::string& e : environment)
            env.push_back(const_cast<char*>(e.c_str()));
        args.push_back(nullptr);
        env.push_back(nullptr);
        execve(args[0], args.data(), env.data());
        _exit(127);
    }
    close(out[1]);
    Outcome outcome;
    char buffer[4096];
    for (int waited = 0;; waited += 20) {
        pollfd pfd{out[0], POLLIN, 0};
        if (poll(&pfd, 1, 20) > 0) {
            ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            if (outcome.output.size() < 65536)
                outcome.output.append(buffer, static_cast<size_t>(n));
        }
        if (waited > kCaseTimeoutMs) {
            outcome.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.peakKilobytes = usage.ru_maxrss;
    return outcome;
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class HostileInputTest : public ::testing::Test {
  protected:
    HostileInputTest() {
        folder_ = dir_.Path().string();
        // COM1 names no device: nothing here may reach a real port.
        dir_.Write("ports.ini", "[COM1]\ndevice = " + folder_ + "/no-such-tty\n");
        kr470::UpdateFileInput input;
        input.records = kr470::GenerateImage(4 * 32, 3, "KR470A 1.05");
        input.revision = "1.05";
        for (int i = 0; i < 400; ++i)
            input.description.push_back(std::string(90, static_cast<char>('a' + i % 26)));
        dir_.Write("UPDATE.INI", kr470::BuildUpdateFile(input));
        dir_.Write("victim", "precious");
        mkfifo((dir_.Path() / "fifo").c_str(), 0600);
    }

    Outcome Osprey(std::vector<std::string> words, const std::string& ports = "ports.ini",
                   const std::string& folder = "") {
        words.insert(words.begin(), OSPREY_PATH);
        return RunBounded(
            words,
            {"OSPREY_PORTS=" + (ports.starts_with('/') ? ports : folder_ + "/" + ports),
             "OSPREY_RESET_STEP_MS=1", "HOME=" + folder_, "XDG_CONFIG_HOME=" + folder_,
             "PATH=/usr/bin:/bin"},
            folder.empty() ? folder_ : folder);
    }

    // What every case must keep to.
    void ExpectContained(const Outcome& outcome, const std::string& message,
                         const std::string& label) {
        EXPECT_FALSE(outcome.timedOut) << label;
        EXPECT_LT(outcome.peakKilobytes, kMostKilobytes) << label;
        EXPECT_NE(outcome.output.find(message), std::string::npos) << label << " said:\n"
                                                                   << outcome.output;
        EXPECT_EQ(ReadText(dir_.Path() / "victim"), "precious") << label;
    }

    testsupport::TempDir dir_;
    std::string folder_;
};

TEST_F(HostileInputTest, NonFilesAsTheUpdateFileEndAtOnceWithTheirKind) {
    struct Case {
        std::vector<std::string> words;
        std::string message;
    };
    const std::string fifo = folder_ + "/fifo";
    const std::vector<Case> cases = {
        {{"/F/dev/zero"}, "/dev/zero is a character device, not a regular file.\n"},
        {{"/F/dev/urandom"}, "/dev/urandom is a character device, not a regular file.\n"},
        {{"/F/dev/zero", "/D"},
         "\nError:: Could not open INI file /dev/zero.\n/dev/zero is a character device"},
        {{"/F/dev/urandom", "/D"}, "/dev/urandom is a character device, not a regular file.\n"},
        {{"/F" + fifo}, fifo + " is a FIFO, not a regular file.\n"},
        {{"/F" + fifo, "/D"}, fifo + " is a FIFO, not a regular file.\n"},
        {{"/F" + folder_}, folder_ + " is a directory, not a regular file.\n"},
        {{"/F" + folder_, "/D"}, folder_ + " is a directory, not a regular file.\n"},
    };
    for (const Case& c : cases) {
        Outcome outcome = Osprey(c.words);
        ExpectContained(outcome, c.message, c.words[0]);
        // Refused before the port: no estimate, no link error.
        EXPECT_EQ(outcome.output.find("The Update will take"), std::string::npos) << c.words[0];
    }
}

TEST_F(HostileInputTest, ALogThatIsALinkOrAFifoIsNeverWritten) {
    std::filesystem::create_symlink("victim", dir_.Path() / "VlmFirmwareUpdate.log");
    ExpectContained(Osprey({"/L", "/D", "/FUPDATE.INI"}),
                    "Osprey: cannot create log file VlmFirmwareUpdate.log: it is a symbolic "
                    "link; logging is off.\n",
                    "link");
    std::filesystem::remove(dir_.Path() / "VlmFirmwareUpdate.log");
    mkfifo((dir_.Path() / "VlmFirmwareUpdate.log").c_str(), 0600);
    ExpectContained(Osprey({"/L", "/D", "/FUPDATE.INI"}),
                    "Osprey: cannot create log file VlmFirmwareUpdate.log: it is not a regular "
                    "file; logging is off.\n",
                    "fifo");
}

TEST_F(HostileInputTest, APortsFileThatIsNoFileOpensNoPort) {
    for (const std::string& ports : {folder_ + "/fifo", std::string("/dev/zero"), folder_}) {
        Outcome outcome = Osprey({"/FUPDATE.INI", "/ACOM1"}, ports);
        ExpectContained(outcome, "Osprey: cannot use the ports file: " + ports + " is ", ports);
        EXPECT_NE(outcome.output.find("Update of firmware FAILED!"), std::string::npos);
    }
}

// A small file system of its own needs a user and mount namespace; where the
// system allows none, the case is skipped.
TEST_F(HostileInputTest, AFullFileSystemEndsLoggingNotTheRun) {
    const std::string full = folder_ + "/full";
    std::filesystem::create_directory(full);
    const std::string script = "mount -t tmpfs -o size=12k tmpfs '" + full + "' && cd '" + full +
                               "' && exec '" + OSPREY_PATH + "' /L /D '/F" + folder_ +
                               "/UPDATE.INI'";
    Outcome probe = RunBounded({"/usr/bin/unshare", "-rm", "/bin/sh", "-c",
                                "mount -t tmpfs "
                                "-o size=12k tmpfs '" +
                                    full + "'"},
                               {"PATH=/usr/bin:/bin"}, folder_);
    if (probe.status != 0)
        GTEST_SKIP() << "no mount namespace here: " << probe.output;
    Outcome outcome = RunBounded({"/usr/bin/unshare", "-rm", "/bin/sh", "-c", script},
                                 {"PATH=/usr/bin:/bin"}, folder_);
    ExpectContained(outcome,
                    "Osprey: cannot write log file VlmFirmwareUpdate.log: No space left on "
                    "device; logging is off.\n",
                    "full");
    EXPECT_EQ(outcome.status, 0);
    // The whole description reached the screen all the same.
    EXPECT_NE(outcome.output.find(std::string(90, 'a' + 399 % 26) + "\n"), std::string::npos);
    size_t said = outcome.output.find("cannot write log file");
    EXPECT_EQ(outcome.output.find("cannot write log file", said + 1), std::string::npos);
}

}  // namespace
}  // namespace osprey
