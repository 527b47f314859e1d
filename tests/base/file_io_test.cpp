// File access: reads of regular files only, the replacing writer, absolute paths.
#include "base/file_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/path_rules.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ReadWholeFile, ReadsEveryByteUpToTheLimit) {
    TempDir dir;
    const std::vector<uint8_t> bytes = {'a', '\r', '\n', 0, 0xFF, 'b', '\n'};
    WriteAll(dir.File("t.txt"), bytes);
    std::string text = "old";
    ASSERT_EQ(ReadStatus::Ok, ReadWholeFile(dir.File("t.txt"), &text, bytes.size()));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text);
    EXPECT_EQ(ReadStatus::TooLarge, ReadWholeFile(dir.File("t.txt"), &text, bytes.size() - 1));
    EXPECT_EQ("", text);
    EXPECT_EQ(ReadStatus::CannotOpen, ReadWholeFile(dir.File("missing.txt"), &text, 100));
}

// Folders, pipes and devices are refused at once, with a reason; nothing waits for a writer.
TEST(ReadFilePrefix, OnlyRegularFiles) {
    TempDir dir;
    fs::create_directory(dir.File("folder"));
    std::vector<std::string> refused = {dir.File("folder"), dir.File("missing")};
#ifndef _WIN32
    ASSERT_EQ(0, mkfifo(dir.File("fifo").c_str(), 0600));
    fs::create_symlink(dir.File("fifo"), dir.File("link-to-fifo"));
    refused.insert(refused.end(), {dir.File("fifo"), dir.File("link-to-fifo"), "/dev/zero"});
#endif
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        uint8_t buffer[16];
        std::string why;
        EXPECT_EQ(-1, ReadFilePrefix(path, buffer, sizeof buffer, &why));
        EXPECT_FALSE(why.empty());
        std::string text;
        EXPECT_EQ(ReadStatus::CannotOpen, ReadWholeFile(path, &text, 100));
    }
    WriteAll(dir.File("file"), {1, 2, 3});
    uint8_t buffer[16] = {};
    EXPECT_EQ(3, ReadFilePrefix(dir.File("file"), buffer, sizeof buffer));
    EXPECT_EQ(0, ReadFilePrefix(dir.File("file"), buffer, 0));
}

TEST(WriteFileReplacing, WholeFileUnderTheNameNoTemporaryLeft) {
    TempDir dir;
    const std::vector<uint8_t> first(70000, 0x11), second(5000, 0x22);
    const std::string out = dir.File("out.exe");
    ASSERT_EQ(WriteStatus::Ok, WriteFileReplacing(out, first.data(), 70000));
    ASSERT_EQ(WriteStatus::Ok, WriteFileReplacing(out, second.data(), 5000));
    EXPECT_EQ(second, ReadAll(out));
    EXPECT_EQ(std::vector<std::string>{"out.exe"}, Names(dir.path()));
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(0, stat(out.c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 07777);
#endif
    // A folder that does not exist.
    EXPECT_EQ(WriteStatus::CannotCreate,
              WriteFileReplacing(dir.File("none") + kPathSeparator + "x.exe", first.data(), 10));
}

TEST(WriteFileReplacing, ReadOnlyOutputIsRefusedAndKept) {
    TempDir dir;
    const std::string out = dir.File("locked.exe");
    WriteAll(out, {'o', 'l', 'd'});
    fs::permissions(out, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const std::vector<uint8_t> data(100, 0x33);
    EXPECT_EQ(WriteStatus::CannotCreate, WriteFileReplacing(out, data.data(), 100));
    EXPECT_EQ((std::vector<uint8_t>{'o', 'l', 'd'}), ReadAll(out));
    EXPECT_EQ(std::vector<std::string>{"locked.exe"}, Names(dir.path()));
    fs::permissions(out, fs::perms::owner_write, fs::perm_options::add);
}

TEST(TemporaryFileName, FixedLengthDifferentEachTime) {
    const std::string a = TemporaryFileName(), b = TemporaryFileName();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.size(), b.size());
    EXPECT_EQ(a, FileNameSafe(a));
}

#ifndef _WIN32
// The longest names a folder takes are written: the temporary name does not grow with them.
TEST(WriteFileReplacing, LongestNames) {
    TempDir dir;
    const std::vector<uint8_t> data(1000, 0x44);
    for (size_t length : {248u, 255u}) {
        const std::string out = dir.File(std::string(length - 4, 'n') + ".exe");
        EXPECT_EQ(WriteStatus::Ok, WriteFileReplacing(out, data.data(), 1000)) << length;
        EXPECT_EQ(data, ReadAll(out));
    }
}

// Links planted at the output's name or at a guessable temporary name are never followed:
// their targets keep their bytes and their mode.
TEST(WriteFileReplacing, LinksAreNotFollowed) {
    TempDir dir;
    const std::string target = dir.File("target.txt");
    WriteAll(target, {'k', 'e', 'e', 'p'});
    ASSERT_EQ(0, chmod(target.c_str(), 0640));
    fs::create_symlink(target, dir.File("out.exe.partial"));
    fs::create_symlink(target, dir.File("linked.exe"));
    const std::vector<uint8_t> data(3000, 0x55);
    for (const char* name : {"out.exe", "linked.exe"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(WriteStatus::Ok, WriteFileReplacing(dir.File(name), data.data(), 3000));
        EXPECT_EQ(data, ReadAll(dir.File(name)));
        EXPECT_FALSE(fs::is_symlink(dir.File(name)));
        EXPECT_EQ((std::vector<uint8_t>{'k', 'e', 'e', 'p'}), ReadAll(target));
        struct stat st {};
        ASSERT_EQ(0, stat(target.c_str(), &st));
        EXPECT_EQ(0640u, st.st_mode & 07777);
    }
}

TEST(CreateNewFile, NeverThroughAnExistingName) {
    TempDir dir;
    WriteAll(dir.File("target"), {'t'});
    fs::create_symlink(dir.File("target"), dir.File("link"));
    fs::create_symlink(dir.File("nowhere"), dir.File("dangling"));
    for (const char* name : {"target", "link", "dangling"}) {
        bool exists = false;
        EXPECT_EQ(nullptr, CreateNewFile(dir.File(name), &exists)) << name;
        EXPECT_TRUE(exists) << name;
    }
    EXPECT_FALSE(fs::exists(dir.File("nowhere")));
    EXPECT_EQ(std::vector<uint8_t>{'t'}, ReadAll(dir.File("target")));
    bool exists = true;
    std::FILE* f = CreateNewFile(dir.File("new"), &exists);
    ASSERT_NE(nullptr, f);
    EXPECT_FALSE(exists);
    std::fclose(f);
}
#endif

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
