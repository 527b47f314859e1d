// Whole-file reads and absolute paths.
#include "package/file_io.h"

#include <gtest/gtest.h>

#include "package/path_rules.h"
#include "support/test_support.h"

namespace {

TEST(ReadWholeFile, ReadsEveryByte) {
    testsupport::TempDir dir;
    const std::vector<uint8_t> bytes = {'a', '\r', '\n', 0, 0xFF, 'b', '\n'};
    testsupport::WriteAll(dir.File("t.txt"), bytes);
    std::string text = "old";
    ASSERT_TRUE(ReadWholeFile(dir.File("t.txt"), &text));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text);
    EXPECT_FALSE(ReadWholeFile(dir.File("missing.txt"), &text));
}

TEST(MakeAbsolutePath, ResolvesAgainstTheCurrentFolder) {
    const std::string here = MakeAbsolutePath("x");
    ASSERT_EQ("x", FileNamePart(here));
    const std::string cwd = DirectoryPart(here);
    ASSERT_FALSE(cwd.empty());
    const std::string sep(1, kPathSeparator);
    EXPECT_EQ(cwd + sep + "a" + sep + "c", MakeAbsolutePath("a/./b/../c"));
    EXPECT_EQ(cwd + sep + "d", MakeAbsolutePath("." + sep + "d"));
#ifdef _WIN32
    EXPECT_EQ("C:\\tmp\\y", MakeAbsolutePath("C:\\tmp\\\\x\\..\\y"));
#else
    EXPECT_EQ("/tmp/y", MakeAbsolutePath("/tmp//x/../y"));
    EXPECT_EQ("/a", MakeAbsolutePath("/../a"));
    EXPECT_EQ("/", MakeAbsolutePath("/."));
#endif
}

}  // namespace
