#include "support/pe_files.h"

#include <algorithm>
#include <stdexcept>

#include "support/test_support.h"

namespace testsupport {

namespace {

void PutLE(std::vector<uint8_t>& file, uint32_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        file[at + static_cast<uint32_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLE32(const std::vector<uint8_t>& file, uint32_t at) {
    return uint32_t{file[at]} | (uint32_t{file[at + 1]} << 8) | (uint32_t{file[at + 2]} << 16) |
           (uint32_t{file[at + 3]} << 24);
}

uint32_t EntryOf(const std::vector<uint8_t>& file) {
    const uint32_t optional = kPeHeaderOffset + 24;
    return file[optional] == 0x0B && file[optional + 1] == 0x01 ? kPeSecurityEntry32
                                                                : kPeSecurityEntry32Plus;
}

}  // namespace

std::vector<uint8_t> PeEngine(uint32_t size, uint16_t magic) {
    std::vector<uint8_t> file = ReadAll(DataPath("engine.bin"));
    if (size > file.size() || size < 0x200)
        throw std::runtime_error("PeEngine: size out of range");
    file.resize(size);
    std::fill(file.begin(), file.begin() + 0x200, uint8_t{0});
    file[0] = 'M';
    file[1] = 'Z';
    PutLE(file, 0x3C, kPeHeaderOffset, 4);
    std::copy_n("PE\0\0", 4, file.begin() + kPeHeaderOffset);
    const uint32_t optionalSize = magic == 0x10B ? 224 : 240;
    PutLE(file, kPeHeaderOffset + 4, 0x8664, 2);         // machine
    PutLE(file, kPeHeaderOffset + 20, optionalSize, 2);  // size of the optional header
    PutLE(file, kPeHeaderOffset + 22, 0x0022, 2);        // executable, large address aware
    const uint32_t optional = kPeHeaderOffset + 24;
    PutLE(file, optional, magic, 2);
    PutLE(file, optional + (magic == 0x10B ? 92 : 108), 16, 4);  // number of directories
    return file;
}

void AppendSignature(std::vector<uint8_t>& file, uint32_t tableSize) {
    file.resize((file.size() + 7) / 8 * 8, 0);
    const auto offset = static_cast<uint32_t>(file.size());
    file.resize(file.size() + tableSize, 0);
    PutLE(file, offset, tableSize, 4);   // WIN_CERTIFICATE: length,
    PutLE(file, offset + 4, 0x0200, 2);  // revision,
    PutLE(file, offset + 6, 0x0002, 2);  // PKCS#7 signed data
    for (uint32_t i = 8; i < tableSize; ++i)
        file[offset + i] = static_cast<uint8_t>(0x30 + i);
    const uint32_t entry = EntryOf(file);
    PutLE(file, entry, offset, 4);
    PutLE(file, entry + 4, tableSize, 4);
}

uint32_t SecurityOffset(const std::vector<uint8_t>& file) {
    return GetLE32(file, EntryOf(file));
}

uint32_t SecuritySize(const std::vector<uint8_t>& file) {
    return GetLE32(file, EntryOf(file) + 4);
}

}  // namespace testsupport
