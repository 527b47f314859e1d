#include "package/program_image.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "base/bytes.h"

namespace {

constexpr uint32_t kModelOffset = 16;
constexpr uint32_t kTagOffset = 24;
constexpr uint32_t kRevisionOffset = 40;
constexpr uint32_t kCodeSizeOffset = 68;
constexpr uint32_t kInfoTagOffset = 1248;
constexpr uint32_t kTaggedInfoOffset = 1264;
constexpr uint32_t kCustomerOffset = 1279;
constexpr uint32_t kInfoBlockEnd = 1280;
constexpr uint32_t kSumBlockWords = 2048;  // words per block of the fast sum

}  // namespace

bool WordSumValid(const uint8_t* p, uint32_t length, uint8_t next) {
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
    if (length & 1)
        sum += (uint32_t{p[length - 1]} << 8) | next;
    return (sum & 0xFFFF) == 0xFFFF;
}

std::string SizeText(uint32_t codeSize) {
    char text[16];
    std::snprintf(text, sizeof text, "%06Xh", static_cast<unsigned>(codeSize));
    return text;
}

ImageFacts InspectImage(std::span<const uint8_t> image, bool main, uint8_t next) {
    ImageFacts f;
    f.length = static_cast<uint32_t>(image.size());
    f.main = main;
    const CheckResult invalid = main ? CHECK_MAIN_INVALID : CHECK_CORE_INVALID;
    f.result = invalid;
    if (image.size() < kImageHeaderSize)
        return f;
    const uint8_t* p = image.data();
    if (!WordSumValid(p, f.length, next)) {
        f.result = main ? CHECK_MAIN_BROKEN : CHECK_CORE_BROKEN;
        return f;
    }
    f.modelRead = true;
    f.model = FieldText(p + kModelOffset, 8);
    if (std::memcmp(p + kTagOffset, main ? "MAIN" : "CORE", 4) != 0)
        return f;

    if (main) {
        f.revisionRead = true;
        f.revision = FieldText(p + kRevisionOffset, 4);
        // An image too short to hold the info block has none.
        if (f.length >= kInfoBlockEnd) {
            uint32_t b = kInfoTagOffset;
            if (std::memcmp(p + kInfoTagOffset, "ARMS", 4) == 0) {
                b = kTaggedInfoOffset;
                f.customerRead = true;
                f.customer = p[kCustomerOffset];
            }
            if (p[b + 4] != 0 && p[b + 5] != 0 && p[b + 6] != 0)
                f.minor.assign(reinterpret_cast<const char*>(p + b + 5), 2);
        }
    }

    const uint32_t codeSize = ReadBE32(p + kCodeSizeOffset);
    if (uint64_t{codeSize} + kImageHeaderSize != f.length)
        return f;
    f.sizeText = SizeText(codeSize);
    f.result = CHECK_OK;
    return f;
}

std::vector<ImageSlot> LayOutImages(std::span<const uint8_t> body) {
    std::vector<ImageSlot> slots;
    const auto size = static_cast<uint32_t>(body.size());
    uint32_t offset = 0;
    while (offset < size) {
        ImageSlot s;
        s.offset = offset;
        const uint32_t left = size - offset;
        s.length = left;
        if (left < kImageHeaderSize) {
            s.fit = ImageSlot::Fit::HeaderCut;
        } else {
            s.codeSize = ReadBE32(body.data() + offset + kCodeSizeOffset);
            const uint64_t length = uint64_t{s.codeSize} + kImageHeaderSize;
            s.main = length >= kMainImageThreshold;
            if (length > left)
                s.fit = ImageSlot::Fit::RunsPast;
            else
                s.length = static_cast<uint32_t>(length);
        }
        slots.push_back(s);
        if (s.fit != ImageSlot::Fit::Whole)
            break;
        offset += s.length;
    }
    return slots;
}

std::vector<ImageFacts> InspectImages(std::span<const uint8_t> body) {
    std::vector<ImageFacts> images;
    for (const ImageSlot& s : LayOutImages(body)) {
        ImageFacts f;
        if (s.fit == ImageSlot::Fit::Whole) {
            const uint32_t end = s.offset + s.length;
            f = InspectImage(body.subspan(s.offset, s.length), s.main,
                             end < body.size() ? body[end] : uint8_t{0});
        } else {
            f.result = s.main ? CHECK_MAIN_INVALID : CHECK_CORE_INVALID;
            f.main = s.main;
        }
        f.offset = s.offset;
        f.length = s.length;
        images.push_back(f);
        if (f.result != CHECK_OK)
            break;
    }
    return images;
}
