// Wall-clock seconds since 1970, 64-bit on every build (past 2038 on 32-bit Windows too).
#pragma once

#include <cstdint>

int64_t SecondsSince1970();

// A Windows FILETIME (100 ns units since 1601) in seconds since 1970.
constexpr int64_t SecondsFromFileTime(uint64_t fileTime) {
    constexpr uint64_t kUnitsPerSecond = 10000000;
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    return static_cast<int64_t>(fileTime / kUnitsPerSecond) - kSecondsFrom1601To1970;
}
