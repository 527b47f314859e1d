#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "package/file_io.h"

bool InstallExecutable(const std::string& from, const std::string& to) {
    if (chmod(from.c_str(), 0755) != 0)
        return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool MoveReplacing(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string MakeAbsolutePath(const std::string& path) {
    std::string full = path;
    if (path.empty() || path[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) == nullptr)
            return path;
        full = std::string(cwd) + "/" + path;
    }
    // Lexical normal form: no empty or "." segments, ".." removes the segment before it.
    std::vector<std::string> parts;
    size_t start = 1;
    while (start <= full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos)
            end = full.size();
        const std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& part : parts)
        out += "/" + part;
    return out.empty() ? "/" : out;
}
