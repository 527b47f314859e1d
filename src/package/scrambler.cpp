// Scrambler: per byte x = x * 1812433253 mod 2^32, then byte ^= the top 8 bits of x.
//
// The key stream is computed a block at a time. The state in front of byte k of a
// block is x * a^(k+1), x being the state in front of the block, and the top byte of a
// 32-bit product needs only 16-bit multiplies: for x = xh:xl and m = mh:ml, bits 16..31
// of x * m are hi16(xl * ml) + lo16(xl * mh) + lo16(xh * ml). The loop over a block
// vectorises; one scalar multiply per block advances x.
#include <bit>
#include <cstring>

#include "package/scrambler.h"

namespace {

constexpr uint32_t kMultiplier = 1812433253u;
constexpr uint32_t kBlock = 512;         // bytes per block
constexpr uint32_t kPairs = kBlock / 2;  // the loop makes two key bytes at a time

constexpr uint32_t Power(uint32_t base, uint32_t exponent) {
    uint32_t r = 1;
    while (exponent-- > 0)
        r *= base;
    return r;
}

constexpr uint32_t kBlockStep = Power(kMultiplier, kBlock);

// a^(2j+1) and a^(2j+2) in 16-bit halves: the multipliers of the two bytes of pair j.
struct KeyMultipliers {
    uint16_t firstLow[kPairs];
    uint16_t firstHigh[kPairs];
    uint16_t secondLow[kPairs];
    uint16_t secondHigh[kPairs];

    constexpr KeyMultipliers() : firstLow(), firstHigh(), secondLow(), secondHigh() {
        uint32_t m = 1;
        for (uint32_t j = 0; j < kPairs; ++j) {
            m *= kMultiplier;
            firstLow[j] = static_cast<uint16_t>(m);
            firstHigh[j] = static_cast<uint16_t>(m >> 16);
            m *= kMultiplier;
            secondLow[j] = static_cast<uint16_t>(m);
            secondHigh[j] = static_cast<uint16_t>(m >> 16);
        }
    }
};

constexpr KeyMultipliers kKeys;

// Bits 16..31 of (xh:xl) * (mh:ml) mod 2^32.
inline uint16_t ProductHigh(uint16_t xl, uint16_t xh, uint16_t ml, uint16_t mh) {
    const auto carry = static_cast<uint16_t>((uint32_t{xl} * uint32_t{ml}) >> 16);
    return static_cast<uint16_t>(carry + static_cast<uint16_t>(uint32_t{xl} * mh) +
                                 static_cast<uint16_t>(uint32_t{xh} * ml));
}

// XORs the key stream of one block into p; x = xh:xl is the state in front of it.
// Kept out of line so that xl and xh reach the loop as 16-bit values, which lets the
// compiler use 16-bit vector multiplies.
[[gnu::noinline]] void XorKeyBlock(uint8_t* __restrict p, uint16_t xl, uint16_t xh) {
    for (uint32_t j = 0; j < kPairs; ++j) {
        const uint16_t first = ProductHigh(xl, xh, kKeys.firstLow[j], kKeys.firstHigh[j]);
        const uint16_t second = ProductHigh(xl, xh, kKeys.secondLow[j], kKeys.secondHigh[j]);
        // The two key bytes as one 16-bit word in memory order.
        uint16_t key;
        if constexpr (std::endian::native == std::endian::little)
            key = static_cast<uint16_t>((first >> 8) | (second & 0xFF00));
        else
            key = static_cast<uint16_t>((first & 0xFF00) | (second >> 8));
        uint16_t word;
        std::memcpy(&word, p + 2 * j, 2);
        word ^= key;
        std::memcpy(p + 2 * j, &word, 2);
    }
}

}  // namespace

uint32_t XorKeyStream(uint8_t* buffer, uint32_t length, uint32_t state) {
    uint32_t x = state;
    uint32_t i = 0;
    for (; length - i >= kBlock; i += kBlock) {
        XorKeyBlock(buffer + i, static_cast<uint16_t>(x), static_cast<uint16_t>(x >> 16));
        x *= kBlockStep;
    }
    for (; i < length; ++i) {
        x *= kMultiplier;
        buffer[i] ^= static_cast<uint8_t>(x >> 24);
    }
    return x;
}

int32_t Scramble(uint8_t* buffer, int32_t length, uint16_t seed) {
    if (length <= 0)
        return 0;
    XorKeyStream(buffer, static_cast<uint32_t>(length), KeyState(seed));
    return length;
}
