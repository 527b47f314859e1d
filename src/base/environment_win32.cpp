// Windows: a program runs with its user's token (elevation asks the user), so no setting of
// the environment comes from someone with less privilege.
#include <cstdlib>

#include "base/environment.h"

bool SystemRunsWithMorePrivilege() {
    return false;
}

const char* SystemGetenv(const char* name) {
    return std::getenv(name);
}
