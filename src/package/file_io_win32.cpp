#include <windows.h>

#include "package/file_io.h"

bool InstallExecutable(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool MoveReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string MakeAbsolutePath(const std::string& path) {
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::string full(needed, '\0');
    const DWORD n = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (n == 0 || n >= needed)
        return path;
    full.resize(n);
    return full;
}
