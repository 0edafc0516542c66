// Where configuration files are looked for.
#include "ConfigPath.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace fileio {
namespace {

// Sets an environment variable for one test and puts it back after.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name))
            old_ = old;
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ConfigPath, NamedFileThenXdgFolderThenHome) {
    ScopedVariable named("KR470_TEST_FILE", "/tmp/named.ini");
    ScopedVariable xdg("XDG_CONFIG_HOME", "/x");
    ScopedVariable home("HOME", "/home/u");
    EXPECT_EQ(ConfigFilePath("KR470_TEST_FILE", "tool/a.ini"), "/tmp/named.ini");
    {
        ScopedVariable empty("KR470_TEST_FILE", "");
        EXPECT_EQ(ConfigFilePath("KR470_TEST_FILE", "tool/a.ini"), "/x/tool/a.ini");
    }
    {
        ScopedVariable emptyXdg("XDG_CONFIG_HOME", "");
        EXPECT_EQ(ConfigFilePath(nullptr, "tool/a.ini"), "/home/u/.config/tool/a.ini");
        EXPECT_EQ(ConfigFolder(), "/home/u/.config");
    }
}

}  // namespace
}  // namespace fileio
