// Each program's own help (--help; Osprey's /H) and its manual page describe
// the same options: an option a program gains without its page, or one a
// page keeps after the program dropped it, fails here. The manual pages are
// the one home of each program's reference, so nothing else lists options.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Process.h"

namespace kr470 {
namespace {

using testsupport::ProcessResult;
using testsupport::RunProcess;

// One option as a program or its page spells it: its names joined by ", "
// ("-l, --link", "/F"), or a command word ("build").
using Entries = std::set<std::string>;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

// The options of a manual page's scdoc source: every definition line (a line
// that starts with a bold option and is followed by its tab-indented text),
// and the command words of the synopsis ("*kr470-mkupdate build* ...").
Entries OptionsInManPage(const std::string& page, const std::string& program) {
    static const std::regex bold(R"(\*(--?[A-Za-z0-9][A-Za-z0-9-]*|/[A-Z?])\*)");
    const std::regex command("^\\*" + program + " ([a-z][a-z-]*)\\*");
    Entries entries;
    const std::vector<std::string> lines = Lines(page);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        if (std::regex_search(lines[i], match, command))
            entries.insert(match[1]);
        const bool definition = (lines[i].starts_with("*-") || lines[i].starts_with("*/")) &&
                                i + 1 < lines.size() && lines[i + 1].starts_with("\t");
        if (!definition)
            continue;
        std::vector<std::string> names;
        for (std::sregex_iterator it(lines[i].begin(), lines[i].end(), bold), end; it != end; ++it)
            names.push_back((*it)[1]);
        entries.insert(Joined(names));
    }
    return entries;
}

// The options of a program's help: every line that starts with its option
// names ("  -l, --link PATH  ..."), Osprey's switch lines ("\tF - ..."), and
// the command words of usage lines ("  kr470-mkupdate build ...").
Entries OptionsInHelp(const std::string& help, const std::string& program) {
    static const std::regex options(
        R"(^\s+(--?[A-Za-z0-9?][A-Za-z0-9-]*(, --?[A-Za-z0-9?][A-Za-z0-9-]*)*)(\s|=|$))");
    static const std::regex name(R"(--?[A-Za-z0-9?][A-Za-z0-9-]*)");
    static const std::regex ospreySwitch(R"(^\t([A-Z?]) - )");
    const std::regex command("^\\s+" + program + " ([a-z][a-z-]*)( |$)");
    Entries entries;
    for (const std::string& line : Lines(help)) {
        std::smatch match;
        if (std::regex_search(line, match, options)) {
            const std::string listed = match[1];
            std::vector<std::string> names;
            for (std::sregex_iterator it(listed.begin(), listed.end(), name), end; it != end; ++it)
                names.push_back(it->str());
            entries.insert(Joined(names));
        } else if (std::regex_search(line, match, ospreySwitch)) {
            entries.insert("/" + match[1].str());
        } else if (std::regex_search(line, match, command)) {
            entries.insert(match[1]);
        }
    }
    return entries;
}

// What one list has that the other lacks, said for a failure message; empty
// when the two agree.
std::string Differences(const Entries& page, const Entries& help) {
    std::string said;
    for (const std::string& entry : page)
        if (!help.contains(entry))
            said += "  the manual page describes " + entry + ", the help does not list it\n";
    for (const std::string& entry : help)
        if (!page.contains(entry))
            said += "  the help lists " + entry + ", the manual page does not describe it\n";
    return said;
}

// The entries with the given names taken out (an entry left without names
// goes), and whether every one of those names was there to take.
std::pair<Entries, bool> WithoutNames(const Entries& entries, const std::set<std::string>& drop) {
    static const std::regex name(R"([^, ]+)");
    Entries kept;
    std::set<std::string> found;
    for (const std::string& entry : entries) {
        std::vector<std::string> names;
        for (std::sregex_iterator it(entry.begin(), entry.end(), name), end; it != end; ++it) {
            if (drop.contains(it->str()))
                found.insert(it->str());
            else
                names.push_back(it->str());
        }
        if (!names.empty())
            kept.insert(Joined(names));
    }
    return {kept, found == drop};
}

struct Program {
    std::string name;
    std::string path;
    std::vector<std::string> helpArguments;
    int helpStatus;
    // Switches the page describes that the designed usage text never listed.
    std::set<std::string> notInHelp;
};

const std::vector<Program>& Programs() {
    static const std::vector<Program> programs{
        {"Osprey", OSPREY_PATH, {"/H"}, 1, {"/V", "/?"}},
        {"kr470-sim", SIMULATOR_PATH, {"--help"}, 0, {}},
        {"kr470-mkupdate", MKUPDATE_PATH, {"--help"}, 0, {}},
        {"kr470-ports", PORTS_PATH, {"--help"}, 0, {}},
        {"kr470-fleet", FLEET_PATH, {"--help"}, 0, {}},
        {"kestrel-host", HOST_PATH, {"--help"}, 0, {}},
    };
    return programs;
}

Entries PageOptions(const Program& program) {
    return OptionsInManPage(ReadFile(std::string(MAN_DIR) + "/" + program.name + ".1.scd"),
                            program.name);
}

std::string HelpOf(const Program& program) {
    std::vector<std::string> argv{program.path};
    argv.insert(argv.end(), program.helpArguments.begin(), program.helpArguments.end());
    ProcessResult help = RunProcess(argv, "");
    EXPECT_EQ(help.status, program.helpStatus) << program.name << ": " << help.errors;
    return help.output;
}

TEST(ManPageOptions, EveryProgramsHelpListsExactlyTheOptionsOfItsManualPage) {
    for (const Program& program : Programs()) {
        SCOPED_TRACE(program.name);
        auto [page, described] = WithoutNames(PageOptions(program), program.notInHelp);
        const Entries help = OptionsInHelp(HelpOf(program), program.name);
        ASSERT_GE(page.size(), 3u) << "no options read from the manual page";
        EXPECT_TRUE(described) << "the page no longer describes a switch the usage leaves out";
        EXPECT_EQ(Differences(page, help), "");
    }
}

// The comparison is not blind: a help that gains an option, or a page that
// loses one, is said with the option's names.
TEST(ManPageOptions, AnOptionMissingFromEitherSideIsNamed) {
    const Program& simulator = Programs()[1];
    const std::string help = HelpOf(simulator);
    const Entries page = PageOptions(simulator);
    ASSERT_EQ(Differences(page, OptionsInHelp(help, simulator.name)), "");

    const std::string gained = help + "      --warp-speed N         go faster\n";
    EXPECT_EQ(Differences(page, OptionsInHelp(gained, simulator.name)),
              "  the help lists --warp-speed, the manual page does not describe it\n");

    Entries lost = page;
    ASSERT_EQ(lost.erase("--gpib-address"), 1u);
    EXPECT_EQ(Differences(lost, OptionsInHelp(help, simulator.name)),
              "  the help lists --gpib-address, the manual page does not describe it\n");

    std::string renamed = help;
    renamed.replace(renamed.find("  -b, --baud"), 12, "  -B, --baud");
    EXPECT_EQ(Differences(page, OptionsInHelp(renamed, simulator.name)),
              "  the manual page describes -b, --baud, the help does not list it\n"
              "  the help lists -B, --baud, the manual page does not describe it\n");
}

TEST(ManPageOptions, CommandWordsAndSwitchesAreReadFromBothSides) {
    EXPECT_EQ(OptionsInManPage("*tool build* *--in* _file_\n\n*-i*, *--in* _file_\n\tThe input.\n"
                               "*--in* is required.\n\n*/F*_file_\n\tThe file.\n",
                               "tool"),
              (Entries{"build", "-i, --in", "/F"}));
    EXPECT_EQ(OptionsInHelp("Usage: tool COMMAND\n  tool build --in FILE\n"
                            "      -i, --in FILE   the input (with --out: both)\n"
                            "          --out=FILE  the output\n\tF - the file\n",
                            "tool"),
              (Entries{"build", "-i, --in", "--out", "/F"}));
}

}  // namespace
}  // namespace kr470
