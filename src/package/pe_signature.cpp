#include "package/pe_signature.h"

#include <cstring>

#include "base/bytes.h"

namespace {

constexpr uint32_t kSecurityEntry = 4;  // index of the security directory
constexpr unsigned kMaxAlignment = 7;   // zero bytes a signer puts before the table

}  // namespace

bool FindSecurityDirectory(const uint8_t* data, uint32_t size, CertificateTable* table) {
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z')
        return false;
    const uint64_t pe = ReadLE32(data + 0x3C);
    // "PE\0\0", then the 20-byte file header, then the optional header.
    if (pe + 24 > size || std::memcmp(data + pe, "PE\0\0", 4) != 0)
        return false;
    const uint64_t optional = pe + 24;
    const uint64_t optionalSize = ReadLE16(data + pe + 20);
    if (optional + 2 > size)
        return false;
    uint64_t countAt = 0;
    uint64_t directories = 0;
    switch (ReadLE16(data + optional)) {
        case 0x10B:  // PE32
            countAt = optional + 92;
            directories = optional + 96;
            break;
        case 0x20B:  // PE32+
            countAt = optional + 108;
            directories = optional + 112;
            break;
        default:
            return false;
    }
    const uint64_t entry = directories + 8 * kSecurityEntry;
    if (entry + 8 > size || entry + 8 > optional + optionalSize ||
        ReadLE32(data + countAt) <= kSecurityEntry) {
        return false;
    }
    table->entryOffset = static_cast<uint32_t>(entry);
    table->offset = ReadLE32(data + entry);
    table->size = ReadLE32(data + entry + 4);
    return true;
}

bool FindCertificateTable(const uint8_t* data, uint32_t size, CertificateTable* table) {
    CertificateTable found;
    if (!FindSecurityDirectory(data, size, &found) || found.size == 0 || found.offset == 0 ||
        found.offset > size || found.size != size - found.offset) {
        return false;
    }
    *table = found;
    return true;
}

bool SignedEndCandidate(const uint8_t* data, const CertificateTable& table, unsigned n,
                        uint32_t* end) {
    if (n > kMaxAlignment || n > table.offset)
        return false;
    for (unsigned i = 1; i <= n; ++i) {
        if (data[table.offset - i] != 0)
            return false;
    }
    *end = table.offset - n;
    return true;
}

bool StripCertificateTable(uint8_t* data, uint32_t* size) {
    CertificateTable entry;
    if (!FindSecurityDirectory(data, *size, &entry) || (entry.offset == 0 && entry.size == 0))
        return false;
    CertificateTable table;
    if (FindCertificateTable(data, *size, &table) && table.offset > entry.entryOffset + 8)
        *size = table.offset;
    std::memset(data + entry.entryOffset, 0, 8);
    return true;
}
