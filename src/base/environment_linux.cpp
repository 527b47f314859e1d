// Linux: the kernel tells a process started with more privilege than its user (file
// capabilities, set-user-ID or set-group-ID) through the auxiliary vector.
#include <sys/auxv.h>

#include <cstdlib>

#include "base/environment.h"

bool SystemRunsWithMorePrivilege() {
    return getauxval(AT_SECURE) != 0;
}

const char* SystemGetenv(const char* name) {
    return secure_getenv(name);
}
