// Zero-run packing of the firmware body into the package block, and back.
#include <algorithm>
#include <cstring>

#include "package/codec.h"
#include "package/scrambler.h"
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

namespace {

// The packed body of a block in body order: sink.Zeros(at, count) for a recorded run and
// sink.Literal(at, bytes, count) for packed bytes, at being the body offset. table is the
// block's run table, packed its bytes from offset 516 on. A sink returning false ends the
// walk with false.
template <class Sink>
bool WalkBody(const uint8_t* table, const uint8_t* packed, uint32_t blockLength,
              uint32_t packageOffset, uint32_t capacity, Sink& sink, uint32_t* length) {
    if (!IsUnpackableBlock(blockLength, packageOffset))
        return false;
    const uint32_t start = packageOffset + kBlockHeaderSize;
    const uint32_t trailer = packageOffset + blockLength;
    CRunCursor runs(table);
    const ZeroRun& run = runs.Run();  // follows the cursor
    uint32_t n = 0;
    uint32_t i = start;
    while (i < trailer) {
        if (run.length > 0 && run.position == i) {
            if (run.length > capacity - n || !sink.Zeros(n, run.length))
                return false;
            n += run.length;
            runs.Next();
        }
        // Literal bytes up to the next recorded position (at least byte i itself).
        uint32_t end = trailer;
        if (run.length > 0 && run.position > i && run.position < trailer)
            end = run.position;
        const uint32_t count = end - i;
        if (count > capacity - n || !sink.Literal(n, packed + (i - start), count))
            return false;
        n += count;
        i = end;
    }
    if (run.length > 0 && run.position == trailer) {
        if (run.length > capacity - n || !sink.Zeros(n, run.length))
            return false;
        n += run.length;
        runs.Next();
    }
    *length = n;
    // A recorded run that was never reached points outside the packed body.
    return run.length == 0;
}

// Writes the body to out; with descrambling, the packed bytes are taken as they lie in the
// file and the key stream is taken up where the last piece left it.
struct BodyWriter {
    uint8_t* out;
    bool descramble = false;
    uint32_t state = 0;

    bool Zeros(uint32_t at, uint32_t count) {
        std::memset(out + at, 0, count);
        return true;
    }
    bool Literal(uint32_t at, const uint8_t* bytes, uint32_t count) {
        std::memcpy(out + at, bytes, count);
        if (descramble)
            state = XorKeyStream(out + at, count, state);
        return true;
    }
};

// Compares the body with expected, descrambling a piece at a time; stops at the first
// difference.
struct BodyComparer {
    const uint8_t* expected;
    uint32_t state;

    bool Zeros(uint32_t at, uint32_t count) const {
        const uint8_t* p = expected + at;
        for (uint32_t k = 0; k < count; ++k) {
            if (p[k] != 0)
                return false;
        }
        return true;
    }
    bool Literal(uint32_t at, const uint8_t* bytes, uint32_t count) {
        uint8_t piece[4096];
        for (uint32_t done = 0; done < count;) {
            const uint32_t m = std::min<uint32_t>(count - done, sizeof piece);
            std::memcpy(piece, bytes + done, m);
            state = XorKeyStream(piece, m, state);
            if (std::memcmp(piece, expected + at + done, m) != 0)
                return false;
            done += m;
        }
        return true;
    }
};

}  // namespace

bool UnpackBody(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset, uint8_t* out,
                uint32_t capacity, uint32_t* length) {
    BodyWriter writer{out};
    return WalkBody(block, block + kBlockHeaderSize, blockLength, packageOffset, capacity, writer,
                    length);
}

uint32_t DescrambleRunTable(const uint8_t* block, uint8_t* table) {
    std::memcpy(table, block, kBlockHeaderSize);
    return XorKeyStream(table + 2, kBlockHeaderSize - 2, KeyState(ReadBE16(block)));
}

uint64_t UnpackedLength(const uint8_t* table, uint32_t blockLength) {
    uint64_t n = blockLength - kBlockHeaderSize;
    for (CRunCursor cursor(table); cursor.Run().length != 0; cursor.Next())
        n += cursor.Run().length;
    return n;
}

bool UnpackScrambledBody(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset,
                         uint8_t* out, uint32_t capacity, uint32_t* length) {
    if (!IsUnpackableBlock(blockLength, packageOffset))
        return false;
    uint8_t table[kBlockHeaderSize];
    BodyWriter writer{out, true, DescrambleRunTable(block, table)};
    return WalkBody(table, block + kBlockHeaderSize, blockLength, packageOffset, capacity, writer,
                    length);
}

bool ScrambledBodyEquals(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset,
                         const uint8_t* body, uint32_t bodyLength) {
    if (!IsUnpackableBlock(blockLength, packageOffset))
        return false;
    uint8_t table[kBlockHeaderSize];
    BodyComparer comparer{body, DescrambleRunTable(block, table)};
    uint32_t n = 0;
    return WalkBody(table, block + kBlockHeaderSize, blockLength, packageOffset, bodyLength,
                    comparer, &n) &&
           n == bodyLength;
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
