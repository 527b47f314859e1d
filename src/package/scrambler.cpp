#include "package/update_data.h"

int32_t CUpdateData::Scramble(uint8_t* buffer, int32_t length, uint16_t seed) {
    if (length <= 0)
        return 0;
    uint32_t x = seed == 0 ? 1u : seed;
    for (int32_t i = 0; i < length; ++i) {
        x *= 1812433253u;
        buffer[i] ^= static_cast<uint8_t>(x >> 24);
    }
    return length;
}
