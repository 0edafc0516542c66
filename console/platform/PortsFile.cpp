#include "PortsFile.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ConfigPath.h"
#include "IniFile.h"
#include "RegularFile.h"
#include "TextRules.h"

namespace osprey {
namespace {

// True when a section name such as "COM3" or "asrl3" names port `number`.
bool NamesPort(std::string_view section, int number) {
    std::string n = std::to_string(number);
    return fileio::SameIgnoringCase(section, "COM" + n) ||
           fileio::SameIgnoringCase(section, "ASRL" + n);
}

// A section such as "COM3" or "ASRL12" that names some port.
bool NamesAnyPort(std::string_view section) {
    for (std::string_view prefix : {"COM", "ASRL"}) {
        if (section.size() > prefix.size() &&
            fileio::SameIgnoringCase(section.substr(0, prefix.size()), prefix) &&
            section.substr(prefix.size()).find_first_not_of("0123456789") ==
                std::string_view::npos) {
            return true;
        }
    }
    return false;
}

bool IsKnownKey(std::string_view key) {
    return fileio::SameIgnoringCase(key, "device") || fileio::SameIgnoringCase(key, "settings");
}

// Says on stderr what in the ports file at `path` is not understood.
void WarnAboutContent(const std::string& path, const fileio::IniContent& content) {
    fileio::WarnAboutMalformedLines(path, content);
    for (const fileio::IniEntry& entry : content.entries) {
        if (!NamesAnyPort(entry.section)) {
            fileio::WarnAboutFile(path, entry.line,
                                  entry.section.empty()
                                      ? "warning: key outside any section; ignored"
                                      : "warning: section [" + entry.section +
                                            "] names no port (COM<n> or ASRL<n>); ignored");
        } else if (!IsKnownKey(entry.key)) {
            fileio::WarnAboutFile(path, entry.line,
                                  "warning: unknown key \"" + entry.key + "\"; ignored");
        }
    }
}

// Says on stderr when port `number` has a section of its own that gives it no
// device (an empty or misspelt "device" key): the port then falls back to
// `fallbackDevice`, which is seldom what the section's writer meant.
void WarnAboutMissingDevice(const std::string& path, std::string_view text, int number,
                            const std::string& fallbackDevice) {
    size_t header = 0;
    bool inside = false;
    std::vector<std::string_view> lines = fileio::IniLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        fileio::IniLine line = fileio::ParseIniLine(lines[i]);
        if (line.kind == fileio::IniLineKind::kSection) {
            inside = NamesPort(line.name, number);
            header = inside && header == 0 ? i + 1 : header;
        } else if (inside && line.kind == fileio::IniLineKind::kValue &&
                   fileio::SameIgnoringCase(line.name, "device") && !line.value.empty()) {
            return;
        }
    }
    if (header != 0) {
        fileio::WarnAboutFile(path, header,
                              "warning: the section of port " + std::to_string(number) +
                                  " names no device (an empty or misspelt \"device\" key); "
                                  "using " +
                                  fallbackDevice);
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
    if (fileio::IsNullDevice(path)) {
        return LookUpPort("", number, fallbackSettings);  // OSPREY_PORTS=/dev/null: no file
    }
    if (fileio::ReadOwnFile(path, kLargestPortsFile, kPortsFileVariable, "ports file", text,
                            problem)) {
        WarnAboutContent(path, fileio::ReadIniText(text));
        PortEntry entry = LookUpPort(text, number, fallbackSettings);
        WarnAboutMissingDevice(path, text, number, entry.device);
        return entry;
    }
    // A ports file that cannot be read must not send the run to a default port.
    std::fprintf(stderr, "Osprey: cannot use the ports file: %s.\n", problem.c_str());
    PortEntry none;
    none.settings = fallbackSettings;
    return none;
}

}  // namespace osprey
