// Zero-run packing of the firmware body into the package block, and back.
#include <cstring>

#include "package/update_data.h"

namespace {

uint32_t RunEnd(const uint8_t* p, uint32_t k, uint32_t n, bool zero) {
    if (zero) {
        while (k < n && p[k] == 0)
            ++k;
    } else {
        while (k < n && p[k] != 0)
            ++k;
    }
    return k;
}

}  // namespace

bool CUpdateData::PackFirmware() {
    // Room is kept for the trailer behind the packed body.
    const uint32_t limit = kBufferSize - kTrailerSize;
    uint32_t w = m_nFileSize;
    if (w > limit || limit - w < kBlockHeaderSize)
        return false;

    const uint32_t start = w;
    uint8_t* block = m_pFileImage + start;
    std::memset(block, 0, kBlockHeaderSize);
    w += kBlockHeaderSize;

    const uint8_t* body = m_pFirmware;
    const uint32_t n = m_nFirmwareLength;
    int entries = 0;
    uint32_t k = 0;
    while (k < n) {
        const bool zero = body[k] == 0;
        const uint32_t end = RunEnd(body, k, n, zero);
        const uint32_t count = end - k;
        if (zero && entries < kRunEntries && count >= kMinRunLength) {
            WriteBE32(block + 4 + 4 * entries, w);
            WriteBE32(block + 260 + 4 * entries, count);
            ++entries;
        } else {
            if (count > limit - w)
                return false;
            std::memcpy(m_pFileImage + w, body + k, count);
            w += count;
        }
        k = end;
    }
    m_nPackageOffset = start;
    m_nPackageLength = w - start;
    m_nFileSize = w;
    return true;
}

bool CUpdateData::UnpackFirmware() {
    m_nFirmwareLength = 0;
    if (m_nFileSize < kTrailerSize || m_nFileSize > kBufferSize)
        return false;
    const uint32_t trailer = m_nFileSize - kTrailerSize;
    const uint32_t start = m_nPackageOffset;
    if (start > trailer || trailer - start < kBlockHeaderSize)
        return true;  // empty body

    const uint8_t* block = m_pFileImage + start;
    int j = 0;
    uint32_t pos = ReadBE32(block + 4);
    uint32_t len = ReadBE32(block + 260);
    auto next = [&] {
        ++j;
        pos = j < kRunEntries ? ReadBE32(block + 4 + 4 * j) : 0;
        len = j < kRunEntries ? ReadBE32(block + 260 + 4 * j) : 0;
    };

    uint32_t n = 0;
    uint32_t i = start + kBlockHeaderSize;
    while (i < trailer) {
        if (len > 0 && pos == i) {
            if (len > kBufferSize - n)
                return false;
            std::memset(m_pFirmware + n, 0, len);
            n += len;
            next();
        }
        // Literal bytes up to the next recorded position (at least byte i itself).
        uint32_t end = trailer;
        if (len > 0 && pos > i && pos < trailer)
            end = pos;
        const uint32_t count = end - i;
        if (count > kBufferSize - n)
            return false;
        std::memcpy(m_pFirmware + n, m_pFileImage + i, count);
        n += count;
        i = end;
    }
    if (len > 0 && pos == trailer) {
        if (len > kBufferSize - n)
            return false;
        std::memset(m_pFirmware + n, 0, len);
        n += len;
        next();
    }
    m_nFirmwareLength = n;
    // A recorded run that was never reached points outside the packed body.
    return len == 0;
}
