#include "base/file_io.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

namespace {

constexpr int kTemporaryNameAttempts = 100;

}  // namespace

int64_t ReadFilePrefix(const std::string& path, uint8_t* buffer, uint32_t max, std::string* why) {
    std::FILE* f = OpenRegularFile(path, why);
    if (!f)
        return -1;
    const size_t n = max ? std::fread(buffer, 1, max, f) : 0;
    std::fclose(f);
    return static_cast<int64_t>(n);
}

ReadStatus ReadWholeFile(const std::string& path, std::string* text, size_t limit) {
    std::FILE* f = OpenRegularFile(path, nullptr);
    if (!f)
        return ReadStatus::CannotOpen;
    text->clear();
    char chunk[4096];
    size_t n = 0;
    ReadStatus status = ReadStatus::Ok;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (n > limit - text->size()) {
            status = ReadStatus::TooLarge;
            break;
        }
        text->append(chunk, n);
    }
    if (status == ReadStatus::Ok && std::ferror(f) != 0)
        status = ReadStatus::CannotOpen;
    std::fclose(f);
    if (status != ReadStatus::Ok)
        text->clear();
    return status;
}

std::string TemporaryFileName() {
    static std::atomic<uint64_t> counter{0};
    uint64_t x = static_cast<uint64_t>(
                     std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^
                 (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    try {
        std::random_device random;
        x ^= (uint64_t{random()} << 32) | random();
    } catch (...) {
        // No random source: the clock and the counter still differ from call to call.
    }
    char name[40];
    std::snprintf(name, sizeof name, "varnel-%016llx.tmp", static_cast<unsigned long long>(x));
    return name;
}

WriteStatus WriteFileReplacing(const std::string& path, const uint8_t* data, uint32_t size,
                               FileKind kind) {
    if (!MayReplaceFile(path))
        return WriteStatus::CannotCreate;
    const std::string folder = FolderPrefix(path);
    std::string temp;
    std::FILE* f = nullptr;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && !f; ++attempt) {
        temp = folder + TemporaryFileName();
        bool exists = false;
        f = CreateNewFile(temp, &exists);
        if (!f && !exists)
            return WriteStatus::CannotCreate;
    }
    if (!f)
        return WriteStatus::CannotCreate;
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    ok = std::fflush(f) == 0 && ok;
    ok = (kind == FileKind::Executable ? MakeExecutable(f) : MakeDataFile(f)) && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::remove(temp.c_str());
        return WriteStatus::WriteFailed;
    }
    if (!MoveReplacing(temp, path)) {
        std::remove(temp.c_str());
        return WriteStatus::CannotCreate;
    }
    return WriteStatus::Ok;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}
