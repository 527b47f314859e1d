// Result codes of the image check, of loading and of generation. They share one code space:
// the numbers are the maintenance mode's exit codes and its message table (load_messages.h),
// and a check result is the load result of the same number.
#pragma once

#include <cstdint>

enum CheckResult : uint8_t {
    CHECK_OK = 0,
    CHECK_MAIN_INVALID = 4,
    CHECK_MAIN_BROKEN = 5,
    CHECK_CORE_INVALID = 7,
    CHECK_CORE_BROKEN = 8,
};

enum LoadResult : uint8_t {
    LOAD_OK = 0,
    LOAD_PARAM_OPEN = 1,
    LOAD_PARAM_DATA = 2,
    LOAD_MAIN_OPEN = 3,
    LOAD_MAIN_INVALID = CHECK_MAIN_INVALID,
    LOAD_MAIN_BROKEN = CHECK_MAIN_BROKEN,
    LOAD_CORE_OPEN = 6,
    LOAD_CORE_INVALID = CHECK_CORE_INVALID,
    LOAD_CORE_BROKEN = CHECK_CORE_BROKEN,
    LOAD_OUTPUT_OPEN = 9,
    LOAD_NO_ENGINE = 13,
    LOAD_OUTPUT_TOO_LARGE = 14,
    LOAD_OUTPUT_WRITE = 15,
    // Generation refusals of the maintenance dialog; nothing is written.
    LOAD_NO_CUSTOMER = 16,      // no entry of the Customer list selected
    LOAD_FILTER_REVISION = 17,  // "=" where the revision has no character
    // An updater's image walk takes images of 64 KiB and more for MAIN, smaller for CORE.
    LOAD_MAIN_TOO_SMALL = 18,
    LOAD_CORE_TOO_LARGE = 19,
    // The updater about to be written would refuse its own package (nothing is written).
    LOAD_UPDATER_MAIN_INVALID = 20,
    LOAD_UPDATER_MAIN_BROKEN = 21,
    LOAD_UPDATER_CORE_INVALID = 22,
    LOAD_UPDATER_CORE_BROKEN = 23,
    LOAD_UPDATER_UNREADABLE = 24,
};

inline LoadResult LoadResultOf(CheckResult result) {
    return static_cast<LoadResult>(result);
}
