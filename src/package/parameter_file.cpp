// Parameter file (*.prm) and the Main and Core program files it names.
#include <cstring>

#include "base/file_io.h"
#include "base/path_rules.h"
#include "package/update_data.h"

namespace {

constexpr uint32_t kParamFileLimit = 100;
constexpr uint64_t kCoreSizeLimit = 262144;

struct ParamNames {
    std::string main;
    std::string core;
};

ParamNames ParseParameterData(const uint8_t* data, size_t size) {
    ParamNames names;
    size_t pos = 0;
    for (int line = 0; line < 2 && pos < size; ++line) {
        const size_t nameStart = pos;
        while (pos < size && data[pos] != ' ')
            ++pos;
        std::string name(reinterpret_cast<const char*>(data + nameStart), pos - nameStart);
        while (pos < size && data[pos] == ' ')
            ++pos;
        uint64_t number = 0;
        while (pos < size && data[pos] >= '0' && data[pos] <= '9') {
            if (number <= kCoreSizeLimit)
                number = number * 10 + (data[pos] - '0');
            ++pos;
        }
        while (pos < size && data[pos] != '\r' && data[pos] != '\n')
            ++pos;
        while (pos < size && (data[pos] == '\r' || data[pos] == '\n'))
            ++pos;
        (number > kCoreSizeLimit ? names.main : names.core) = std::move(name);
    }
    return names;
}

}  // namespace

LoadResult CUpdateData::LoadParameterFile(const std::string& path) {
    const std::string dir = DirectoryPart(path);
    uint8_t data[kParamFileLimit];
    const int64_t n = ReadFilePrefix(path, data, kParamFileLimit);
    if (n < 0)
        return LOAD_PARAM_OPEN;
    if (n == 0 || n == kParamFileLimit) {
        m_nFirmwareLength = 0;
        return LOAD_PARAM_DATA;
    }
    const ParamNames names = ParseParameterData(data, static_cast<size_t>(n));

    m_nFirmwareLength = 0;
    auto load = [&](const std::string& name, bool main) -> LoadResult {
        const std::string file = dir.empty() ? name : dir + kPathSeparator + name;
        const uint32_t at = m_nFirmwareLength;
        const int64_t read = ReadFilePrefix(file, m_pFirmware + at, kBufferSize - at);
        if (read < 0)
            return main ? LOAD_MAIN_OPEN : LOAD_CORE_OPEN;
        const auto count = static_cast<uint32_t>(read);
        // What follows the image in the buffer reads as zero.
        if (at + count < kBufferSize)
            m_pFirmware[at + count] = 0;
        LoadResult r = LoadResultOf(CheckProgramImage(at, count, main));
        m_nFirmwareLength += count;
        // An updater tells the two kinds apart by size alone.
        if (r == LOAD_OK && main && count < kMainImageThreshold)
            r = LOAD_MAIN_TOO_SMALL;
        if (r == LOAD_OK && !main && count >= kMainImageThreshold)
            r = LOAD_CORE_TOO_LARGE;
        return r;
    };
    if (!names.main.empty()) {
        m_strMainFile = names.main;
        if (const LoadResult r = load(names.main, true))
            return r;
    }
    if (!names.core.empty()) {
        m_strCoreFile = names.core;
        return load(names.core, false);
    }
    return LOAD_OK;
}
