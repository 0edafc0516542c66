#include "PortsSection.h"

#include <unistd.h>

#include <filesystem>

#include "ConfigPath.h"
#include "IniFile.h"
#include "RegularFile.h"
#include "TextRules.h"
#include "WritePath.h"

namespace kr470 {
namespace {

constexpr uint64_t kLargestPortsFile = 1 << 20;

}  // namespace

std::string PortsSection(int number, const std::string& device, const std::string& settings) {
    return "[COM" + std::to_string(number) + "]\ndevice = " + device + "\nsettings = " + settings +
           "\n";
}

std::string DefaultPortsFile() {
    return fileio::ConfigFilePath("OSPREY_PORTS", "osprey/ports.ini");
}

bool HasPortSection(const std::string& fileText, int number) {
    const std::string n = std::to_string(number);
    for (std::string_view raw : fileio::IniLines(fileText)) {
        const fileio::IniLine line = fileio::ParseIniLine(raw);
        if (line.kind == fileio::IniLineKind::kSection &&
            (fileio::SameIgnoringCase(line.name, "COM" + n) ||
             fileio::SameIgnoringCase(line.name, "ASRL" + n)))
            return true;
    }
    return false;
}

std::string AppendPortsSection(const std::string& path, int number, const std::string& section) {
    // Opened first, as every file the tools write: a regular file, links by fileio's rule.
    std::string problem;
    fileio::MakeFolders(std::filesystem::path(path).parent_path().string(), problem);
    int fd = fileio::OpenForAppending(path, problem);
    if (fd < 0)
        return "cannot write " + problem;
    std::string existing;
    if (fileio::ReadRegularFile(path, kLargestPortsFile, existing, problem) !=
        fileio::ReadStatus::kRead) {
        ::close(fd);
        return "cannot read " + problem;
    }
    if (HasPortSection(existing, number)) {
        ::close(fd);
        return path + " already has a section for COM" + std::to_string(number);
    }
    // A blank line between sections, and a line end before it if the file lacks one.
    std::string text;
    if (!existing.empty())
        text = existing.back() == '\n' ? "\n" : "\n\n";
    text += section;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written ? std::string() : "cannot write " + path;
}

}  // namespace kr470
