#include "PortsSection.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ConfigPath.h"
#include "IniFile.h"
#include "TextRules.h"

namespace kr470 {

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
    std::string existing;
    if (std::ifstream in(path, std::ios::binary); in) {
        std::ostringstream text;
        text << in.rdbuf();
        existing = text.str();
    }
    if (HasPortSection(existing, number))
        return path + " already has a section for COM" + std::to_string(number);
    std::error_code error;
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, error);
    std::ofstream out(path, std::ios::binary | std::ios::app);
    // A blank line between sections, and a line end before it if the file lacks one.
    if (!existing.empty())
        out << (existing.back() == '\n' ? "\n" : "\n\n");
    out << section;
    if (!out.flush())
        return "cannot write " + path;
    return {};
}

}  // namespace kr470
