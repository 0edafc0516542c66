// The update file's description as Osprey prints it (option D): the
// [Description] lines "Desc 1", "Desc 2", ... read by the update file's key lookup.
#pragma once

#include "TextFile.h"

namespace osprey {

// Prints "Desc 1", "Desc 2", ... of [Description] until the first one that is
// missing or empty. Returns the number of lines printed.
int PrintDescriptionLines(TextFile& file);

// Prints the update file's description and ends the program: status 0, or 1
// when the file cannot be opened.
[[noreturn]] void PrintDescription(const char* path);

}  // namespace osprey
