// Program images: word sum, image check, size text.
#include <bit>
#include <cstdio>
#include <cstring>

#include "package/update_data.h"

namespace {

constexpr uint32_t kInfoTagOffset = 1248;
constexpr uint32_t kInfoBlockEnd = 1280;
constexpr uint32_t kSumBlockWords = 2048;  // words per block of the fast sum

}  // namespace

bool CUpdateData::VerifyChecksum(uint32_t offset, uint32_t length) const {
    if (offset > kBufferSize || length > kBufferSize - offset)
        return false;
    const uint8_t* p = m_pFirmware + offset;
    const uint32_t pairs = length / 2;
    uint32_t sum = 0;
    uint32_t k = 0;
    // The sum of big-endian words is 256 * (sum of even bytes) + (sum of odd bytes).
    // Both are summed in 16-bit lanes a block at a time, over the two halves of the
    // block side by side, which vectorises into independent additions.
    for (; pairs - k >= kSumBlockWords; k += kSumBlockWords) {
        const uint8_t* q = p + 2 * k;
        uint16_t low[2] = {};
        uint16_t high[2] = {};
        for (uint32_t j = 0; j < kSumBlockWords / 2; ++j) {
            uint16_t word[2];
            std::memcpy(&word[0], q + 2 * j, 2);
            std::memcpy(&word[1], q + kSumBlockWords + 2 * j, 2);
            for (int h = 0; h < 2; ++h) {
                low[h] = static_cast<uint16_t>(low[h] + (word[h] & 0xFF));
                high[h] = static_cast<uint16_t>(high[h] + (word[h] >> 8));
            }
        }
        // In memory order the even byte is the low half of a little-endian word.
        const uint32_t lowSum = uint32_t{low[0]} + low[1];
        const uint32_t highSum = uint32_t{high[0]} + high[1];
        if constexpr (std::endian::native == std::endian::little)
            sum += (lowSum << 8) + highSum;
        else
            sum += (highSum << 8) + lowSum;
    }
    for (; k < pairs; ++k)
        sum += (uint32_t{p[2 * k]} << 8) | p[2 * k + 1];
    if (length & 1) {
        // The byte after the image is the low half of the last word (zero past the buffer).
        const uint32_t after = offset + length;
        sum += (uint32_t{p[length - 1]} << 8) | (after < kBufferSize ? m_pFirmware[after] : 0u);
    }
    return (sum & 0xFFFF) == 0xFFFF;
}

uint8_t CUpdateData::CheckProgramImage(uint32_t offset, uint32_t length, bool main) {
    const uint8_t invalid = main ? CHECK_MAIN_INVALID : CHECK_CORE_INVALID;
    const uint8_t broken = main ? CHECK_MAIN_BROKEN : CHECK_CORE_BROKEN;
    if (length < kImageHeaderSize || offset > kBufferSize || length > kBufferSize - offset) {
        return invalid;
    }
    if (!VerifyChecksum(offset, length))
        return broken;

    const uint8_t* image = m_pFirmware + offset;
    m_strImageModel = FieldText(image + 16, 8);
    if (std::memcmp(image + 24, main ? "MAIN" : "CORE", 4) != 0)
        return invalid;

    if (main) {
        m_strNewRevision = FieldText(image + 40, 4);
        m_strNewMinorRev.clear();
        // An image too short to hold the info block has none.
        if (length >= kInfoBlockEnd) {
            uint32_t b = kInfoTagOffset;
            if (std::memcmp(image + kInfoTagOffset, "ARMS", 4) == 0) {
                b = 1264;
                m_byImageCustomer = image[1279];
            }
            if (image[b + 4] != 0 && image[b + 5] != 0 && image[b + 6] != 0) {
                m_strNewMinorRev.assign(reinterpret_cast<const char*>(image + b + 5), 2);
            }
        }
    }

    const uint32_t codeSize = ReadBE32(image + 68);
    if (uint64_t{codeSize} + kImageHeaderSize != length)
        return invalid;
    (main ? m_strMainSize : m_strCoreSize) = SizeText(codeSize);
    return CHECK_OK;
}

std::string CUpdateData::SizeText(uint32_t codeSize) {
    char text[16];
    std::snprintf(text, sizeof text, "%06Xh", static_cast<unsigned>(codeSize));
    return text;
}
