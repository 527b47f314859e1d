#include <sys/stat.h>

#include <cstdio>

#include "package/file_io.h"

bool InstallExecutable(const std::string& from, const std::string& to) {
    if (chmod(from.c_str(), 0755) != 0)
        return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}
