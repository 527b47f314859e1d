// The scrambler of the package block and trailer: byte i is XORed with the top 8 bits of
// x = x * 1812433253 mod 2^32 (x starts at the seed, 1 for seed 0). Applying it twice with
// the same seed restores the bytes.
#pragma once

#include <cstdint>

// Scrambles or descrambles length bytes in place; the number of bytes processed (0 when
// length is not positive).
int32_t Scramble(uint8_t* buffer, int32_t length, uint16_t seed);

// The key stream state in front of the first byte for seed.
inline uint32_t KeyState(uint16_t seed) {
    return seed == 0 ? 1u : seed;
}
// XORs the key stream that follows state into length bytes; the state behind them, so that
// a stream can be taken up piece by piece.
uint32_t XorKeyStream(uint8_t* buffer, uint32_t length, uint32_t state);
