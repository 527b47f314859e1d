// The scrambler of the package block and trailer: byte i is XORed with the top 8 bits of
// x = x * 1812433253 mod 2^32 (x starts at the seed, 1 for seed 0). Applying it twice with
// the same seed restores the bytes.
#pragma once

#include <cstdint>

// Scrambles or descrambles length bytes in place; the number of bytes processed (0 when
// length is not positive).
int32_t Scramble(uint8_t* buffer, int32_t length, uint16_t seed);
