#include "package/updater_name.h"

#include "base/bytes.h"

EngineKind EngineKindOf(const uint8_t* data, size_t size) {
    if (size >= 4 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F')
        return EngineKind::Linux;
    if (size < 64 || data[0] != 'M' || data[1] != 'Z')
        return EngineKind::Unknown;
    const uint32_t pe = ReadLE32(data + 60);
    if (pe > size - 4 || data[pe] != 'P' || data[pe + 1] != 'E' || data[pe + 2] != 0 ||
        data[pe + 3] != 0) {
        return EngineKind::Unknown;
    }
    return EngineKind::Windows;
}

const char* UpdaterSuffixOf(EngineKind kind) {
    return kind == EngineKind::Windows ? ".exe" : "";
}

std::string ModelNameBase(const std::string& text, bool withPrefix) {
    const size_t dash = text.find('-');
    if (dash != std::string::npos)
        return (withPrefix ? text.substr(0, dash) : std::string()) + text.substr(dash + 1);
    const size_t blank = text.find(' ');
    return blank != std::string::npos ? text.substr(0, blank) : std::string();
}
