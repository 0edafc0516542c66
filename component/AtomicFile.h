// Small per-user files (the class registry, a plug-in's settings) read and
// replaced safely: only a regular file within a size bound is read, and a
// new version replaces the old one whole, through any symbolic link to its
// target, from a temporary file that no planted link can redirect.
#pragma once

#include <cstddef>
#include <string>

namespace kcom {

enum class FileState { kRead, kAbsent, kUnreadable };

struct FileText {
    FileState state = FileState::kAbsent;
    std::string text;  // when kRead
    std::string why;   // when kUnreadable: what is wrong, with the path
};

// Reads the whole file at `path` (links followed). Absent when nothing is
// there (a dangling link included); unreadable when it cannot be opened, is
// no regular file (opened without blocking, so a FIFO cannot hang the
// caller) or holds more than `limit` bytes.
FileText ReadSmallFile(const std::string& path, size_t limit);

// The file a write to `path` reaches: symbolic links followed to their
// target, which need not exist yet. Empty (with `error`) on a link loop.
std::string WriteTarget(const std::string& path, std::string& error);

// Replaces the file at `path` (its link target, when it is a link) with
// `text`: written to a temporary file created exclusively beside the target,
// given the old file's permissions, synced, then renamed over it. False, with
// `error`, when it could not; the old file is then as it was.
bool ReplaceFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace kcom
