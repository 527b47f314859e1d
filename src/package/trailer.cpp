#include "package/trailer.h"

#include <cstring>

#include "package/customers.h"
#include "package/scrambler.h"

uint32_t CustomerFlag(const std::string& customer) {
    return CustomerRuleOf(customer).flag;
}

std::string CustomerFromFlags(uint32_t flags) {
    const CustomerRule* found = nullptr;
    for (const CustomerRule& rule : CustomerRules()) {
        if ((flags & rule.flag) != 0 && (found == nullptr || rule.readingRank > found->readingRank))
            found = &rule;
    }
    return found != nullptr ? found->code : std::string();
}

void EncodeTrailer(const PackageTrailer& trailer, uint16_t t, uint8_t* out) {
    WriteBE32(out + 2, trailer.packageOffset);
    WriteBE32(out + 6, trailer.packageLength);
    PutField(out + 10, 16, trailer.product);
    PutField(out + 26, 4, trailer.filter);
    PutField(out + 30, 4, trailer.revision);
    PutField(out + 34, 2, trailer.minor);
    WriteLE32(out + 36, trailer.flags);
    std::memcpy(out + 40, kPackageMagic, 32);
    const auto seed = static_cast<uint16_t>(t - kTrailerSeedOffset);
    Scramble(out + 2, kTrailerSize - 2, seed);
    out[0] = static_cast<uint8_t>(seed >> 8);
    out[1] = static_cast<uint8_t>(seed);
}

bool DecodeTrailer(const uint8_t* in, PackageTrailer* trailer) {
    uint8_t copy[kTrailerSize];
    std::memcpy(copy, in, kTrailerSize);
    const auto seed = static_cast<uint16_t>(ReadBE16(copy));
    Scramble(copy + 2, kTrailerSize - 2, seed);
    if (std::memcmp(copy + 40, kPackageMagic, 32) != 0)
        return false;

    trailer->packageOffset = ReadBE32(copy + 2);
    trailer->packageLength = ReadBE32(copy + 6);
    trailer->product = FieldText(copy + 10, 16);
    trailer->filter.assign(4, '*');
    for (int i = 0; i < 4; ++i) {
        if (copy[26 + i] != 0)
            trailer->filter[i] = static_cast<char>(copy[26 + i]);
    }
    trailer->revision = FieldText(copy + 30, 4);
    trailer->minor = FieldText(copy + 34, 2);
    trailer->flags = ReadLE32(copy + 36);
    return true;
}
