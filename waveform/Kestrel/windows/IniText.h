// The text of a settings file: "[Section]" lines, "key=value" lines, comment
// lines beginning with ';' or '#', blank lines. Values are read and written in
// the quoted, backslash-escaped form the store has always used, so files
// written before stay readable. A change rewrites one line and keeps every
// other line (comments included) as it was.
#pragma once

#include <map>
#include <string>

namespace kestrel {

// False when a line is none of the kinds above, or the text holds a NUL: such
// a file is not ours to read or rewrite.
bool IniTextWellFormed(const std::string& text);

// The decoded values of one section, keys as written; sections and keys
// match ignoring case, and the first of a repeated key counts.
std::map<std::string, std::string> IniSectionValues(const std::string& text,
                                                    const std::string& section);

// `text` with `key` in `section` set to `value`: its line replaced, else added
// at the end of the section, else the section added at the end.
std::string WithIniValue(const std::string& text, const std::string& section,
                         const std::string& key, const std::string& value);

std::string EncodeIniValue(const std::string& value);
std::string DecodeIniValue(const std::string& raw);

}  // namespace kestrel
