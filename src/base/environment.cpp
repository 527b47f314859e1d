#include "base/environment.h"

#include <atomic>

namespace {

std::atomic<int> g_morePrivilegeForTest{-1};

}  // namespace

bool RunsWithMorePrivilege() {
    const int forced = g_morePrivilegeForTest.load(std::memory_order_relaxed);
    return forced >= 0 ? forced != 0 : SystemRunsWithMorePrivilege();
}

std::string EnvironmentSetting(const char* name) {
    if (RunsWithMorePrivilege())
        return std::string();
    const char* value = SystemGetenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

void SetMorePrivilegeForTest(int value) {
    g_morePrivilegeForTest.store(value < 0 ? -1 : value != 0 ? 1 : 0, std::memory_order_relaxed);
}
