// Zero-run packing of the firmware body into the package block, and back.
#include <cstring>

#include "package/codec.h"
#include "package/update_data.h"

namespace {

// Recorded runs are at least 256 bytes long, so each holds an 8-byte group that starts
// at a multiple of 128 in the body: looking at those groups finds every such run.
constexpr uint32_t kProbeStep = 128;
static_assert(kProbeStep + 8 <= kMinRunLength);

bool ZeroGroup(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v == 0;
}

}  // namespace

bool CUpdateData::BlockRoom(uint32_t* start, uint32_t* limit) const {
    // Room is kept for the trailer behind the packed body.
    *limit = kBufferSize - kTrailerSize;
    *start = m_nFileSize;
    return *start <= *limit && *limit - *start >= kBlockHeaderSize;
}

bool CUpdateData::PackFirmware() {
    uint32_t start = 0, limit = 0;
    if (!BlockRoom(&start, &limit))
        return false;
    uint32_t w = start;
    uint8_t* block = m_pFileImage + start;
    std::memset(block, 0, kBlockHeaderSize);
    w += kBlockHeaderSize;

    const uint8_t* body = m_pFirmware;
    const uint32_t n = m_nFirmwareLength;
    auto copyLiteral = [&](uint32_t from, uint32_t to) {
        const uint32_t count = to - from;
        if (count > limit - w)
            return false;
        std::memcpy(m_pFileImage + w, body + from, count);
        w += count;
        return true;
    };

    int entries = 0;
    uint32_t literal = 0;  // body bytes from here on are not written yet
    uint32_t probe = 0;
    while (entries < kRunEntries && n >= 8 && probe <= n - 8) {
        if (!ZeroGroup(body + probe)) {
            probe += kProbeStep;
            continue;
        }
        // The whole zero run around the group.
        uint32_t first = probe;
        while (first > literal && body[first - 1] == 0)
            --first;
        uint32_t end = probe + 8;
        while (n - end >= 8 && ZeroGroup(body + end))
            end += 8;
        while (end < n && body[end] == 0)
            ++end;
        if (end - first >= kMinRunLength) {
            if (!copyLiteral(literal, first))
                return false;
            WriteBE32(block + 4 + 4 * entries, w);
            WriteBE32(block + 260 + 4 * entries, end - first);
            ++entries;
            literal = end;
        }
        probe = (end + kProbeStep - 1) / kProbeStep * kProbeStep;
    }
    if (!copyLiteral(literal, n))
        return false;
    EndPacking(start, w);
    return true;
}

void CUpdateData::EndPacking(uint32_t start, uint32_t end) {
    m_nPackageOffset = start;
    m_nPackageLength = end - start;
    m_nFileSize = end;
}

bool UnpackBody(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset, uint8_t* out,
                uint32_t capacity, uint32_t* length) {
    if (!IsUnpackableBlock(blockLength, packageOffset))
        return false;
    const uint32_t start = packageOffset;
    const uint32_t trailer = packageOffset + blockLength;
    CRunCursor runs(block);
    const ZeroRun& run = runs.Run();  // follows the cursor
    uint32_t n = 0;
    uint32_t i = start + kBlockHeaderSize;
    while (i < trailer) {
        if (run.length > 0 && run.position == i) {
            if (run.length > capacity - n)
                return false;
            std::memset(out + n, 0, run.length);
            n += run.length;
            runs.Next();
        }
        // Literal bytes up to the next recorded position (at least byte i itself).
        uint32_t end = trailer;
        if (run.length > 0 && run.position > i && run.position < trailer)
            end = run.position;
        const uint32_t count = end - i;
        if (count > capacity - n)
            return false;
        std::memcpy(out + n, block + (i - start), count);
        n += count;
        i = end;
    }
    if (run.length > 0 && run.position == trailer) {
        if (run.length > capacity - n)
            return false;
        std::memset(out + n, 0, run.length);
        n += run.length;
        runs.Next();
    }
    *length = n;
    // A recorded run that was never reached points outside the packed body.
    return run.length == 0;
}

std::vector<ZeroRun> RecordedRuns(const uint8_t* block) {
    std::vector<ZeroRun> runs;
    for (CRunCursor cursor(block); cursor.Run().length != 0; cursor.Next())
        runs.push_back(cursor.Run());
    return runs;
}

bool CUpdateData::UnpackWith(UnpackFunction unpack) {
    m_nFirmwareLength = 0;
    if (m_nFileSize < kTrailerSize || m_nFileSize > kBufferSize)
        return false;
    const uint32_t trailer = m_nFileSize - kTrailerSize;
    const uint32_t start = m_nPackageOffset;
    if (start > trailer || trailer - start < kBlockHeaderSize)
        return true;  // empty body
    uint32_t n = 0;
    const bool ok =
        unpack(m_pFileImage + start, trailer - start, start, m_pFirmware, kBufferSize, &n);
    m_nFirmwareLength = n;
    return ok;
}

bool CUpdateData::UnpackFirmware() {
    return UnpackWith(UnpackBody);
}
