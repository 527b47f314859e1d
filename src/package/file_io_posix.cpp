#include <cstdio>

#include "package/file_io.h"

bool MoveFileOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}
