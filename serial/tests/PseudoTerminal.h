// A pseudo-terminal pair for the device tests, and a lock folder of the
// test's own.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace serialio::testing {

class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            path_ = ptsname(master_);
        }
        // The slave must stay open somewhere or its settings are lost.
        keeper_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~PseudoTerminal() {
        ::close(keeper_);
        ::close(master_);
    }
    const std::string& Path() const { return path_; }
    int Master() const { return master_; }
    int Keeper() const { return keeper_; }

  private:
    int master_ = -1;
    int keeper_ = -1;
    std::string path_;
};

// Points KR470_LOCK_DIR at a fresh folder while it lives.
class LockFolder {
  public:
    LockFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "locks.XXXXXX").string();
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
        setenv("KR470_LOCK_DIR", path_.c_str(), 1);
    }
    ~LockFolder() {
        unsetenv("KR470_LOCK_DIR");
        std::filesystem::remove_all(path_);
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace serialio::testing
