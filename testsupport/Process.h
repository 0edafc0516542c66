// Runs a program with the test's standard input, environment and folder, and
// collects its standard output and exit status.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int status = -1;
    std::string output;
    std::string errors;  // standard error
};

inline pid_t Spawn(const std::vector<std::string>& argv,
                   const std::vector<std::string>& environment, const std::string& folder,
                   int inputFd, int outputFd, int errorFd = -1) {
    pid_t pid = fork();
    if (pid == 0) {
        if (!folder.empty() && chdir(folder.c_str()) != 0)
            _exit(126);
        dup2(inputFd, 0);
        dup2(outputFd, 1);
        if (errorFd >= 0)
            dup2(errorFd, 2);
        for (const std::string& assignment : environment)
            putenv(const_cast<char*>(assignment.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

inline std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

inline ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                                const std::vector<std::string>& environment = {},
                                const std::string& folder = "") {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};
    pid_t pid = Spawn(argv, environment, folder, in[0], out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // Answers are small: they fit the pipe, so writing them first cannot block.
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    close(in[1]);
    ProcessResult result;
    result.output = ReadAll(out[0]);
    close(out[0]);
    // Diagnostics are a few lines: they wait in their pipe until stdout ends.
    result.errors = ReadAll(err[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The simulator, started for one test and stopped with it.
class Simulator {
  public:
    explicit Simulator(std::vector<std::string> argv) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
        pid_ = Spawn(argv, {}, "", devNull, out[1]);
        close(devNull);
        close(out[1]);
        out_ = out[0];
        char c;
        while (read(out_, &c, 1) == 1 && c != '\n')
            firstLine_.push_back(c);
    }
    ~Simulator() { Stop(); }
    const std::string& FirstLine() const { return firstLine_; }
    pid_t Pid() const { return pid_; }
    // Waits for the simulator to end by itself (after a hang-up) or stops it.
    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            close(out_);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string firstLine_;
};

}  // namespace testsupport
