// The instrument-I/O configuration file: sections of KEY = value lines.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace kio {

// Sections of the configuration, keys and section names in upper case.
using Config = std::map<std::string, std::map<std::string, std::string>>;

// The shared text rules, as owned strings.
std::string Upper(std::string_view text);
std::string Trim(std::string_view text);

// Reads the configuration in force; a missing file or the null device is an
// empty one (a missing file is said on stderr when KIO_CONFIG names it), and
// lines, keys and sections not understood are said on stderr with file and
// line. False, with `problem`, when the file is there but is no regular file
// of at most kLargestConfigFile bytes or cannot be read.
bool ReadConfig(Config& config, std::string& problem);

// The value of `key` in `section` (both upper case), empty when there is none.
std::string Lookup(const Config& config, const std::string& section, const std::string& key);

}  // namespace kio
