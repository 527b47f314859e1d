// Wall-clock seconds: 64-bit past 2038 on every build, the same instant as the C runtime's.
#include "base/clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(Clock, FileTimeInSecondsSince1970) {
    const struct {
        uint64_t fileTime;
        int64_t seconds;
    } cases[] = {
        {116444736000000000ull, 0},                     // 1970-01-01
        {116444736000000000ull + 9999999, 0},           // less than a second later
        {116444736000000000ull + 21474836480000000ull,  // 2038-01-19 03:14:08
         2147483648},
        {138534624000000000ull, 2208988800},  // 2040-01-01
        {0, -11644473600},                    // 1601-01-01
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.seconds, SecondsFromFileTime(c.fileTime)) << c.fileTime;
}

TEST(Clock, NowAsTheRuntimeSeesIt) {
    // Until 2038 the runtime's time() agrees on every build.
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    const int64_t now = SecondsSince1970();
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    EXPECT_LE(before, now);
    EXPECT_LE(now, after + 1);
    EXPECT_GT(now, 1767225600);  // after 2026-01-01
}

}  // namespace
