#include <ctime>

#include "base/clock.h"

static_assert(sizeof(std::time_t) == 8, "time_t must be 64 bits (past 2038)");

int64_t SecondsSince1970() {
    return static_cast<int64_t>(std::time(nullptr));
}
