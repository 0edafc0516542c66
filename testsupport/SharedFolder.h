// A sticky, world-writable folder (as /tmp is) inside a test's temporary
// folder, and links in it owned by another user (nobody, 65534), made by
// root with lchown. Tests that need another user skip without root.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TempFile.h"

namespace testsupport {

inline constexpr uid_t kOtherUser = 65534;

class SharedFolder {
  public:
    SharedFolder() {
        std::filesystem::create_directory(Path());
        ::chmod(Path().c_str(), 01777);
        ::chmod(dir_.Path().c_str(), 0755);  // the other user may pass through
    }
    static bool CanActAsAnotherUser() { return ::geteuid() == 0; }
    // The folder that holds the shared one: what is outside it stands for the victim's files.
    const std::filesystem::path& Top() const { return dir_.Path(); }
    std::filesystem::path Path() const { return dir_.Path() / "shared"; }
    // `name` in the shared folder, a link to `target` owned by `owner`.
    std::string Link(const std::string& name, const std::filesystem::path& target,
                     uid_t owner = kOtherUser) const {
        const std::filesystem::path link = Path() / name;
        std::filesystem::create_symlink(target, link);
        if (::lchown(link.c_str(), owner, owner) != 0) {
            return {};
        }
        return link.string();
    }

  private:
    TempDir dir_;
};

}  // namespace testsupport
