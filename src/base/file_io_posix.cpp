#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/file_io.h"

std::FILE* OpenRegularFile(const std::string& path, std::string* why) {
    // Non-blocking, so that opening a pipe or a device cannot wait.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (why)
            *why = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (why)
            *why = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
        close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* f = fdopen(fd, "rb");
    if (!f) {
        if (why)
            *why = std::strerror(errno);
        close(fd);
    }
    return f;
}

std::FILE* CreateNewFile(const std::string& path, bool* exists) {
    *exists = false;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        unlink(path.c_str());
    }
    return f;
}

bool MakeExecutable(std::FILE* file) {
    return fchmod(fileno(file), 0755) == 0;
}

bool MakeDataFile(std::FILE* file) {
    return fchmod(fileno(file), 0644) == 0;
}

bool MayReplaceFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT;  // a new name (or a dangling link, which is replaced)
    // A file without any write permission is read-only, also for a user who could write
    // it anyway.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

std::string FolderPrefix(const std::string& path) {
    const auto pos = path.rfind('/');
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
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
