// kr470-mkupdate: makes an update file from an S-record image, checks an
// existing one, or generates a deterministic demo image.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "UpdateFileBuilder.h"

namespace {

[[noreturn]] void Usage() {
    std::fprintf(
        stderr,
        "usage:\n"
        "  kr470-mkupdate build --srec IMAGE --revision REV [--name TEXT] [--model MODEL]\n"
        "                       [--desc LINE]... [--magic] [--lf] -o UPDATE.INI\n"
        "  kr470-mkupdate check UPDATE.INI\n"
        "  kr470-mkupdate gen-image --bytes N [--seed N] [--header TEXT] -o IMAGE.srec\n");
    std::exit(2);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "kr470-mkupdate: cannot read %s\n", path.c_str());
        std::exit(1);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes beside the target and renames, so a reader never sees half a file.
void WriteFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            std::fprintf(stderr, "kr470-mkupdate: cannot write %s\n", temporary.c_str());
            std::exit(1);
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::perror("kr470-mkupdate: rename");
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

int Build(int argc, char** argv) {
    kr470::UpdateFileInput input;
    std::string srec, output;
    for (int i = 2; i < argc; ++i) {
        std::string flag = argv[i];
        if (flag == "--magic") {
            input.magicChecksum = true;
            continue;
        }
        if (flag == "--lf") {
            input.crlf = false;
            continue;
        }
        if (i + 1 >= argc)
            Usage();
        std::string value = argv[++i];
        if (flag == "--srec")
            srec = value;
        else if (flag == "--name")
            input.name = value;
        else if (flag == "--model")
            input.model = value;
        else if (flag == "--revision")
            input.revision = value;
        else if (flag == "--desc")
            input.description.push_back(value);
        else if (flag == "-o")
            output = value;
        else
            Usage();
    }
    if (srec.empty() || output.empty() || input.revision.empty())
        Usage();
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
    if (argc != 3)
        Usage();
    std::vector<std::string> problems = kr470::CheckUpdateFile(ReadFile(argv[2]));
    for (const std::string& p : problems)
        std::printf("%s: %s\n", argv[2], p.c_str());
    if (problems.empty())
        std::printf("%s: OK\n", argv[2]);
    return problems.empty() ? 0 : 1;
}

int GenerateImage(int argc, char** argv) {
    size_t bytes = 0;
    uint32_t seed = 470;
    std::string header = "KR470A 1.05", output;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string flag = argv[i], value = argv[i + 1];
        if (flag == "--bytes")
            bytes = std::strtoul(value.c_str(), nullptr, 10);
        else if (flag == "--seed")
            seed = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        else if (flag == "--header")
            header = value;
        else if (flag == "-o")
            output = value;
        else
            Usage();
    }
    if (bytes == 0 || output.empty())
        Usage();
    std::string text;
    for (const std::string& line : kr470::GenerateImage(bytes, seed, header))
        text += line + "\n";
    WriteFile(output, text);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        Usage();
    std::string command = argv[1];
    if (command == "build")
        return Build(argc, argv);
    if (command == "check")
        return Check(argc, argv);
    if (command == "gen-image")
        return GenerateImage(argc, argv);
    Usage();
}
