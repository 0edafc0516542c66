// A pseudo-terminal pair for the serial line's tests and the instrument-I/O
// library's, and a lock folder of the test's own.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "ScopedEnv.h"

namespace testsupport {

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
    LockFolder() { variable_.Set(path_); }
    ~LockFolder() { std::filesystem::remove_all(path_); }
    const std::string& Path() const { return path_; }

  private:
    static std::string MakeFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "locks.XXXXXX").string();
        return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }

    std::string path_ = MakeFolder();
    ScopedEnv variable_{"KR470_LOCK_DIR"};
};

}  // namespace testsupport
