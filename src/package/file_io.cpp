#include "package/file_io.h"

#include <cstdio>

int64_t ReadFilePrefix(const std::string& path, uint8_t* buffer, uint32_t max) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return -1;
    const size_t n = max ? std::fread(buffer, 1, max, f) : 0;
    std::fclose(f);
    return static_cast<int64_t>(n);
}

WriteStatus WriteFileReplacing(const std::string& path, const uint8_t* data, uint32_t size) {
    const std::string temp = path + ".partial";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return WriteStatus::CannotCreate;
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::remove(temp.c_str());
        return WriteStatus::WriteFailed;
    }
    if (!InstallExecutable(temp, path)) {
        std::remove(temp.c_str());
        return WriteStatus::CannotCreate;
    }
    return WriteStatus::Ok;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    text->clear();
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        text->append(chunk, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}
