// Settings from the environment (VARNEL_*), and whether the process runs with more privilege
// than the user who started it. A privileged process takes no setting from its environment:
// whoever starts it could otherwise choose its drives, its log folder or its reboot command.
// Implementations: environment.cpp, environment_linux.cpp, environment_win32.cpp.
#pragma once

#include <string>

// True when the process runs with more privilege than its user (Linux: the kernel's secure
// mode, AT_SECURE, as with file capabilities or set-user-ID). False on Windows.
bool RunsWithMorePrivilege();

// The value of the environment variable name; empty when it is unset or empty, and always
// when RunsWithMorePrivilege().
std::string EnvironmentSetting(const char* name);

// Tests: pretend that the process does (1) or does not (0) run with more privilege than its
// user; -1 asks the system again.
void SetMorePrivilegeForTest(int value);

// The system's own answers (platform files).
bool SystemRunsWithMorePrivilege();
// Null when unset; in secure mode the system's secure getenv answers.
const char* SystemGetenv(const char* name);
