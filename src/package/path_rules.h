// Directory separator and the path cutting rules used throughout: '\' in the
// Windows build, '/' elsewhere.
#pragma once

#include <string>

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Everything before the last separator; empty when there is none.
inline std::string DirectoryPart(const std::string& path) {
    const auto pos = path.rfind(kPathSeparator);
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

// Everything after the last separator; the whole path when there is none.
inline std::string FileNamePart(const std::string& path) {
    const auto pos = path.rfind(kPathSeparator);
    return pos == std::string::npos ? path : path.substr(pos + 1);
}
