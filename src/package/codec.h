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
// The same on a block as it lies in the file, scrambled behind its seed (block bytes 0 and 1):
// the bytes are descrambled on their way to out, block is only read.
bool UnpackScrambledBody(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset,
                         uint8_t* out, uint32_t capacity, uint32_t* length);
// Whether the body of a scrambled block unpacks to exactly the bodyLength bytes of body;
// compared a piece at a time, nothing is written.
bool ScrambledBodyEquals(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset,
                         const uint8_t* body, uint32_t bodyLength);
// The 516 bytes of a scrambled block's seed and run table, descrambled into table; returns
// the key stream state in front of the packed body.
uint32_t DescrambleRunTable(const uint8_t* block, uint8_t* table);
// The body length a run table and a block of blockLength bytes (at least 516) give: the packed
// bytes plus the recorded runs.
uint64_t UnpackedLength(const uint8_t* table, uint32_t blockLength);
// The same a byte at a time: the reference UnpackBody is tested against.
bool UnpackBodyPlain(const uint8_t* block, uint32_t blockLength, uint32_t packageOffset,
                     uint8_t* out, uint32_t capacity, uint32_t* length);
