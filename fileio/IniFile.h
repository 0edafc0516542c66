// The INI-like files that are ours (the ports file, the instrument-I/O
// configuration, the class registry, a plug-in's settings): "[section]"
// headers, "key = value" lines, blank lines and comments. A comment starts
// with ';' or '#' at the start of a line, or after a blank inside a line
// ("device = /dev/ttyUSB0 ; a USB adapter"); a ';' or '#' inside double
// quotes (a backslash escapes the next character there) or glued to the
// text before it ("a#b") belongs to the value. Lines are parsed one at a
// time, so a writer can keep every line it does not change as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fileio {

enum class IniLineKind { kBlank, kComment, kSection, kValue, kMalformed };

struct IniLine {
    IniLineKind kind = IniLineKind::kBlank;
    std::string name;   // a header's section name, a value line's key
    std::string value;  // a value line's value, its comment dropped
};

// One line (without its line end; a trailing CR is a blank).
IniLine ParseIniLine(std::string_view raw);

// `value` up to the comment it ends with, if any, trimmed.
std::string_view WithoutComment(std::string_view value);

// The text's lines without their line ends; a leading UTF-8 byte-order mark
// is no part of the first.
std::vector<std::string_view> IniLines(std::string_view text);

// A value line with the section it is in ("" before the first header).
struct IniEntry {
    size_t line = 0;  // counted from 1
    std::string section;
    std::string key;
    std::string value;
};

// What a file holds and what was wrong with it: malformed lines, each with
// its line number.
struct IniContent {
    std::vector<IniEntry> entries;
    std::vector<size_t> malformedLines;
};

IniContent ReadIniText(std::string_view text);

// Reads one of our files: true with its text, "" when there is none (said
// on stderr when the environment variable `namedBy` names it: a name typed
// wrong); false with `problem` when it is no regular file of at most
// `maxBytes` or cannot be read. `kind` names the file in the warning.
bool ReadOwnFile(const std::string& path, uint64_t maxBytes, const char* namedBy, const char* kind,
                 std::string& text, std::string& problem);

// Says "<path>:<line>: <what>" (no line when `line` is 0) on stderr, once a
// process for each text: files read again and again do not repeat it.
void WarnAboutFile(const std::string& path, size_t line, const std::string& what);

// Warns about each malformed line of `content` read from `path`.
void WarnAboutMalformedLines(const std::string& path, const IniContent& content);

}  // namespace fileio
