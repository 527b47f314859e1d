#include <windows.h>

#include "package/file_io.h"

bool InstallExecutable(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
