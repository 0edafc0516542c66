// kr470-mkupdate: makes an update file from an S-record image, checks an
// existing one, or generates a deterministic demo image.
#include <getopt.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "AtomicWrite.h"
#include "RegularFile.h"
#include "TextFile.h"
#include "ToolArgs.h"
#include "UpdateFileBuilder.h"

namespace {

constexpr const char* kUsage =
    "Usage: kr470-mkupdate COMMAND [OPTION]...\n"
    "Makes and checks KR470A update files.\n"
    "\n"
    "  kr470-mkupdate build --srec IMAGE --revision REV [OPTION]... -o UPDATE.INI\n"
    "      Makes an update file from a Motorola S-record image.\n"
    "      -s, --srec IMAGE       the firmware image (S0 to S9 records, ending with its\n"
    "                             one S7, S8 or S9 end record; required)\n"
    "      -r, --revision REV     [Firmware Info] Revision (required)\n"
    "      -m, --model MODEL      [Firmware Info] IDN, the model it is for (default KR470A)\n"
    "      -n, --name TEXT        [Firmware Info] Name (default \"MODEL Firmware REV\")\n"
    "      -d, --desc LINE        a [Description] line (repeatable, in order)\n"
    "          --magic            store Checksum=-1, which switches the character-sum\n"
    "                             comparison off\n"
    "          --lf               end lines with LF only (default CR LF)\n"
    "      -o, --output FILE      where to write it (required; written whole or not at all)\n"
    "\n"
    "  kr470-mkupdate check UPDATE.INI\n"
    "      Reports what is wrong with an update file, with line numbers; exit status 1\n"
    "      when anything is.\n"
    "\n"
    "  kr470-mkupdate gen-image --bytes N [OPTION]... -o IMAGE.srec\n"
    "      Generates a deterministic demo image of 32-byte S3 records.\n"
    "      -b, --bytes N          bytes of firmware (required, more than 0)\n"
    "          --seed N           seed of the pseudo-random contents (default 470)\n"
    "      -H, --header TEXT      the S0 header text (default \"KR470A 1.05\")\n"
    "      -o, --output FILE      where to write it (required)\n"
    "\n"
    "  -h, --help                 show this help and exit (also after a command)\n"
    "  -V, --version              show the version and exit\n";

// "--bytes takes a number, not '12k'": the range is in the help.
std::string NumberWording(toolargs::NumberFault, std::string_view option, std::string_view text,
                          long long, long long) {
    return std::string(option) + " takes a number, not '" + std::string(text) + "'";
}

constexpr toolargs::Tool kTool("kr470-mkupdate", NumberWording);

[[noreturn]] void Fail(const std::string& why) {
    kTool.Fail(why);
}

[[noreturn]] void Help() {
    std::fputs(kUsage, stdout);
    std::exit(0);
}

// Runs getopt_long over a command's words (argv[0] is the command). Calls
// `take` with each option and its value; --help prints the usage.
template <typename Take>
void ParseCommand(int argc, char** argv, const char* letters, const option* options, Take take) {
    optind = 0;  // rescan from the start, as glibc's getopt wants for a new vector
    opterr = 0;  // the messages below name the command too
    for (int c; (c = getopt_long(argc, argv, letters, options, nullptr)) != -1;) {
        if (c == 'h')
            Help();
        if (c == '?' || c == ':') {
            std::string word = argv[optind - 1];
            if (!word.starts_with("--"))
                word = std::string("-") + static_cast<char>(optopt);
            word = word.substr(0, word.find('='));
            Fail(std::string(argv[0]) +
                 (c == ':' ? ": option needs a value: '" : ": unknown option: '") + word + "'");
        }
        take(c, optarg != nullptr ? optarg : "");
    }
}

// Reads a whole file the way Osprey reads an update file: only a regular
// file of at most kLargestUpdateFile bytes, and no open that blocks, so a
// FIFO, a device or a folder is refused at once instead of read for ever.
std::string ReadFile(const std::string& path) {
    std::string text, problem;
    switch (fileio::ReadRegularFile(path, osprey::kLargestUpdateFile, text, problem)) {
        case fileio::ReadStatus::kRead:
            return text;
        case fileio::ReadStatus::kRefused:
            std::fprintf(stderr, "kr470-mkupdate: cannot read %s: %s\n", path.c_str(),
                         problem.c_str());
            break;
        case fileio::ReadStatus::kMissing:
        case fileio::ReadStatus::kUnreadable:
            std::fprintf(stderr, "kr470-mkupdate: cannot read %s\n", path.c_str());
            break;
    }
    std::exit(1);
}

// Writes beside the target and renames, so a reader never sees half a file;
// the temporary file's name is never one planted in advance, and a link at
// the output's name is replaced, never written through.
void WriteFile(const std::string& path, const std::string& text) {
    std::string problem;
    if (!fileio::WriteFileAtomically(path, text, problem, fileio::LinkUse::kReplaceLink)) {
        std::fprintf(stderr, "kr470-mkupdate: cannot write %s: %s\n", path.c_str(),
                     problem.c_str());
        std::exit(1);
    }
}

std::vector<std::string> RecordLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

constexpr int kMagic = 256, kLf = 257, kSeed = 258;
// A generated image is held whole in memory, records and all.
constexpr long long kMostBytes = 1LL << 30;

int Build(int argc, char** argv) {
    static constexpr option kOptions[] = {
        {"srec", required_argument, nullptr, 's'},  {"revision", required_argument, nullptr, 'r'},
        {"model", required_argument, nullptr, 'm'}, {"name", required_argument, nullptr, 'n'},
        {"desc", required_argument, nullptr, 'd'},  {"magic", no_argument, nullptr, kMagic},
        {"lf", no_argument, nullptr, kLf},          {"output", required_argument, nullptr, 'o'},
        {"help", no_argument, nullptr, 'h'},        {nullptr, 0, nullptr, 0}};
    kr470::UpdateFileInput input;
    std::string srec, output;
    ParseCommand(argc, argv, "+:s:r:m:n:d:o:h", kOptions, [&](int c, const char* value) {
        switch (c) {
            case 's':
                srec = value;
                break;
            case 'r':
                input.revision = value;
                break;
            case 'm':
                input.model = value;
                break;
            case 'n':
                input.name = value;
                break;
            case 'd':
                input.description.push_back(value);
                break;
            case 'o':
                output = value;
                break;
            case kMagic:
                input.magicChecksum = true;
                break;
            case kLf:
                input.crlf = false;
                break;
        }
    });
    if (optind < argc)
        Fail(std::string("build: unexpected argument '") + argv[optind] + "'");
    if (srec.empty() || output.empty() || input.revision.empty())
        Fail("build needs --srec, --revision and -o");
    if (input.name.empty())
        input.name = input.model + " Firmware " + input.revision;
    input.records = RecordLines(ReadFile(srec));
    std::string text = kr470::BuildUpdateFile(input);
    std::vector<std::string> problems = kr470::CheckUpdateFile(text);
    for (const std::string& p : problems)
        std::fprintf(stderr, "kr470-mkupdate: %s\n", p.c_str());
    if (!problems.empty())
        return 1;
    WriteFile(output, text);
    return 0;
}

int Check(int argc, char** argv) {
    static constexpr option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                                          {nullptr, 0, nullptr, 0}};
    ParseCommand(argc, argv, "+:h", kOptions, [](int, const char*) {});
    if (argc - optind != 1)
        Fail("check takes one update file");
    const char* path = argv[optind];
    std::vector<std::string> problems = kr470::CheckUpdateFile(ReadFile(path));
    for (const std::string& p : problems)
        std::printf("%s: %s\n", path, p.c_str());
    if (problems.empty())
        std::printf("%s: OK\n", path);
    return problems.empty() ? 0 : 1;
}

int GenerateImage(int argc, char** argv) {
    static constexpr option kOptions[] = {
        {"bytes", required_argument, nullptr, 'b'},  {"seed", required_argument, nullptr, kSeed},
        {"header", required_argument, nullptr, 'H'}, {"output", required_argument, nullptr, 'o'},
        {"help", no_argument, nullptr, 'h'},         {nullptr, 0, nullptr, 0}};
    size_t bytes = 0;
    uint32_t seed = 470;
    std::string header = "KR470A 1.05", output;
    ParseCommand(argc, argv, "+:b:H:o:h", kOptions, [&](int c, const char* value) {
        switch (c) {
            case 'b':
                bytes = static_cast<size_t>(kTool.Number("--bytes", value, 0, kMostBytes));
                break;
            case kSeed:
                seed = static_cast<uint32_t>(kTool.Number("--seed", value, 0, UINT32_MAX));
                break;
            case 'H':
                header = value;
                break;
            case 'o':
                output = value;
                break;
        }
    });
    if (optind < argc)
        Fail(std::string("gen-image: unexpected argument '") + argv[optind] + "'");
    if (bytes == 0 || output.empty())
        Fail("gen-image needs --bytes (more than 0) and -o");
    std::string text;
    for (const std::string& line : kr470::GenerateImage(bytes, seed, header))
        text += line + "\n";
    WriteFile(output, text);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Past the file-size limit a write fails: the output is refused and its
    // temporary file removed, rather than the tool killed with it left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    static constexpr option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, 'V'},
                                          {nullptr, 0, nullptr, 0}};
    // Options before the command; '+' stops at the command word.
    for (int c; (c = getopt_long(argc, argv, "+hV", kOptions, nullptr)) != -1;) {
        if (c == 'h')
            Help();
        if (c == 'V') {
            std::printf("kr470-mkupdate %s\n", KR470_VERSION);
            return 0;
        }
        Fail("bad options");  // getopt_long has named the one it did not know
    }
    if (optind >= argc)
        Fail("no command given (build, check or gen-image)");
    std::string command = argv[optind];
    int words = argc - optind;
    char** commandArgv = argv + optind;
    if (command == "build")
        return Build(words, commandArgv);
    if (command == "check")
        return Check(words, commandArgv);
    if (command == "gen-image")
        return GenerateImage(words, commandArgv);
    Fail("unknown command '" + command + "'");
}
