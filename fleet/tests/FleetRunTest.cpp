// The kr470-fleet program against simulated instruments on pseudo-terminals
// and loopback sockets: the report, each instrument's transcript, the exit
// status, Ctrl-C, shared ports, the dry run and a broken plan.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "ObjcopyImage.h"
#include "Process.h"
#include "SharedFolder.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"

namespace {

using testsupport::ProcessResult;
using testsupport::Simulator;

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The line of `text` that holds `part`, or "".
std::string LineWith(const std::string& text, const std::string& part) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (Has(line, part)) {
            return line;
        }
    }
    return "";
}

long Count(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

class FleetRunTest : public ::testing::Test {
  protected:
    FleetRunTest() {
        input_.records = kr470::GenerateImage(120 * 32, 7, "KR470A 1.05");
        input_.name = "KR470A Firmware 1.05";
        input_.revision = "1.05";
        update_ = dir_.Write("KR470A_105.INI", kr470::BuildUpdateFile(input_));
    }

    // Starts simulator `n` on a pseudo-terminal (a link in the test's folder)
    // or a loopback socket; returns the address that reaches it.
    std::string Start(int n, bool serial, std::vector<std::string> options = {}) {
        std::vector<std::string> argv = {SIMULATOR_PATH, "--transcript", Transcript(n)};
        if (serial) {
            std::string link = (dir_.Path() / ("tty" + std::to_string(n))).string();
            argv.insert(argv.end(), {"--link", link});
            config_ += "[" + link + "]\nsettings = 2000000,N,8,1\n";
        } else {
            argv.insert(argv.end(), {"--tcp", "0"});
        }
        argv.insert(argv.end(), options.begin(), options.end());
        simulators_.push_back(std::make_unique<Simulator>(argv));
        const std::string& first = simulators_.back()->FirstLine();
        if (serial) {
            return "ASRL" + (dir_.Path() / ("tty" + std::to_string(n))).string() + "::INSTR";
        }
        return "TCPIP0::127.0.0.1::" + first.substr(4) + "::SOCKET";
    }
    std::string Transcript(int n) const {
        return (dir_.Path() / ("transcript" + std::to_string(n) + ".txt")).string();
    }
    std::vector<std::string> Environment() {
        dir_.Write("kio.ini", config_);
        return {"KIO_CONFIG=" + (dir_.Path() / "kio.ini").string(), "KESTREL_WAIT_LIMIT_MS=0"};
    }
    std::vector<std::string> Fleet(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), FLEET_PATH);
        arguments.insert(arguments.end(), {"--log-dir", (dir_.Path() / "logs").string()});
        return arguments;
    }
    ProcessResult Run(const std::vector<std::string>& arguments) {
        return testsupport::RunProcess(Fleet(arguments), "", Environment(), dir_.Path());
    }
    void StopSimulators() {
        for (auto& simulator : simulators_) {
            simulator->Stop();
        }
    }
    // The dialogue of a clean update over a socket (strict) or a serial line.
    std::vector<std::string> CleanDialogue(bool serial) const {
        std::vector<std::string> lines = {"*IDN?", "*OPC?",     "SYSTem:ERRor?",
                                          "*CLS",  "dlo:csum?", "dlo:start 0012345",
                                          "*OPC?", "dlo:stat?"};
        if (serial) {
            lines.insert(lines.begin(), "SYST:REM");
        }
        for (const std::string& record : input_.records) {
            lines.push_back((serial ? "dlo \"" : "dlo? \"") + record + "\" ");
        }
        lines.insert(lines.end(), {"*OPC?", "SYST:ERR?", "dlo:csum?", "dlo:stat?"});
        return lines;
    }

    // The tool started with its output on a pipe, read until a pass is under way.
    struct Running {
        pid_t pid = -1;
        int out = -1;
    };
    // `wrapper` goes in front of the command line (a shell that sets something up).
    Running StartUnderWay(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment,
                          std::vector<std::string> wrapper = {}) {
        int out[2] = {-1, -1};
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
        std::vector<std::string> command = Fleet(arguments);
        command.insert(command.begin(), wrapper.begin(), wrapper.end());
        Running running{
            testsupport::Spawn(command, environment, dir_.Path(), devNull, out[1], devNull),
            out[0]};
        close(out[1]);
        close(devNull);
        std::string seen;
        std::array<char, 256> buffer{};
        for (ssize_t n; !Has(seen, "\"lines\":100,") &&
                        (n = read(running.out, buffer.data(), buffer.size())) > 0;) {
            seen.append(buffer.data(), static_cast<size_t>(n));
        }
        return running;
    }
    // Its wait status, once the rest of its output is read.
    static int WaitFor(const Running& running) {
        testsupport::ReadAll(running.out);
        close(running.out);
        int status = 0;
        waitpid(running.pid, &status, 0);
        return status;
    }

    testsupport::TempDir dir_;
    kr470::UpdateFileInput input_;
    std::string update_;
    std::string config_;
    std::vector<std::unique_ptr<Simulator>> simulators_;
};

TEST_F(FleetRunTest, EightInstrumentsTwoWithFaults) {
    std::string plan = "# eight instruments: serial lines and sockets\n";
    std::vector<std::string> addresses;
    for (int n = 0; n < 8; ++n) {
        std::vector<std::string> options;
        if (n == 5) {
            options = {"--refuse", "4:3"};  // strict: refused three times
        } else if (n == 6) {
            options = {"--silent", "SYST:ERR?"};  // silent after the pass
        } else if (n == 7) {
            options = {"--idn", "Velmora,KR470A,SN470008,1.05-2.10-0.9"};  // already current
        }
        addresses.push_back(Start(n, n % 2 == 0, options));
        plan += "\"" + addresses.back() + "\" KR470A_105.INI" + (n == 1 ? " SN470001" : "") + "\n";
    }
    dir_.Write("lab.plan", plan);
    std::string json = (dir_.Path() / "report.json").string();
    ProcessResult result =
        Run({"--plan", "lab.plan", "-j", "8", "--json", json, "--reply-timeout-ms", "1500"});
    StopSimulators();

    EXPECT_EQ(result.status, 1) << result.errors;
    const std::string before = "Velmora,KR470A,SN470001,1.04-2.10-0.9";
    const std::string after = "Velmora,KR470A,SN470001,1.05-2.10-0.9";
    std::string report = FileText(json);
    EXPECT_TRUE(Has(report, "\"exit_status\":1}"));
    for (int n : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(n);
        bool serial = n % 2 == 0;
        std::vector<std::string> expected = CleanDialogue(serial);
        std::vector<std::string> transcript = Lines(Transcript(n));
        ASSERT_EQ(transcript.size(), expected.size() + 3);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), transcript.begin()));
        EXPECT_EQ(transcript[expected.size()].rfind("dlo:comp ", 0), 0u);
        EXPECT_EQ(transcript.back(), "*IDN?");
        std::string row = LineWith(result.errors, addresses[n] + " ");
        EXPECT_TRUE(Has(row, before + "  " + after + "  updated  1 ")) << row;
        std::string object = LineWith(report, "\"address\":\"" + addresses[n] + "\"");
        EXPECT_TRUE(Has(object, "\"idn_before\":\"" + before + "\",\"idn_after\":\"" + after +
                                    "\",\"result\":\"updated\",\"message\":null,\"passes\":1,"))
            << object;
        std::string log = object.substr(object.find("\"log\":\"") + 7);
        EXPECT_TRUE(Has(FileText(log.substr(0, log.find('"'))), "Result: updated"));
    }
    // The refused record: sent three times, then the pass gave up, uncommitted.
    std::vector<std::string> refused = Lines(Transcript(5));
    EXPECT_EQ(Count(refused, "dlo? \"" + input_.records[3] + "\""), 3);
    EXPECT_EQ(Count(refused, "dlo:comp"), 0);
    EXPECT_EQ(refused.back(), "dlo? \"" + input_.records[3] + "\" ");
    std::string refusedRow = LineWith(report, addresses[5]);
    EXPECT_TRUE(Has(refusedRow,
                    "\"result\":\"failed\",\"message\":\"Record 3 Failes to load / "
                    "Update file may be corrupt!\",\"passes\":1,"))
        << refusedRow;
    EXPECT_TRUE(Has(refusedRow, "\"download_mode\":true"));
    // The silent one: nothing after the unanswered question.
    std::vector<std::string> silent = Lines(Transcript(6));
    EXPECT_EQ(silent.back(), "SYST:ERR?");
    std::string silentRow = LineWith(report, addresses[6]);
    EXPECT_TRUE(Has(silentRow, "\"result\":\"failed\"")) << silentRow;
    EXPECT_TRUE(Has(silentRow, "\"download_mode\":true"));
    EXPECT_TRUE(Has(result.errors, addresses[6] + " may be left in download mode"));
    // Already current: identified, nothing else sent; success.
    EXPECT_EQ(Lines(Transcript(7)), (std::vector<std::string>{"*IDN?"}));
    EXPECT_TRUE(Has(LineWith(report, addresses[7]), "\"result\":\"current\""));
    EXPECT_TRUE(Has(LineWith(result.errors, addresses[7] + " "), "current"));
    // Standard output was no terminal: JSON lines only.
    std::istringstream out(result.output);
    for (std::string line; std::getline(out, line);) {
        EXPECT_TRUE(line.front() == '{' && line.back() == '}') << line;
    }
}

TEST_F(FleetRunTest, CtrlCStopsBetweenRecordsAndCommitsNothing) {
    input_.records = kr470::GenerateImage(400 * 32, 7, "KR470A 1.05");
    update_ = dir_.Write("KR470A_105.INI", kr470::BuildUpdateFile(input_));
    std::string slow = Start(0, false, {"--reply-delay-ms", "20"});
    std::string queued = Start(1, false);
    std::string json = (dir_.Path() / "report.json").string();
    // Once the pass is under way, Ctrl-C.
    Running running =
        StartUnderWay({"-j", "1", "--json", json, "-f", update_, slow, queued}, Environment());
    kill(running.pid, SIGINT);
    const int status = WaitFor(running);
    StopSimulators();

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    std::vector<std::string> transcript = Lines(Transcript(0));
    EXPECT_EQ(Count(transcript, "dlo:comp"), 0);
    EXPECT_LT(Count(transcript, "dlo? \""), 400);
    EXPECT_EQ(transcript.back().rfind("dlo? \"", 0), 0u);  // it ended on a record
    std::string report = FileText(json);
    EXPECT_TRUE(Has(LineWith(report, slow), "\"result\":\"stopped\""));
    EXPECT_TRUE(Has(LineWith(report, slow), "\"download_mode\":true"));
    EXPECT_TRUE(Has(LineWith(report, queued),
                    "\"result\":\"stopped\",\"message\":\"not started: stopped on request\""));
    EXPECT_TRUE(Lines(Transcript(1)).empty());  // the second was never opened
}

// Blocks until the file at `path` (which exists) holds `count` lines equal to
// `line`, woken by each change to it.
void WaitForLines(const std::string& path, const std::string& line, long count) {
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, path.c_str(), IN_MODIFY), 0);
    std::array<char, 4096> events{};
    for (;;) {
        const std::vector<std::string> lines = Lines(path);
        if (std::count(lines.begin(), lines.end(), line) >= count)
            break;
        ASSERT_GT(read(watch, events.data(), events.size()), 0);
    }
    close(watch);
}

TEST_F(FleetRunTest, CtrlCEndsAVxi11CallTheInstrumentNeverAnswersAsStopped) {
    // The instrument falls silent at the query after "dlo:start": the
    // procedure would wait in a device_write call for ten minutes.
    std::ofstream(Transcript(0)).flush();
    simulators_.push_back(std::make_unique<Simulator>(std::vector<std::string>{
        SIMULATOR_PATH, "--vxi11", "0", "--transcript", Transcript(0), "--mute-on", "*OPC?@2"}));
    config_ += "[tcpip]\nvxi11_port = " + simulators_.back()->FirstLine().substr(6) + "\n";
    const std::string address = "TCPIP0::127.0.0.1::INSTR";
    const std::string json = (dir_.Path() / "report.json").string();
    int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    Running running{testsupport::Spawn(Fleet({"--reply-timeout-ms", "600000", "--json", json, "-f",
                                              update_, address}),
                                       Environment(), dir_.Path(), devNull, devNull, devNull),
                    -1};
    close(devNull);
    WaitForLines(Transcript(0), "*OPC?", 2);
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, running.pid, 0));
    kill(running.pid, SIGINT);
    pollfd exited{ended, POLLIN, 0};
    const bool endedSoon = poll(&exited, 1, 20000) == 1;  // not the ten minutes
    close(ended);
    if (!endedSoon)
        kill(running.pid, SIGKILL);
    int status = 0;
    waitpid(running.pid, &status, 0);
    ASSERT_TRUE(endedSoon);
    StopSimulators();

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    const std::string row = LineWith(FileText(json), address);
    EXPECT_TRUE(Has(row, "\"result\":\"stopped\"")) << row;
    EXPECT_TRUE(Has(row, "Stopped on request during \\\"*OPC?\\\"; its answer was not waited for."))
        << row;
    EXPECT_TRUE(Has(row, "\"download_mode\":true")) << row;
}

TEST_F(FleetRunTest, RowsBehindOneControllerRunOneAfterAnotherWhateverJobsSays) {
    const std::string port =
        Start(0, false, {"--gpib-address", "10"}).substr(std::string("TCPIP0::127.0.0.1::").size());
    const std::string controller = "TCPIP0::127.0.0.1::" + port;
    config_ +=
        "[gpib0]\ncontroller = " + controller + "\n[gpib1]\ncontroller = " + controller + "\n";
    // The second row's instrument is not there: it fails at its "*IDN?".
    ProcessResult result =
        Run({"-j", "2", "--reply-timeout-ms", "300", "-f", update_, "GPIB0::10", "GPIB1::11"});
    StopSimulators();

    EXPECT_EQ(result.status, 1);
    const std::vector<std::string> progress = [&] {
        std::vector<std::string> lines;
        std::istringstream in(result.output);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }();
    auto first = [&](const std::string& a, const std::string& b) {
        return std::find_if(progress.begin(), progress.end(),
                            [&](const std::string& l) { return Has(l, a) && Has(l, b); }) -
               progress.begin();
    };
    const auto updated = first("\"GPIB0::10\"", "\"state\":\"updated\"");
    ASSERT_LT(updated, static_cast<long>(progress.size())) << result.output;
    EXPECT_LT(updated, first("\"GPIB1::11\"", "\"state\"")) << result.output;
}

// nohup: a hang-up the parent ignores stays ignored, and the updates go on.
TEST_F(FleetRunTest, AHangUpThatTheParentIgnoresLeavesTheUpdateGoing) {
    input_.records = kr470::GenerateImage(400 * 32, 7, "KR470A 1.05");
    update_ = dir_.Write("KR470A_105.INI", kr470::BuildUpdateFile(input_));
    std::string address = Start(0, false, {"--reply-delay-ms", "1"});
    Running running = StartUnderWay({"-f", update_, address}, Environment(),
                                    {"/bin/sh", "-c", "trap '' HUP; exec \"$0\" \"$@\""});
    kill(running.pid, SIGHUP);
    const int status = WaitFor(running);
    StopSimulators();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Count(Lines(Transcript(0)), "dlo:comp"), 1);
}

TEST_F(FleetRunTest, SecondCtrlCEndsAtOnceButPutsTheSerialPortsBack) {
    input_.records = kr470::GenerateImage(400 * 32, 7, "KR470A 1.05");
    update_ = dir_.Write("KR470A_105.INI", kr470::BuildUpdateFile(input_));
    std::string serial = Start(0, true, {"--reply-delay-ms", "20"});
    std::filesystem::path locks = dir_.Path() / "locks";
    std::filesystem::create_directory(locks);
    std::vector<std::string> environment = Environment();
    environment.push_back("KR470_LOCK_DIR=" + locks.string());
    Running running = StartUnderWay({"-f", update_, serial}, environment);
    const bool lockedWhileRunning = !std::filesystem::is_empty(locks);
    kill(running.pid, SIGINT);
    kill(running.pid, SIGTERM);  // another signal: two of one kind may arrive as one
    const int status = WaitFor(running);
    StopSimulators();

    EXPECT_TRUE(lockedWhileRunning);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(std::filesystem::is_empty(locks));  // the next run finds the port free
    EXPECT_EQ(Count(Lines(Transcript(0)), "dlo:comp"), 0);
}

// A user at its process limit: the kernel refuses every new thread. The limit
// binds no root process, so as root the tool runs as the user nobody.
TEST_F(FleetRunTest, NoThreadToBeHadStillUpdatesEveryRowAndPutsThePortsBack) {
    std::vector<std::string> limited = {"/usr/bin/prlimit", "--nproc=1"};
    if (getuid() == 0) {
        limited.insert(limited.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                         "--clear-groups", "--"});
    }
    if (access(limited.front().c_str(), X_OK) != 0) {
        GTEST_SKIP() << limited.front() << " is not installed";
    }
    std::string first = Start(0, true);
    std::string second = Start(1, true);
    std::filesystem::path shared = dir_.Path() / "shared";  // what nobody may write
    std::filesystem::create_directories(shared / "locks");
    for (const auto& folder : {shared, shared / "locks"}) {
        std::filesystem::permissions(folder, std::filesystem::perms::all);
    }
    if (getuid() == 0) {
        for (const auto& simulator : simulators_) {
            ASSERT_EQ(chown(simulator->FirstLine().c_str(), 65534, 65534), 0);
        }
    }
    std::vector<std::string> environment = Environment();
    environment.push_back("KR470_LOCK_DIR=" + (shared / "locks").string());
    // A sanitizer build's leak check at exit needs a thread of its own, which the limit refuses.
    environment.push_back("ASAN_OPTIONS=detect_leaks=0:abort_on_error=1");
    std::vector<std::string> argv = limited;
    const std::string json = (shared / "report.json").string();
    for (const std::string& word : Fleet({"-f", update_, "--json", json, first, second})) {
        argv.push_back(word);
    }
    argv.back() = (shared / "logs").string();  // the log folder too
    ProcessResult result = testsupport::RunProcess(argv, "", environment, dir_.Path());
    StopSimulators();
    if (Has(result.errors, "setpriv:") || Has(result.errors, "prlimit:")) {
        GTEST_SKIP() << "no other user here: " << result.errors;
    }

    EXPECT_EQ(result.status, 0) << result.errors;  // no abort
    EXPECT_TRUE(Has(result.errors, "0 of 2 update threads could be made")) << result.errors;
    std::string report = FileText(json);
    EXPECT_TRUE(Has(LineWith(report, first), "\"result\":\"updated\"")) << report;
    EXPECT_TRUE(Has(LineWith(report, second), "\"result\":\"updated\"")) << report;
    EXPECT_TRUE(std::filesystem::is_empty(shared / "locks"));  // both ports given back
    EXPECT_EQ(Count(Lines(Transcript(1)), "dlo:comp"), 1);
}

TEST_F(FleetRunTest, TwoRowsOnOnePortAreRefusedBeforeAnythingStarts) {
    std::string serial = Start(0, true);
    std::string tcp = Start(1, false);
    std::string pty = simulators_[0]->FirstLine();  // the link's target
    config_ += "[aliases]\nGPIB0::10 = " + tcp + "\n";
    dir_.Write("lab.plan", "\"" + serial +
                               "\" KR470A_105.INI\nGPIB0::10 KR470A_105.INI\n"
                               "ASRL" +
                               pty + " KR470A_105.INI\n" + tcp + " KR470A_105.INI\n");
    ProcessResult result = Run({"--plan", "lab.plan"});
    StopSimulators();
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(Has(result.errors, "lab.plan:3: ASRL" + pty + " reaches the port of lab.plan:1"))
        << result.errors;
    EXPECT_TRUE(Has(result.errors, "lab.plan:4: " + tcp + " reaches the port of lab.plan:2"));
    EXPECT_TRUE(Has(result.errors, "nothing was started"));
    EXPECT_TRUE(Lines(Transcript(0)).empty());
    EXPECT_TRUE(Lines(Transcript(1)).empty());
}

TEST_F(FleetRunTest, DryRunSendsOnlyTheIdentification) {
    std::string serial = Start(0, true);
    std::string tcp = Start(1, false, {"--idn", "Velmora,KR900B,SN9,1.00-1-1"});
    ProcessResult result = Run({"--dry-run", "-f", "KR470A_105.INI", serial, tcp});
    StopSimulators();
    EXPECT_EQ(result.status, 1);  // the other model is refused
    EXPECT_EQ(Lines(Transcript(0)), (std::vector<std::string>{"*IDN?"}));
    EXPECT_EQ(Lines(Transcript(1)), (std::vector<std::string>{"*IDN?"}));
    EXPECT_TRUE(Has(LineWith(result.output, "\"address\":\"" + serial + "\",\"update_file\""),
                    "\"result\":\"ready\""));
    EXPECT_TRUE(Has(LineWith(result.output, "\"address\":\"" + tcp + "\",\"update_file\""),
                    "\"result\":\"refused\",\"message\":\"This firmware update is not intended"));
}

// Update files made from objcopy images: the dry run finds the one without an
// end record, the update ends each pass after the S8 or S9 record.
TEST_F(FleetRunTest, ObjcopyImagesUpdateAndASectionWithoutEndRecordIsRefusedInTheDryRun) {
    std::string plan;
    std::vector<std::string> ends;
    for (uint32_t address : {0x0u, 0x10000u}) {
        input_.records = testsupport::ObjcopyImage(dir_, 2000, address);
        ends.push_back(input_.records.back());
        const std::string name = "image" + std::to_string(ends.size()) + ".INI";
        dir_.Write(name, kr470::BuildUpdateFile(input_));
        plan += Start(static_cast<int>(ends.size()) - 1, false, {"--new-revision", "1.05"}) + " " +
                name + "\n";
    }
    input_.records.pop_back();
    dir_.Write("no-end.INI", kr470::BuildUpdateFile(input_));
    dir_.Write("lab.plan", plan);
    dir_.Write("dry.plan", plan + Start(2, false) + " no-end.INI\n");

    ProcessResult dry = Run({"--dry-run", "--plan", "dry.plan"});
    EXPECT_EQ(dry.status, 1);
    EXPECT_TRUE(Has(LineWith(dry.output, "image1.INI"), "\"result\":\"ready\"")) << dry.output;
    EXPECT_TRUE(Has(LineWith(dry.output, "image2.INI"), "\"result\":\"ready\"")) << dry.output;
    EXPECT_TRUE(Has(LineWith(dry.output, "no-end.INI"),
                    "\"result\":\"refused\",\"message\":\"The code section does not end with its "
                    "end record (S7, S8 or S9)."))
        << dry.output;

    ProcessResult update = Run({"--plan", "lab.plan"});
    StopSimulators();
    EXPECT_EQ(update.status, 0) << update.output << update.errors;
    for (int n : {0, 1}) {
        std::vector<std::string> transcript = Lines(Transcript(n));
        auto end = std::find(transcript.begin(), transcript.end(), "dlo? \"" + ends[n] + "\" ");
        ASSERT_NE(end, transcript.end()) << ends[n];
        ASSERT_NE(end + 1, transcript.end()) << ends[n];
        EXPECT_EQ(*(end + 1), "*OPC?");
        EXPECT_EQ(Count(transcript, "dlo? \"END\""), 0);
        EXPECT_EQ(Count(transcript, "dlo:comp"), 1);
    }
    EXPECT_EQ(Lines(Transcript(2)), (std::vector<std::string>{"*IDN?"}));
}

TEST_F(FleetRunTest, JsonReportThatCannotBeWrittenIsRefusedBeforeAnythingStarts) {
    std::string tcp = Start(0, false);
    dir_.Write("lab.plan", tcp + " KR470A_105.INI\n");
    std::filesystem::create_directory(dir_.Path() / "reports");
    std::filesystem::create_symlink("lab.plan", dir_.Path() / "report-link.json");
    for (const char* json : {"missing/report.json", "reports", "lab.plan", "report-link.json"}) {
        ProcessResult result = Run({"--plan", "lab.plan", "--json", json});
        EXPECT_EQ(result.status, 2) << json;
        EXPECT_TRUE(Has(result.errors, "the JSON report")) << json << ": " << result.errors;
    }
    StopSimulators();
    EXPECT_TRUE(Lines(Transcript(0)).empty());
    EXPECT_EQ(FileText((dir_.Path() / "lab.plan").string()), tcp + " KR470A_105.INI\n");
}

TEST_F(FleetRunTest, JsonReportReplacesALinkAtItsNameNeverWhatItNames) {
    std::string tcp = Start(0, false);
    std::ofstream(dir_.Path() / "kept.json") << "kept";
    std::filesystem::create_symlink("kept.json", dir_.Path() / "report.json");
    ProcessResult own = Run({"--update-file", update_, "--json", "report.json", tcp});
    EXPECT_EQ(own.status, 0) << own.errors;
    EXPECT_FALSE(std::filesystem::is_symlink(dir_.Path() / "report.json"));
    EXPECT_TRUE(Has(FileText((dir_.Path() / "report.json").string()), "\"exit_status\":0"));
    EXPECT_EQ(FileText((dir_.Path() / "kept.json").string()), "kept");

    if (!testsupport::SharedFolder::CanActAsAnotherUser()) {
        GTEST_SKIP() << "needs root to make another user's link";
    }
    testsupport::SharedFolder shared;
    const std::filesystem::path victim = shared.Top() / "victim";
    std::ofstream(victim) << "victim's";
    for (const std::string& link : {shared.Link("report.json", victim),
                                    shared.Link("dangling.json", shared.Top() / "made")}) {
        ProcessResult planted = Run({"--update-file", update_, "--json", link, tcp});
        EXPECT_EQ(planted.status, 0) << planted.errors;
        EXPECT_FALSE(std::filesystem::is_symlink(link));
        EXPECT_TRUE(Has(FileText(link), "\"exit_status\":0"));
    }
    EXPECT_EQ(FileText(victim.string()), "victim's");
    EXPECT_FALSE(std::filesystem::exists(shared.Top() / "made"));
}

// Run by another user, a report another user owns in a sticky folder cannot
// be renamed over: found before anything starts, not lost at the end.
TEST_F(FleetRunTest, ReportThatCannotBeReplacedInAStickyFolderIsRefusedBeforeAnythingStarts) {
    if (!testsupport::SharedFolder::CanActAsAnotherUser()) {
        GTEST_SKIP() << "needs root to run as another user";
    }
    std::string tcp = Start(0, false);
    testsupport::SharedFolder shared;
    const std::string report = (shared.Path() / "report.json").string();
    std::ofstream(report) << "root's report";
    ::chmod(report.c_str(), 0666);
    std::vector<std::string> argv = {"/usr/bin/setpriv",
                                     "--reuid=65534",
                                     "--regid=65534",
                                     "--clear-groups",
                                     FLEET_PATH,
                                     "--update-file",
                                     update_,
                                     "--log-dir",
                                     shared.Path().string(),
                                     "--json",
                                     report,
                                     tcp};
    ProcessResult r = testsupport::RunProcess(argv, "", Environment(), dir_.Path());
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.errors, "the JSON report cannot be written")) << r.errors;
    EXPECT_TRUE(Has(r.errors, "cannot be replaced")) << r.errors;
    StopSimulators();
    EXPECT_TRUE(Lines(Transcript(0)).empty());
    EXPECT_EQ(FileText(report), "root's report");
}

// A report named like the update file (a slip of the pen) would replace the
// firmware image with JSON at the end of the run: refused before anything starts.
TEST_F(FleetRunTest, ReportNamedLikeTheUpdateFileIsRefusedAndTheUpdateFileKept) {
    std::string tcp = Start(0, false);
    const std::string image = FileText(update_);
    ProcessResult r = Run({"--update-file", update_, "--json", update_, tcp});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.errors, "is the update file of " + tcp)) << r.errors;
    StopSimulators();
    EXPECT_TRUE(Lines(Transcript(0)).empty());
    EXPECT_EQ(FileText(update_), image);
}

// Under a file-size limit (ulimit -f) a log past it stops, said on stderr; the
// update goes on, rather than a SIGXFSZ ending it with no report.
TEST_F(FleetRunTest, ALogPastTheFileSizeLimitStopsButTheUpdateAndReportGoOn) {
    std::string tcp = Start(0, false);
    std::string name = "01-" + tcp + ".log";  // the row's log, appended to
    std::replace(name.begin() + 3, name.end() - 4, ':', '_');
    std::filesystem::create_directories(dir_.Path() / "logs");
    std::ofstream(dir_.Path() / "logs" / name) << std::string(20000, 'x') << '\n';
    std::vector<std::string> argv = Fleet({"--update-file", update_, tcp});
    argv.insert(argv.begin(), {"/usr/bin/prlimit", "--fsize=10000"});
    ProcessResult r = testsupport::RunProcess(argv, "", Environment(), dir_.Path());
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(Has(r.errors, "the log stops here")) << r.errors;
    EXPECT_TRUE(Has(LineWith(r.output, "\"address\":\"" + tcp + "\",\"update_file\""),
                    "\"result\":\"updated\""))
        << r.output;
}

TEST_F(FleetRunTest, BrokenPlanIsRefusedWithFileAndLine) {
    dir_.Write("lab.plan", "ASRL1 KR470A_105.INI\n\n\"ASRL2 KR470A_105.INI\n");
    ProcessResult result = Run({"--plan", "lab.plan"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.errors,
              "kr470-fleet: lab.plan:3: the quote opened in field 1 is never closed\n");
    dir_.Write("lab.plan",
               "ASRL1\x1b]0;owned\x07 KR470A_105.INI\nASRL1\x1b]0;owned\x07 KR470A_105.INI\n");
    ProcessResult quoted = Run({"--plan", "lab.plan"});
    EXPECT_EQ(quoted.status, 2);
    EXPECT_EQ(quoted.errors.find('\x1b'), std::string::npos) << quoted.errors;
    EXPECT_NE(quoted.errors.find("ASRL1?]0;owned?"), std::string::npos) << quoted.errors;
    ProcessResult usage = Run({"-f", "KR470A_105.INI"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_TRUE(Has(usage.errors, "--update-file needs at least one address"));
}

}  // namespace
