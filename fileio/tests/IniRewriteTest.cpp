// The rewriter both INI writers use: lines not changed come out as they
// went in, changes land where their section is.
#include "IniRewrite.h"

#include <gtest/gtest.h>

namespace fileio {
namespace {

TEST(IniRewrite, KeepsEveryLineItDoesNotChangeByteForByte) {
    for (const char* text : {"", "\n", "; only a comment", "\xEF\xBB\xBF[a]\r\nk = 1\r\n",
                             "[a] ; note\n\n# c\nk=1\n[b]\nx = \"q ; r\"\n"}) {
        EXPECT_EQ(IniRewrite(text).Text(), text);
    }
}

TEST(IniRewrite, ReplacesAddsAndDropsLinesByTheirIndexAsRead) {
    IniRewrite file(
        "\xEF\xBB\xBF[A] ; first\r\nk = 1\r\n; for b\r\n[b]\r\nx = 2\r\n\r\n[c]\r\ny = 3");
    IniSectionSpan span;
    ASSERT_TRUE(file.FindSection("a", true, span));
    EXPECT_EQ(span.header, 0u);
    EXPECT_EQ(span.end, 3u);
    EXPECT_FALSE(file.FindSection("a", false, span));
    ASSERT_TRUE(file.FindSection("b", false, span));
    EXPECT_EQ(span.end, 6u);
    file.Replace(1, "k = 10");  // keeps its CR
    file.AddAfter(1, "m = 4");
    file.Drop(3);
    file.Drop(4);
    file.Drop(5);
    file.AddAtEnd("[d]");
    EXPECT_EQ(file.Text(),
              "\xEF\xBB\xBF[A] ; first\r\nk = 10\r\nm = 4\n; for b\r\n[c]\r\ny = 3\n[d]\n");
}

TEST(IniRewrite, ALastLineWithoutALineEndStaysSoUnlessLinesFollowIt) {
    IniRewrite replaced("[a]\nk = 1");
    replaced.Replace(1, "k = 2");
    EXPECT_EQ(replaced.Text(), "[a]\nk = 2");
    IniRewrite added("[a]\nk = 1");
    added.AddAfter(1, "m = 2");
    EXPECT_EQ(added.Text(), "[a]\nk = 1\nm = 2\n");
    IniRewrite empty("");
    empty.AddAtEnd("[a]");
    EXPECT_EQ(empty.Text(), "[a]\n");
}

TEST(IniRewrite, ReadsLinesWithTheCallersParser) {
    const IniRewrite file("[a]\nk = v # here\n", [](std::string_view raw) {
        IniLine line = ParseIniLine(raw);
        if (line.kind == IniLineKind::kValue)
            line.value = "whole";
        return line;
    });
    EXPECT_EQ(file.Parsed(1).value, "whole");
}

}  // namespace
}  // namespace fileio
