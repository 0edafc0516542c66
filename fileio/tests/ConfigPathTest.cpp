// Where configuration files are looked for.
#include "ConfigPath.h"

#include <gtest/gtest.h>

#include <string>

#include "ScopedEnv.h"

namespace fileio {
namespace {

using testsupport::ScopedEnv;

TEST(ConfigPath, NamedFileThenXdgFolderThenHome) {
    ScopedEnv named("KR470_TEST_FILE", "/tmp/named.ini");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/x");
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(ConfigFilePath("KR470_TEST_FILE", "tool/a.ini"), "/tmp/named.ini");
    {
        ScopedEnv empty("KR470_TEST_FILE", "");
        EXPECT_EQ(ConfigFilePath("KR470_TEST_FILE", "tool/a.ini"), "/x/tool/a.ini");
    }
    {
        ScopedEnv emptyXdg("XDG_CONFIG_HOME", "");
        EXPECT_EQ(ConfigFilePath(nullptr, "tool/a.ini"), "/home/u/.config/tool/a.ini");
        EXPECT_EQ(ConfigFolder(), "/home/u/.config");
    }
}

}  // namespace
}  // namespace fileio
