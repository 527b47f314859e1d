// Text helpers on 8-bit strings. They look at ASCII only and never at the locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The characters isspace() takes in the C locale.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

inline bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
inline bool IsAsciiUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
inline bool IsAsciiLower(char c) {
    return c >= 'a' && c <= 'z';
}
inline bool IsAsciiAlnum(char c) {
    return IsAsciiDigit(c) || IsAsciiUpper(c) || IsAsciiLower(c);
}

// text without the characters of blanks at its start and end.
std::string Trim(std::string_view text, std::string_view blanks = kWhiteSpace);
// text without the characters of blanks at its end.
std::string TrimRight(std::string_view text, std::string_view blanks = kWhiteSpace);

// a-z as A-Z, and A-Z as a-z; other bytes stay.
std::string ToUpper(std::string text);
std::string ToLower(std::string text);

inline bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}
inline bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Two upper-case hexadecimal digits of the low byte of value ("0A").
std::string HexByte(unsigned value);
