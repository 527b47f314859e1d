// Integers and fixed-width text fields in byte buffers. Everything on disk and on the wire is
// big-endian, except the few little-endian fields of PE headers and the trailer's flags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

inline uint32_t ReadBE16(const uint8_t* p) {
    return (uint32_t{p[0]} << 8) | p[1];
}
inline uint32_t ReadBE24(const uint8_t* p) {
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
inline uint32_t ReadBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | ReadBE24(p + 1);
}
inline void WriteBE16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void WriteBE24(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 16);
    WriteBE16(p + 1, v);
}
inline void WriteBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    WriteBE24(p + 1, v);
}
inline uint32_t ReadLE16(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8);
}
inline uint32_t ReadLE32(const uint8_t* p) {
    return ReadLE16(p) | (ReadLE16(p + 2) << 16);
}
inline void WriteLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A text field of width bytes: its bytes up to the first zero byte (all of them without one).
inline std::string FieldText(const uint8_t* p, size_t width) {
    size_t n = 0;
    while (n < width && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// Writes text into a field of width bytes: cut to the width, zero bytes behind it.
inline void PutField(uint8_t* p, size_t width, std::string_view text) {
    std::memset(p, 0, width);
    std::memcpy(p, text.data(), text.size() < width ? text.size() : width);
}
