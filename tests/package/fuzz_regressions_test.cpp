// Replays the fuzz seed corpus and every saved fuzz finding (fuzz/corpus/<target>,
// fuzz/regressions/<target>) through the entries the fuzz programs call.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

#include "base/path_rules.h"
#include "support/fuzz_targets.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

fs::path FuzzFolder(const std::string& kind) {
    const std::string up = std::string("..") + kPathSeparator + "..";
    return fs::path(testsupport::DataPath(up + kPathSeparator + "fuzz" + kPathSeparator + kind));
}

class FuzzReplay : public ::testing::Test {
protected:
    void SetUp() override {
        fuzz::SetFailHandler([](const std::string& what) { throw std::runtime_error(what); });
    }
    void TearDown() override { fuzz::SetFailHandler(nullptr); }
};

TEST_F(FuzzReplay, CorpusAndFindingsPassEveryCheck) {
    size_t count = 0;
    const fuzz::Target* targets = fuzz::Targets(&count);
    size_t replayed = 0;
    for (size_t t = 0; t < count; ++t) {
        for (const char* kind : {"corpus", "regressions"}) {
            const fs::path folder = FuzzFolder(kind) / targets[t].name;
            if (!fs::is_directory(folder))
                continue;
            for (const auto& entry : fs::directory_iterator(folder)) {
                if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.')
                    continue;
                const std::vector<uint8_t> input = testsupport::ReadAll(entry.path().string());
                try {
                    targets[t].entry(input.data(), input.size());
                } catch (const std::exception& e) {
                    ADD_FAILURE() << entry.path().string() << ": " << e.what();
                }
                ++replayed;
            }
        }
    }
    EXPECT_GT(replayed, count);  // the folders were found
}

TEST(FuzzFolders, EveryFolderNamesATarget) {
    size_t count = 0;
    const fuzz::Target* targets = fuzz::Targets(&count);
    std::set<std::string> names;
    for (size_t t = 0; t < count; ++t)
        names.insert(targets[t].name);
    for (const char* kind : {"corpus", "regressions"}) {
        ASSERT_TRUE(fs::is_directory(FuzzFolder(kind))) << FuzzFolder(kind).string();
        for (const auto& entry : fs::directory_iterator(FuzzFolder(kind))) {
            if (entry.is_directory()) {
                EXPECT_TRUE(names.count(entry.path().filename().string()))
                    << entry.path().string() << " has no entry in fuzz_targets.h";
            }
        }
    }
}

}  // namespace
