#include "PortsSection.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kr470 {
namespace {

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string PortsSection(int number, const std::string& device, const std::string& settings) {
    return "[COM" + std::to_string(number) + "]\ndevice = " + device + "\nsettings = " + settings +
           "\n";
}

std::string DefaultPortsFile() {
    if (const char* named = std::getenv("OSPREY_PORTS"); named != nullptr && *named != '\0')
        return named;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0')
        return std::string(config) + "/osprey/ports.ini";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config/osprey/ports.ini";
}

bool HasPortSection(const std::string& fileText, int number) {
    std::istringstream in(fileText);
    std::string n = std::to_string(number);
    for (std::string line; std::getline(in, line);) {
        std::string header = Upper(Trimmed(line));
        if (header == "[COM" + n + "]" || header == "[ASRL" + n + "]")
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
