#include "Config.h"

#include <utility>

#include <kio/Session.h>

#include "Address.h"
#include "ConfigPath.h"
#include "IniFile.h"
#include "RegularFile.h"
#include "TextRules.h"

namespace kio {
namespace {

constexpr const char* kConfigVariable = "KIO_CONFIG";

// The keys a port's section may hold; [aliases] holds addresses as keys.
bool IsKnownKey(const std::string& section, const std::string& key) {
    if (section.starts_with("GPIB") && (key == "CONTROLLER" || key == "SCAN"))
        return true;  // a GPIB board's controller and the addresses the finder asks
    return section == "ALIASES" || key == "DEVICE" || key == "SETTINGS" || key == "HANDSHAKE" ||
           key == "VXI11_PORT" || key == "VXI11_HOSTS";
}

bool IsNumbered(const std::string& section, std::string_view bus) {
    return section.size() > bus.size() && section.starts_with(bus) &&
           AllDigits(section.substr(bus.size()));
}

// The sections an address can reach: [aliases], a serial port ([ASRL<n>],
// [ASRL/dev/...] or [/dev/...]), a GPIB board ([GPIB<n>]) and the LAN
// ([tcpip], [tcpip::HOST]); upper case.
bool IsKnownSection(const std::string& section) {
    return section == "ALIASES" || IsNumbered(section, "ASRL") || section.starts_with("ASRL/") ||
           section.starts_with("/") || IsNumbered(section, "GPIB") || section == "TCPIP" ||
           (section.starts_with("TCPIP::") && section.size() > 7);
}

// Sections and keys of `text` in upper case, the first of a repeated key
// counting; what is not understood is said on stderr.
void ParseConfig(const std::string& path, const std::string& text, Config& config) {
    const fileio::IniContent content = fileio::ReadIniText(text);
    fileio::WarnAboutMalformedLines(path, content);
    for (const fileio::IniEntry& entry : content.entries) {
        std::string section = Upper(entry.section);
        std::string key = Upper(entry.key);
        if (!IsKnownSection(section)) {
            // Said once per section, at its first key; its keys reach nothing.
            if (!config.contains(section)) {
                fileio::WarnAboutFile(path, entry.line,
                                      section.empty()
                                          ? "warning: key outside any section; ignored"
                                          : "warning: section [" + entry.section +
                                                "] names no port or bus (ASRL<n>, ASRL/dev/..., "
                                                "GPIB<n>, tcpip, tcpip::HOST or aliases); ignored");
            }
        } else if (!IsKnownKey(section, key)) {
            fileio::WarnAboutFile(path, entry.line,
                                  "warning: unknown key \"" + entry.key + "\"; ignored");
        }
        config[std::move(section)].try_emplace(std::move(key), entry.value);
    }
}

}  // namespace

std::string Upper(std::string_view text) {
    return fileio::Upper(text);
}

std::string Trim(std::string_view text) {
    return std::string(fileio::Trim(text));
}

bool ReadConfig(Config& config, std::string& problem) {
    config.clear();
    std::string text;
    const std::string path = ConfigPath();
    if (fileio::IsNullDevice(path)) {
        return true;  // KIO_CONFIG=/dev/null: the usual way to say "no configuration"
    }
    if (fileio::ReadOwnFile(path, kLargestConfigFile, kConfigVariable, "configuration file", text,
                            problem)) {
        ParseConfig(path, text, config);
        return true;
    }
    problem = "Cannot read the instrument-I/O configuration: " + problem;
    return false;
}

std::string Lookup(const Config& config, const std::string& section, const std::string& key) {
    auto s = config.find(section);
    if (s == config.end())
        return "";
    auto k = s->second.find(key);
    return k == s->second.end() ? "" : k->second;
}

std::string ConfigPath() {
    return fileio::ConfigFilePath(kConfigVariable, "instrument-io/config.ini");
}

}  // namespace kio
