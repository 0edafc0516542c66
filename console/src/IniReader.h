// The update-file reader: key lookup by the update file's lookup rule,
// positioning at a section, the description printout and field splitting.
#pragma once

#include <span>
#include <string_view>

#include "TextFile.h"

namespace osprey {

// Lines of the update file are read in pieces of at most 255 characters.
inline constexpr size_t kIniLineBuffer = 256;

// Looks up `key` in `section`: rewinds, finds the first line that begins with
// "[section]", then the first later line that begins with the key (even past
// the next section header). The value is what follows the key and one
// separator character, cut to destination.size() - 1 characters. Returns the
// number of characters stored; 0 leaves `destination` as it was.
int ReadIniValue(TextFile& file, std::string_view section, std::string_view key,
                 std::span<char> destination);

// Leaves the file at the line after the section's header (at its end when the
// header is missing). Returns 0.
int PositionAtSection(TextFile& file, std::string_view section);

// Prints "Desc 1", "Desc 2", ... of [Description] until the first one that is
// missing or empty. Returns the number of lines printed.
int PrintDescriptionLines(TextFile& file);

// Prints the update file's description and ends the program: status 0, or 1
// when the file cannot be opened.
[[noreturn]] void PrintDescription(const char* path);

// Splits `text` in place at every occurrence of the delimiter's first
// character and stores the start of each field in `slots`. Fields beyond the
// last slot stay joined in the last one. Returns the number of slots filled.
int SplitFields(char* text, std::span<char*> slots, const char* delimiter);

}  // namespace osprey
