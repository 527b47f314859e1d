#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "base/file_io.h"

namespace {

std::string Reason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return "No such file";
        case ERROR_PATH_NOT_FOUND:
            return "No such folder";
        case ERROR_ACCESS_DENIED:
            return "Access denied";
        case ERROR_SHARING_VIOLATION:
            return "In use by another program";
        default:
            return "Error " + std::to_string(error);
    }
}

// A C stream over a file handle; the handle is closed on failure.
std::FILE* StreamOf(HANDLE handle, int mode, const char* fmode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), mode | _O_BINARY);
    if (fd == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, fmode);
    if (!f)
        _close(fd);
    return f;
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path, std::string* why) {
    // Folders and devices are refused by their attributes before any open.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        if (why)
            *why = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "Is a folder" : "Not a regular file";
        return nullptr;
    }
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (why)
            *why = Reason(GetLastError());
        return nullptr;
    }
    // Pipes, consoles and other character devices are not files.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        if (why)
            *why = "Not a regular file";
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* f = StreamOf(handle, _O_RDONLY, "rb");
    if (!f && why)
        *why = "Cannot read";
    return f;
}

std::FILE* CreateNewFile(const std::string& path, bool* exists) {
    *exists = false;
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    std::FILE* f = StreamOf(handle, _O_WRONLY, "wb");
    if (!f)
        DeleteFileA(path.c_str());
    return f;
}

bool MakeExecutable(std::FILE*) {
    return true;  // executable by its name
}

bool MakeDataFile(std::FILE*) {
    return true;
}

bool MayReplaceFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;
    // Opening for writing changes nothing; it tells whether this process may write it.
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
}

std::string FolderPrefix(const std::string& path) {
    const auto pos = path.find_last_of("\\/:");
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
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
