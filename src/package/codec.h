// The zero-run codec of the package block: a table of up to 64 runs of zero bytes (their
// file positions and lengths), then the packed body without them.
#pragma once

#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "package/trailer.h"

struct ZeroRun {
    uint32_t position = 0;  // file offset of the packed byte the run goes in front of
    uint32_t length = 0;
};

// The entries of the run table at the start of a block, one after the other; past the last
// of the 64, a run of length 0.
class CRunCursor {
public:
    explicit CRunCursor(const uint8_t* block) : m_block(block) { Read(); }
    const ZeroRun& Run() const { return m_run; }
    void Next() {
        ++m_entry;
        Read();
    }

private:
    void Read() {
        m_run = m_entry < kRunEntries ? ZeroRun{ReadBE32(m_block + 4 + 4 * m_entry),
                                                ReadBE32(m_block + 260 + 4 * m_entry)}
                                      : ZeroRun{};
    }
    const uint8_t* m_block;
    int m_entry = 0;
    ZeroRun m_run;
};

// The recorded entries of a block's run table: those before the first of length 0.
std::vector<ZeroRun> RecordedRuns(const uint8_t* block);

// A block that holds its whole run table and whose file offsets stay within 32 bits.
inline bool IsUnpackableBlock(uint32_t blockLength, uint32_t packageOffset) {
    return blockLength >= kBlockHeaderSize && packageOffset <= UINT32_MAX - blockLength;
}

// Unpacks the firmware body of a descrambled package block: block holds blockLength bytes
// from the package offset up to the trailer (run table, then packed body), packageOffset is
// its file offset. At most capacity bytes go to out. False for a block that is not
// unpackable, when the body would not fit, or when a recorded run lies outside the packed
// body (*length then counts what was unpacked).
bool UnpackBody(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset, uint8_t* out,
                uint32_t capacity, uint32_t* length);
// The same a byte at a time: the reference UnpackBody is tested against.
bool UnpackBodyPlain(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset,
                     uint8_t* out, uint32_t capacity, uint32_t* length);
