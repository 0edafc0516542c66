#include "PortsFile.h"

#include <cstdio>
#include <cstdlib>

#include "ConfigPath.h"
#include "IniFile.h"
#include "TextRules.h"

namespace osprey {
namespace {

// True when a section name such as "COM3" or "asrl3" names port `number`.
bool NamesPort(std::string_view section, int number) {
    std::string n = std::to_string(number);
    return fileio::SameIgnoringCase(section, "COM" + n) ||
           fileio::SameIgnoringCase(section, "ASRL" + n);
}

bool IsKnownKey(std::string_view key) {
    return fileio::SameIgnoringCase(key, "device") || fileio::SameIgnoringCase(key, "settings");
}

// Says on stderr what in the ports file at `path` is not understood.
void WarnAboutContent(const std::string& path, const fileio::IniContent& content) {
    fileio::WarnAboutMalformedLines(path, content);
    for (const fileio::IniEntry& entry : content.entries) {
        if (!IsKnownKey(entry.key)) {
            fileio::WarnAboutFile(path, entry.line,
                                  "warning: unknown key \"" + entry.key + "\"; ignored");
        }
    }
}

constexpr const char* kPortsFileVariable = "OSPREY_PORTS";

}  // namespace

std::string PortsFilePath() {
    return fileio::ConfigFilePath(kPortsFileVariable, "osprey/ports.ini");
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
    for (const fileio::IniEntry& line : fileio::ReadIniText(fileText).entries) {
        if (!NamesPort(line.section, number))
            continue;
        if (fileio::SameIgnoringCase(line.key, "device") && entry.device.empty()) {
            entry.device = line.value;
        } else if (fileio::SameIgnoringCase(line.key, "settings") && entry.settings.empty()) {
            entry.settings = line.value;
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
    const std::string path = PortsFilePath();
    if (fileio::ReadOwnFile(path, kLargestPortsFile, kPortsFileVariable, "ports file", text,
                            problem)) {
        WarnAboutContent(path, fileio::ReadIniText(text));
        return LookUpPort(text, number, fallbackSettings);
    }
    // A ports file that cannot be read must not send the run to a default port.
    std::fprintf(stderr, "Osprey: cannot use the ports file: %s.\n", problem.c_str());
    PortEntry none;
    none.settings = fallbackSettings;
    return none;
}

}  // namespace osprey
