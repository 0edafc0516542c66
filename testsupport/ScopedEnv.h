// An environment variable set (or unset) for a scope: whatever the variable
// held before, or its absence, is back when the scope ends, however the test
// ends. POSIX only, as the tests that change their environment are.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace testsupport {

class ScopedEnv {
  public:
    // Keeps the variable as it is now, to be put back at the end.
    explicit ScopedEnv(std::string name) : name_(std::move(name)) {
        if (const char* value = ::getenv(name_.c_str())) {
            before_ = value;
        }
    }
    ScopedEnv(std::string name, std::string_view value) : ScopedEnv(std::move(name)) { Set(value); }
    ScopedEnv(std::string name, std::nullopt_t) : ScopedEnv(std::move(name)) { Unset(); }
    ~ScopedEnv() {
        if (before_) {
            Set(*before_);
        } else {
            Unset();
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    // Changes the variable again; the end still restores what it held first.
    void Set(std::string_view value) const {
        ::setenv(name_.c_str(), std::string(value).c_str(), 1);
    }
    void Unset() const { ::unsetenv(name_.c_str()); }

  private:
    std::string name_;
    std::optional<std::string> before_;
};

}  // namespace testsupport
