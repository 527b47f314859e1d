// GetTickCount64 without its import (src/base/tick_count_win32.cpp): the program's import slot
// is its own, and the performance-counter stand-in that XP gets counts milliseconds.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include "base/tick_count_win32.h"

#if defined(_WIN64)
#define SLOT_NAME "__imp_GetTickCount64"
#else
#define SLOT_NAME "__imp__GetTickCount64@0"
#endif
extern "C" VarnelTickCountFn const slot __asm__(SLOT_NAME);

namespace {

TEST(TickCount64, TheImportSlotIsTheProgramsOwnAndCountsWithTheSystem) {
    const VarnelTickCountFn system = VarnelSystemTickCount64();
    ASSERT_NE(slot, nullptr);
    ASSERT_NE(system, nullptr) << "this Windows has GetTickCount64; the lookup must find it";
    EXPECT_NE(slot, system) << "the slot came from kernel32's import library";
    // GetTickCount64() of the headers goes through the slot.
    const ULONGLONG before = system();
    const ULONGLONG through = GetTickCount64();
    const ULONGLONG after = system();
    EXPECT_GE(through, before);
    EXPECT_LE(through, after);
}

TEST(TickCount64, TheCounterStandInCountsMilliseconds) {
    const VarnelTickCountFn system = VarnelSystemTickCount64();
    ASSERT_NE(system, nullptr);
    const ULONGLONG s0 = system();
    const ULONGLONG c0 = VarnelTickCountFromCounter();
    Sleep(100);
    const ULONGLONG c1 = VarnelTickCountFromCounter();
    const ULONGLONG s1 = system();
    ASSERT_GE(c1, c0);
    // The system count ticks in steps of up to about 16 ms.
    EXPECT_GE(c1 - c0, 80u);
    EXPECT_LE(c1 - c0, s1 - s0 + 20);
}

}  // namespace
#endif
