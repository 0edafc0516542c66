#include "PortsFile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "RegularFile.h"

namespace osprey {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// True when a section name such as "COM3" or "asrl3" names port `number`.
bool NamesPort(std::string_view section, int number) {
    std::string n = std::to_string(number);
    return EqualIgnoringCase(section, "COM" + n) || EqualIgnoringCase(section, "ASRL" + n);
}

}  // namespace

std::string PortsFilePath() {
    if (const char* named = std::getenv("OSPREY_PORTS"); named != nullptr && *named != '\0') {
        return named;
    }
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
        return std::string(config) + "/osprey/ports.ini";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/osprey/ports.ini";
}

std::optional<int> PortNumberOf(std::string_view devicePath) {
    constexpr std::string_view kPrefix = "\\\\.\\COM";
    if (!devicePath.starts_with(kPrefix)) {
        return std::nullopt;
    }
    std::string_view digits = devicePath.substr(kPrefix.size());
    if (digits.empty() || digits.size() > 9) {
        return std::nullopt;
    }
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

PortEntry LookUpPort(std::string_view fileText, int number, std::string_view fallbackSettings) {
    PortEntry entry;
    bool inSection = false;
    std::istringstream lines{std::string(fileText)};
    std::string raw;
    while (std::getline(lines, raw)) {
        std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            size_t close = line.find(']');
            inSection = close != std::string_view::npos &&
                        NamesPort(Trim(line.substr(1, close - 1)), number);
            continue;
        }
        size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) {
            continue;
        }
        std::string_view key = Trim(line.substr(0, equals));
        std::string_view value = Trim(line.substr(equals + 1));
        if (EqualIgnoringCase(key, "device") && entry.device.empty()) {
            entry.device = value;
        } else if (EqualIgnoringCase(key, "settings") && entry.settings.empty()) {
            entry.settings = value;
        }
    }
    if (entry.device.empty()) {
        entry.device = "/dev/ttyS" + std::to_string(number - 1);
    }
    if (entry.settings.empty()) {
        entry.settings = fallbackSettings;
    }
    return entry;
}

PortEntry LookUpPort(int number, std::string_view fallbackSettings) {
    std::string text;
    std::string problem;
    switch (fileio::ReadRegularFile(PortsFilePath(), kLargestPortsFile, text, problem)) {
        case fileio::ReadStatus::kRead:
        case fileio::ReadStatus::kMissing:
            return LookUpPort(text, number, fallbackSettings);
        case fileio::ReadStatus::kUnreadable:
        case fileio::ReadStatus::kRefused:
            break;
    }
    // A ports file that cannot be read must not send the run to a default port.
    std::fprintf(stderr, "Osprey: cannot use the ports file: %s.\n", problem.c_str());
    PortEntry none;
    none.settings = fallbackSettings;
    return none;
}

}  // namespace osprey
