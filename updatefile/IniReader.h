// The update file's key lookup: finding a key in a section by the update
// file's lookup rule, positioning at a section, and field splitting. Osprey,
// its tools and the update-file builder's check all read keys through it, so
// what the check approves is what the programs read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "TextFile.h"

namespace osprey {

// Lines of the update file are read in pieces of at most 255 characters.
inline constexpr size_t kIniLineBuffer = 256;

// The piece of a line a key lookup lands on.
struct KeyLine {
    std::string text;          // the whole piece, the key included
    size_t lineNumber = 0;     // its line in the file, from 1
    bool pastSection = false;  // a later section's header came before it
    // What the lookup reads: the text after the key and one separator character.
    std::string_view Value(std::string_view key) const {
        return std::string_view(text).substr(std::min(text.size(), key.size() + 1));
    }
    // True when the character after the key is "=": the line is the key's own.
    bool IsKeysOwn(std::string_view key) const {
        return text.size() > key.size() && text[key.size()] == '=';
    }
};

// The lookup rule: rewinds, finds the first line that begins with
// "[section]", then the first later piece that begins with `key` (even past
// the next section header). Nothing when the header, the key or any line
// after the header is missing, or the key is empty.
std::optional<KeyLine> FindKeyLine(TextFile& file, std::string_view section, std::string_view key);

// Looks up `key` in `section` by the rule above. The value is what follows
// the key and one separator character, cut to destination.size() - 1
// characters. Returns the number of characters stored; 0 leaves
// `destination` as it was.
int ReadIniValue(TextFile& file, std::string_view section, std::string_view key,
                 std::span<char> destination);

// Leaves the file at the line after the section's header (at its end when the
// header is missing). Returns the header's line number, or nothing when it is missing.
std::optional<size_t> FindSectionHeader(TextFile& file, std::string_view section);

// FindSectionHeader for callers that only need the position. Returns 0.
int PositionAtSection(TextFile& file, std::string_view section);

// Splits `text` in place at every occurrence of the delimiter's first
// character and stores the start of each field in `slots`. Fields beyond the
// last slot stay joined in the last one. Returns the number of slots filled.
int SplitFields(char* text, std::span<char*> slots, const char* delimiter);

}  // namespace osprey
