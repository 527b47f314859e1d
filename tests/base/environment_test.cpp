// Settings from the environment, and none for a process with more privilege than its user.
#include "base/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

TEST(EnvironmentSetting, ReadUnlessThePrivilegeIsMoreThanTheUsers) {
    SetEnv("VARNEL_ENVIRONMENT_TEST", "value");
    EXPECT_FALSE(RunsWithMorePrivilege());  // the tests run as their user
    EXPECT_EQ("value", EnvironmentSetting("VARNEL_ENVIRONMENT_TEST"));
    EXPECT_EQ("", EnvironmentSetting("VARNEL_ENVIRONMENT_TEST_UNSET"));

    SetMorePrivilegeForTest(1);
    EXPECT_TRUE(RunsWithMorePrivilege());
    EXPECT_EQ("", EnvironmentSetting("VARNEL_ENVIRONMENT_TEST"));
    SetMorePrivilegeForTest(0);
    EXPECT_EQ("value", EnvironmentSetting("VARNEL_ENVIRONMENT_TEST"));
    SetMorePrivilegeForTest(-1);
    EXPECT_EQ("value", EnvironmentSetting("VARNEL_ENVIRONMENT_TEST"));
    SetEnv("VARNEL_ENVIRONMENT_TEST", "");
}

}  // namespace
