// The one rule for every file the tools write (append to, create, replace):
//
// - A symbolic link owned by another user in a sticky, world-writable folder
//   (/tmp, a shared drop folder) is never followed, whatever the kernel's
//   fs.protected_symlinks says: it is refused, as the kernel refuses such an
//   open when that protection is on. The folders on the way are held to the
//   same rule.
// - Nothing is created through a link: a link whose chain ends at no file is
//   refused for appending, and replaced itself when a file is replaced.
// - Only regular files are written: a FIFO, a device, a socket or a folder is
//   refused, and no open ever blocks.
// - A file replaced whole (WriteFileAtomically) replaces the link the user
//   named, not its target, unless the caller asks to write through links.
#pragma once

#include <string>

namespace fileio {

// How a file replaced whole treats a symbolic link at its name.
enum class LinkUse {
    kReplaceLink,   // the link itself is replaced by the file; its target is left alone
    kWriteThrough,  // the file the link names is replaced, and the link stays a link
};

// Whether following the link at `linkPath` (whose lstat owner is `linkOwner`)
// is allowed: false, with `problem`, for another user's link in a sticky
// world-writable folder.
bool MayFollowLink(const std::string& linkPath, unsigned linkOwner, std::string& problem);

// The path the write goes to. With kWriteThrough the link chain is followed
// under the rule; a chain that ends at no file yields `path` itself (the
// link is replaced, nothing is made at its target). False with `problem`
// for a refused link, a loop or a link that cannot be read.
bool PathToWrite(const std::string& path, LinkUse use, std::string& target, std::string& problem);

// Makes `folder` and the folders above it that are missing, under the rule:
// no folder is made through another user's link in a sticky folder. False
// with `problem` (the refused link, or the system's reason).
bool MakeFolders(const std::string& folder, std::string& problem);

// Opens `path` for appending, creating a regular file (mode 0644 before the
// umask) when nothing is there, under the rule above; the descriptor blocks
// as usual once open. -1 with `problem` (a sentence naming the path).
int OpenForAppending(const std::string& path, std::string& problem);

// Opens `path` to write it anew (emptied), under the rule above and
// stricter still: no link at all at its name. -1 with `why`, a short reason
// without the path ("it is a symbolic link", "it is not a regular file", the
// system's reason, or the sentence of a refused folder on the way).
int OpenForRewriting(const std::string& path, std::string& why);

// Whether `path` can be replaced whole before any work is done: the rule,
// a regular file or none, a folder we may write in, and, in a sticky folder,
// a file we may rename over. False with `problem`.
bool CheckReplaceable(const std::string& path, LinkUse use, std::string& problem);

}  // namespace fileio
