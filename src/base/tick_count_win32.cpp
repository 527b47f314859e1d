// GetTickCount64 without its import. The toolchain's thread library (winpthreads, which
// std::mutex, std::thread and the static-local guards use) calls GetTickCount64 for its timed
// waits, and that import alone would keep the program from starting on Windows XP, where
// kernel32 has no such function. This file defines the import slot itself, so the linker takes
// it instead of kernel32's: the slot points to a function that uses kernel32's GetTickCount64
// where there is one and the performance counter elsewhere. The program's link forces this
// object in (see CMakeLists.txt).
#include <windows.h>

#include <atomic>
#include <type_traits>

#include "base/tick_count_win32.h"

using TickCountFn = VarnelTickCountFn;

ULONGLONG WINAPI VarnelTickCountFromCounter() {
    LARGE_INTEGER frequency, counter;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
        !QueryPerformanceCounter(&counter)) {
        return GetTickCount();
    }
    // Whole seconds and the rest apart, so that a fast counter cannot overflow the product.
    const auto f = static_cast<ULONGLONG>(frequency.QuadPart);
    const auto c = static_cast<ULONGLONG>(counter.QuadPart);
    return c / f * 1000 + c % f * 1000 / f;
}

TickCountFn VarnelSystemTickCount64() {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32 == nullptr)
        return nullptr;
    // GetProcAddress answers a generic function pointer; void (*)() converts to any other.
    return reinterpret_cast<TickCountFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "GetTickCount64")));
}

namespace {

// Called from inside the thread library's locks: no lock here, only one atomic pointer. Racing
// first calls all find the same function.
ULONGLONG WINAPI TickCount64() {
    static std::atomic<TickCountFn> chosen{nullptr};
    TickCountFn fn = chosen.load(std::memory_order_acquire);
    if (fn == nullptr) {
        fn = VarnelSystemTickCount64();
        if (fn == nullptr)
            fn = VarnelTickCountFromCounter;
        chosen.store(fn, std::memory_order_release);
    }
    return fn();
}

static_assert(std::is_same_v<TickCountFn, decltype(&TickCount64)>, "GetTickCount64's type");

}  // namespace

// The import slot, under the name that a dllimport call of GetTickCount64 refers to.
#if defined(_WIN64)
#define VARNEL_TICK_COUNT_SLOT "__imp_GetTickCount64"
#else
#define VARNEL_TICK_COUNT_SLOT "__imp__GetTickCount64@0"
#endif
extern "C" {
extern TickCountFn const varnel_tick_count_slot __asm__(VARNEL_TICK_COUNT_SLOT);
TickCountFn const varnel_tick_count_slot __asm__(VARNEL_TICK_COUNT_SLOT) = TickCount64;
}
