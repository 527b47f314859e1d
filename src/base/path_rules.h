// Directory separator and the path cutting rules used throughout: '\' in the
// Windows build, '/' elsewhere.
#pragma once

#include <string>
#include <string_view>

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

// Text from image bytes made safe as part of a file name: bytes that are not printable
// ASCII, and \ / : * ? " < > |, become '_'.
inline std::string FileNameSafe(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E ||
            std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    }
    return out;
}
