// The text of a settings file: "[Section]" lines, "key=value" lines, comment
// lines beginning with ';' or '#', blank lines; after a value, a blank and ';'
// outside quotes start a comment, while '#' is part of the value. Values are
// read and written in the quoted, backslash-escaped form the store has always
// used (a text starting with '@' has it doubled), so files written before stay
// readable. A change rewrites one line and keeps every other line (comments
// included) as it was.
#pragma once

#include <map>
#include <string>

namespace kestrel {

// False when a line is none of the kinds above, or the text holds a NUL: such
// a file is not ours to read or rewrite.
bool IniTextWellFormed(const std::string& text);
// The first line (counted from 1) that makes it so, or 0 when there is none.
size_t FirstIllFormedLine(const std::string& text);

// The decoded values of one section, keys as written; sections and keys
// match ignoring case, and the first line of a key counts (in any case: the
// line WithIniValue rewrites).
std::map<std::string, std::string> IniSectionValues(const std::string& text,
                                                    const std::string& section);

// `text` with `key` in `section` set to `value`: its line replaced, else added
// at the end of the section, else the section added at the end.
std::string WithIniValue(const std::string& text, const std::string& section,
                         const std::string& key, const std::string& value);

std::string EncodeIniValue(const std::string& value);
std::string DecodeIniValue(const std::string& raw);

}  // namespace kestrel
