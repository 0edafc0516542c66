#include "Config.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "InstrumentSession.h"
#include "RegularFile.h"

namespace kio {

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

std::string Trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r");
    size_t last = text.find_last_not_of(" \t\r");
    return first == std::string_view::npos ? "" : std::string(text.substr(first, last - first + 1));
}

bool ReadConfig(Config& config, std::string& problem) {
    config.clear();
    std::string text;
    switch (fileio::ReadRegularFile(ConfigPath(), kLargestConfigFile, text, problem)) {
        case fileio::ReadStatus::kRead:
        case fileio::ReadStatus::kMissing:
            break;
        case fileio::ReadStatus::kUnreadable:
        case fileio::ReadStatus::kRefused:
            problem = "Cannot read the instrument-I/O configuration: " + problem;
            return false;
    }
    std::istringstream file(text);
    std::string section;
    for (std::string raw; std::getline(file, raw);) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            section = Upper(Trim(line.substr(1, line.find(']') - 1)));
            continue;
        }
        size_t equals = line.find('=');
        if (equals != std::string::npos) {
            config[section].try_emplace(Upper(Trim(line.substr(0, equals))),
                                        Trim(line.substr(equals + 1)));
        }
    }
    return true;
}

std::string Lookup(const Config& config, const std::string& section, const std::string& key) {
    auto s = config.find(section);
    if (s == config.end())
        return "";
    auto k = s->second.find(key);
    return k == s->second.end() ? "" : k->second;
}

std::string ConfigPath() {
    if (const char* named = std::getenv("KIO_CONFIG"); named != nullptr && *named != '\0')
        return named;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
        return std::string(config) + "/instrument-io/config.ini";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/instrument-io/config.ini";
}

}  // namespace kio
