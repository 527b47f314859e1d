#include "base/text.h"

#include <cstdio>

std::string Trim(std::string_view text, std::string_view blanks) {
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return std::string();
    return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

std::string TrimRight(std::string_view text, std::string_view blanks) {
    const size_t last = text.find_last_not_of(blanks);
    return last == std::string_view::npos ? std::string() : std::string(text.substr(0, last + 1));
}

std::string ToUpper(std::string text) {
    for (char& c : text) {
        if (IsAsciiLower(c))
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string ToLower(std::string text) {
    for (char& c : text) {
        if (IsAsciiUpper(c))
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string HexByte(unsigned value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}
