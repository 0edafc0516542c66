// Replacing a file whole: the new text goes into a temporary file created
// exclusively beside the file (never through a name someone else planted),
// is synced, and is renamed over the file. A symbolic link is written through
// to the file it names, so the link stays a link. The file keeps its mode.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace fileio {

// The file a path finally names, its symbolic links followed (at most 40);
// the path itself when it is not a link. A dangling link yields its target.
// False with `problem` for a link loop or a link that cannot be read.
bool ResolveLinks(const std::string& path, std::string& target, std::string& problem);

// Writes `text` as the whole new content of `path`. A file created anew gets
// `newFileMode`. False with `problem` when nothing was changed.
bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& problem,
                         mode_t newFileMode = 0644);

}  // namespace fileio
