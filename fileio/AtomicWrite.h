// Replacing a file whole: the new text goes into a temporary file created
// exclusively beside the file (never through a name someone else planted),
// is synced, and is renamed over the file. Links are taken as WritePath.h
// says: the caller chooses whether a link the user made is replaced or
// written through. The file keeps its mode.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "WritePath.h"

namespace fileio {

// Writes `text` as the whole new content of `path`. A file created anew gets
// `newFileMode`. False with `problem` when nothing was changed.
bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& problem,
                         LinkUse use, mode_t newFileMode = 0644);

}  // namespace fileio
