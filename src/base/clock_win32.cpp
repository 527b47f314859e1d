// The system time as a FILETIME: 64 bits on every Windows build. (The C runtime's time() is
// 32-bit on the 32-bit build, and making time_t 64-bit there would break the toolchain's
// thread library, which was built with a 32-bit time_t: its sleeps and timed waits would take
// the wrong fields.)
#include <windows.h>

#include "base/clock.h"

int64_t SecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return SecondsFromFileTime(static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
}
