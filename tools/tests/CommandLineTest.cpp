// The tools' own command lines: --help on standard output with status 0,
// --version, and an unknown option named in the error with status 2.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "ObjcopyImage.h"
#include "Process.h"
#include "TempFile.h"

namespace kr470 {
namespace {

using testsupport::ProcessResult;
using testsupport::RunProcess;

// Runs a command line through the shell with standard error folded in.
ProcessResult Shell(const std::string& command) {
    return RunProcess({"/bin/sh", "-c", command + " 2>&1"}, "");
}

// Which options the help lists is held to each manual page by the package's
// ManPageOptions test.
TEST(CommandLine, HelpAndVersionAnswerOnStandardOutputWithStatus0) {
    for (const char* tool : {SIMULATOR_PATH, MKUPDATE_PATH, PORTS_PATH}) {
        SCOPED_TRACE(tool);
        ProcessResult help = RunProcess({tool, "--help"}, "");
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.output.find("--version"), std::string::npos) << help.output;
        ProcessResult version = RunProcess({tool, "--version"}, "");
        EXPECT_EQ(version.status, 0);
        EXPECT_NE(version.output.find(KR470_VERSION), std::string::npos);
    }
    EXPECT_EQ(RunProcess({MKUPDATE_PATH, "build", "--help"}, "").status, 0);
}

// --settings is read as Osprey reads the section's settings.
TEST(CommandLine, PortsTakesTheSettingsOspreyTakes) {
    for (const char* settings : {"1200,O,5,1.5", "14400,N,8,1"}) {
        ProcessResult r =
            RunProcess({PORTS_PATH, "--settings", settings, "--com", "2", "/dev/null"}, "");
        EXPECT_EQ(r.status, 0) << r.errors;
        EXPECT_NE(r.output.find(std::string("settings = ") + settings), std::string::npos);
    }
    EXPECT_EQ(RunProcess({PORTS_PATH, "--settings", "9600,N,8,1.5", "/dev/null"}, "").status, 2);
}

TEST(CommandLine, MistakesAreNamedWithStatus2) {
    const std::string sim = SIMULATOR_PATH, mk = MKUPDATE_PATH, ports = PORTS_PATH;
    for (auto [command, named] : std::vector<std::pair<std::string, std::string>>{
             {sim + " --bogus", "'--bogus'"},
             {sim + " --baud fast", "'fast'"},
             // Refused before the simulator starts; `timeout` only ends a run that is not.
             {"timeout 30 " + sim + " --baud -5", "--baud takes a number from 0 to 2147483647"},
             {"timeout 30 " + sim + " --tcp 70000", "'70000'"},
             {sim + " stray", "'stray'"},
             {sim + " --link", "'--link'"},
             {mk + " --bogus", "'--bogus'"},
             {mk + " build --srec a.srec --frobnicate", "'--frobnicate'"},
             {mk + " gen-image -q", "'-q'"},
             {mk + " gen-image --bytes 12k -o x", "'12k'"},
             {mk + " gen-image --bytes", "'--bytes'"},
             {mk + " explode", "'explode'"},
             {ports + " --bogus", "'--bogus'"},
             {ports + " --settings 9600,Q", "'9600,Q'"}}) {
        SCOPED_TRACE(command);
        ProcessResult r = Shell(command);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.output.find(named), std::string::npos) << r.output;
    }
}

// The output is written beside its name and renamed: the temporary file is
// never a name someone could plant a link at, and a link at the output's
// name is replaced rather than written through.
TEST(CommandLine, MkupdateNeverWritesThroughAPlantedLink) {
    testsupport::TempDir dir;
    const std::filesystem::path victim = dir.Path() / "victim";
    std::ofstream(victim) << "precious";
    const std::string output = (dir.Path() / "image.srec").string();
    std::filesystem::create_symlink(victim, output + ".tmp");
    ProcessResult made =
        RunProcess({MKUPDATE_PATH, "gen-image", "--bytes", "64", "--output", output}, "");
    EXPECT_EQ(made.status, 0) << made.errors;
    std::filesystem::create_symlink(victim, dir.Path() / "linked.srec");
    ProcessResult linked = RunProcess({MKUPDATE_PATH, "gen-image", "--bytes", "64", "--output",
                                       (dir.Path() / "linked.srec").string()},
                                      "");
    EXPECT_EQ(linked.status, 0) << linked.errors;
    EXPECT_FALSE(std::filesystem::is_symlink(dir.Path() / "linked.srec"));
    // The update file is written the same way.
    std::filesystem::create_symlink(victim, dir.Path() / "linked.ini");
    ProcessResult built = RunProcess({MKUPDATE_PATH, "build", "--srec", output, "--revision",
                                      "1.05", "-o", (dir.Path() / "linked.ini").string()},
                                     "");
    EXPECT_EQ(built.status, 0) << built.errors;
    EXPECT_FALSE(std::filesystem::is_symlink(dir.Path() / "linked.ini"));
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
}

// Under a file-size limit (ulimit -f) the output is refused with a message and
// nothing is left beside it: no half-written temporary file.
TEST(CommandLine, MkupdatePastTheFileSizeLimitLeavesNoTemporaryFile) {
    testsupport::TempDir dir;
    const std::string output = (dir.Path() / "image.srec").string();
    ProcessResult r = RunProcess({"/usr/bin/prlimit", "--fsize=5000", MKUPDATE_PATH, "gen-image",
                                  "--bytes", "20000", "--output", output},
                                 "");
    EXPECT_EQ(r.status, 1) << r.errors;
    EXPECT_NE(r.errors.find("image.srec"), std::string::npos) << r.errors;
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

// An update file or image that is no regular file (a FIFO no one writes to,
// an endless device, a folder) is refused at once with its kind, as Osprey
// refuses it; nothing is written. The time-out only ends a run that would
// otherwise never end.
TEST(CommandLine, MkupdateReadsOnlyRegularFiles) {
    testsupport::TempDir dir;
    const std::string folder = dir.Path().string(), fifo = folder + "/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string mk = "timeout 20 " + std::string(MKUPDATE_PATH);
    const std::pair<std::string, std::string> cases[] = {
        {fifo, fifo + " is a FIFO, not a regular file"},
        {"/dev/zero", "/dev/zero is a character device, not a regular file"},
        {folder, folder + " is a directory, not a regular file"}};
    for (const auto& [input, kind] : cases) {
        const std::string refusal = "kr470-mkupdate: cannot read " + input + ": " + kind + "\n";
        ProcessResult check = Shell(mk + " check " + input);
        EXPECT_EQ(check.status, 1) << input;
        EXPECT_EQ(check.output, refusal);
        ProcessResult build =
            Shell(mk + " build --revision 1.05 -o " + folder + "/out.ini --srec " + input);
        EXPECT_EQ(build.status, 1) << input;
        EXPECT_EQ(build.output, refusal);
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/out.ini"));
}

TEST(CommandLine, SimulatorTranscriptIsNeverWrittenThroughALinkOrToAFifo) {
    testsupport::TempDir dir;
    const std::filesystem::path victim = dir.Path() / "victim";
    std::ofstream(victim) << "precious";
    std::filesystem::create_symlink(victim, dir.Path() / "transcript.txt");
    const std::string fifo = (dir.Path() / "transcript.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {(dir.Path() / "transcript.txt").string(), fifo}) {
        ProcessResult r = RunProcess({SIMULATOR_PATH, "--transcript", path}, "");
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_NE(r.errors.find("kr470-sim: cannot write " + path), std::string::npos) << r.errors;
    }
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
}

TEST(CommandLine, CheckTakesAnObjcopyImageAndRefusesOneWithoutItsEndRecord) {
    testsupport::TempDir dir;
    std::vector<std::string> image = testsupport::ObjcopyImage(dir, 300, 0x10000);
    ASSERT_EQ(image.back().substr(0, 2), "S8");
    std::string srec;
    for (const std::string& line : image) {
        srec += line + "\n";
    }
    const std::string mk = MKUPDATE_PATH, folder = dir.Path().string();
    dir.Write("s8.srec", srec);
    dir.Write("none.srec", srec.substr(0, srec.rfind("S8")));
    const std::string built = " --revision 1.05 -o " + folder;
    EXPECT_EQ(Shell(mk + " build --srec " + folder + "/s8.srec" + built + "/s8.ini").status, 0);
    ProcessResult check = Shell(mk + " check " + folder + "/s8.ini");
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.output, folder + "/s8.ini: OK\n");

    ProcessResult refused = Shell(mk + " build --srec " + folder + "/none.srec" + built + "/x");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("does not end with its end record (S7, S8 or S9)"),
              std::string::npos)
        << refused.output;
}

}  // namespace
}  // namespace kr470
