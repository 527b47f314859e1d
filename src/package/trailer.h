// The 72-byte package trailer, its option flags and customer codes.
#pragma once

#include <cstdint>
#include <string>

#include "base/bytes.h"

inline constexpr uint32_t kTrailerSize = 72;
inline constexpr uint32_t kBlockHeaderSize = 516;  // body seed + zero-run table
inline constexpr int kRunEntries = 64;
inline constexpr uint32_t kMinRunLength = 256;
inline constexpr uint16_t kTrailerSeedOffset = 30584;
inline constexpr char kPackageMagic[] = "Update Data for QZEN's Drive    ";  // 32 bytes

enum PackageFlag : uint32_t {
    PKGF_FILTER_FREE_MINOR = 0x0001,
    PKGF_ONLY_NEWER = 0x0002,
    PKGF_HIDE_COPYRIGHT = 0x0004,
    PKGF_CUST_FUJITSU1 = 0x0008,
    PKGF_CUST_DELL = 0x0010,
    PKGF_SAME_CUSTOMER = 0x0020,
    PKGF_CUST_HPBPC = 0x0100,
    PKGF_CUST_HPCPC = 0x0200,
    PKGF_CUST_LENOVO = 0x0400,
    PKGF_CUST_HPDTOCPE = 0x0800,
    PKGF_CUST_HPDTOENG = 0x1000,
};

struct PackageTrailer {
    uint32_t packageOffset = 0;
    uint32_t packageLength = 0;
    std::string product;   // at most 16 characters
    std::string filter;    // 4 characters, '*' for any
    std::string revision;  // at most 4, empty: none given
    std::string minor;     // at most 2, empty: none given
    uint32_t flags = 0;
};

// The flag bit of a customer code (exact match), 0 for none or any other text.
uint32_t CustomerFlag(const std::string& customer);
// The customer code of a flag word: of several set bits, the one of the highest reading rank.
std::string CustomerFromFlags(uint32_t flags);

// Writes all 72 bytes: fields, scrambled with (t - 30584) mod 65536, seed in front.
void EncodeTrailer(const PackageTrailer& trailer, uint16_t t, uint8_t* out);
// Descrambles a copy; false when the package magic does not match.
bool DecodeTrailer(const uint8_t* in, PackageTrailer* trailer);
