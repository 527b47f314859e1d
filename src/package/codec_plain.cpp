// Byte-at-a-time forms of the scrambler, the zero-run codec and the word sum, written
// step for step after the package format. The fast forms must give the same results.
#include <algorithm>

#include "package/codec.h"
#include "package/update_data.h"

int32_t CUpdateData::ScramblePlain(uint8_t* buffer, int32_t length, uint16_t seed) {
    if (length <= 0)
        return 0;
    uint32_t x = seed == 0 ? 1u : seed;
    for (int32_t i = 0; i < length; ++i) {
        x *= 1812433253u;
        buffer[i] ^= static_cast<uint8_t>(x >> 24);
    }
    return length;
}

bool CUpdateData::VerifyChecksumPlain(uint32_t offset, uint32_t length) const {
    if (offset > kBufferSize || length > kBufferSize - offset)
        return false;
    uint32_t sum = 0;
    for (uint32_t k = 0; k < length; k += 2) {
        const uint32_t low = offset + k + 1 < kBufferSize ? m_pFirmware[offset + k + 1] : 0u;
        sum += (uint32_t{m_pFirmware[offset + k]} << 8) | low;
    }
    return (sum & 0xFFFF) == 0xFFFF;
}

bool CUpdateData::PackFirmwarePlain() {
    uint32_t start = 0, limit = 0;
    if (!BlockRoom(&start, &limit))
        return false;
    uint32_t w = start;
    for (uint32_t k = 0; k < kBlockHeaderSize; ++k)
        m_pFileImage[w++] = 0;

    int j = 0;
    uint32_t run = 0;
    auto flushRun = [&]() {
        if (j < kRunEntries && run >= kMinRunLength) {
            WriteBE32(m_pFileImage + start + 4 + 4 * j, w);
            WriteBE32(m_pFileImage + start + 260 + 4 * j, run);
            ++j;
            return true;
        }
        for (; run > 0; --run) {
            if (w == limit)
                return false;
            m_pFileImage[w++] = 0;
        }
        return true;
    };
    for (uint32_t k = 0; k < m_nFirmwareLength; ++k) {
        const uint8_t b = m_pFirmware[k];
        if (b == 0) {
            ++run;
            continue;
        }
        if (run > 0 && !flushRun())
            return false;
        run = 0;
        if (w == limit)
            return false;
        m_pFileImage[w++] = b;
    }
    if (run > 0 && !flushRun())
        return false;

    EndPacking(start, w);
    return true;
}

bool UnpackBodyPlain(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset,
                     uint8_t* out, uint32_t capacity, uint32_t* length) {
    if (!IsUnpackableBlock(blockLength, packageOffset))
        return false;
    const uint32_t start = packageOffset;
    const uint32_t trailer = packageOffset + blockLength;
    // Entry j of the table: position at 4 + 4j, length at 260 + 4j; none past the 64th.
    int j = 0;
    uint32_t pos = ReadBE32(block + 4);
    uint32_t len = ReadBE32(block + 260);
    uint32_t n = 0;
    auto putRun = [&]() {
        if (len > capacity - n)
            return false;
        std::fill_n(out + n, len, uint8_t{0});
        n += len;
        ++j;
        pos = j < kRunEntries ? ReadBE32(block + 4 + 4 * j) : 0;
        len = j < kRunEntries ? ReadBE32(block + 260 + 4 * j) : 0;
        return true;
    };
    for (uint32_t i = start + kBlockHeaderSize; i < trailer; ++i) {
        if (len > 0 && pos == i && !putRun())
            return false;
        if (n == capacity)
            return false;
        out[n++] = block[i - start];
    }
    if (len > 0 && pos == trailer && !putRun())
        return false;
    *length = n;
    // A recorded run that was never reached points outside the packed body.
    return len == 0;
}

bool CUpdateData::UnpackFirmwarePlain() {
    return UnpackWith(UnpackBodyPlain);
}
