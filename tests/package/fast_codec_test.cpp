// The fast scrambler, word sum and zero-run codec against their byte-at-a-time forms:
// random and edge inputs, every length around the block sizes, unaligned offsets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "package/codec.h"
#include "package/scrambler.h"
#include "package/trailer.h"
#include "package/update_data.h"
#include "support/test_support.h"

namespace {

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

TEST(FastScramble, MatchesPlainForEveryLengthSeedAndOffset) {
    std::mt19937 rng(1);
    const std::vector<uint8_t> input = RandomBytes(rng, 1600 + 8);
    for (const uint16_t seed : {0, 1, 2, 0x7778, 0xFFFF}) {
        for (int32_t length = -2; length <= 1600; ++length) {
            const size_t offset = static_cast<size_t>(length + 2) % 4;
            std::vector<uint8_t> plain = input, fast = input;
            const int32_t a = CUpdateData::ScramblePlain(plain.data() + offset, length, seed);
            const int32_t b = CUpdateData::Scramble(fast.data() + offset, length, seed);
            ASSERT_EQ(a, b) << "seed " << seed << " length " << length;
            ASSERT_EQ(plain, fast) << "seed " << seed << " length " << length;
        }
    }
}

TEST(FastScramble, LargeBufferMatchesPlainAndTwiceRestores) {
    std::mt19937 rng(2);
    const std::vector<uint8_t> input = RandomBytes(rng, (1 << 20) + 13);
    std::vector<uint8_t> plain = input, fast = input;
    const auto n = static_cast<int32_t>(input.size() - 1);
    CUpdateData::ScramblePlain(plain.data() + 1, n, 0xBEEF);
    CUpdateData::Scramble(fast.data() + 1, n, 0xBEEF);
    ASSERT_EQ(plain, fast);
    CUpdateData::Scramble(fast.data() + 1, n, 0xBEEF);
    EXPECT_EQ(fast, input);
}

// Big-endian word sum of length bytes at p; an odd last byte pairs with after.
uint16_t WordSum(const uint8_t* p, uint32_t length, uint8_t after) {
    uint32_t sum = 0;
    for (uint32_t k = 0; k < length; k += 2)
        sum += (uint32_t{p[k]} << 8) | (k + 1 < length ? p[k + 1] : after);
    return static_cast<uint16_t>(sum);
}

class FastChecksum : public ::testing::Test {
protected:
    void Fill(uint8_t value) { std::memset(d->m_pFirmware, value, kBufferSize); }
    void FillRandom(uint32_t count) {
        std::mt19937 rng(3);
        for (uint32_t i = 0; i < count; ++i)
            d->m_pFirmware[i] = static_cast<uint8_t>(rng());
    }
    // Both forms agree; then the range is made valid (first word adjusted) and then
    // broken again (a bit of its last word flipped), and both forms follow.
    void Check(uint32_t offset, uint32_t length) {
        SCOPED_TRACE(testing::Message() << "offset " << offset << " length " << length);
        ASSERT_EQ(d->VerifyChecksumPlain(offset, length), d->VerifyChecksum(offset, length));
        if (length < 4)
            return;
        uint8_t* p = d->m_pFirmware + offset;
        p[0] = p[1] = 0;
        const uint32_t end = offset + length;
        const uint8_t after = end < kBufferSize ? d->m_pFirmware[end] : 0;
        const auto fix = static_cast<uint16_t>(0xFFFF - WordSum(p, length, after));
        p[0] = static_cast<uint8_t>(fix >> 8);
        p[1] = static_cast<uint8_t>(fix);
        EXPECT_TRUE(d->VerifyChecksumPlain(offset, length));
        EXPECT_TRUE(d->VerifyChecksum(offset, length));
        p[length - 1] ^= 0x10;
        EXPECT_FALSE(d->VerifyChecksumPlain(offset, length));
        EXPECT_FALSE(d->VerifyChecksum(offset, length));
    }
    std::unique_ptr<CUpdateData> d = std::make_unique<CUpdateData>();
};

TEST_F(FastChecksum, MatchesPlainAroundTheBlockSizes) {
    FillRandom(16384);
    for (const uint32_t offset : {0u, 1u, 2u, 3u, 1001u})
        for (uint32_t length = 0; length <= 4200; length += (length < 64 ? 1 : 7))
            Check(offset, length);
    for (const uint32_t length : {2047u, 2048u, 2049u, 4095u, 4096u, 4097u, 6145u})
        Check(5, length);
}

TEST_F(FastChecksum, SixteenBitLanesWrapLikeTheSum) {
    // All 0xFF: every lane wraps many times over a large image.
    Fill(0xFF);
    Check(0, 1 << 20);
    Check(1, (1 << 20) + 1);
    Fill(0x80);
    Check(7, 300001);
}

TEST_F(FastChecksum, AtTheBufferEndAndOutside) {
    FillRandom(kBufferSize);
    for (const uint32_t length : {0u, 1u, 2u, 3u, 2049u, 4097u})
        Check(kBufferSize - length, length);
    // The byte after an odd image at the very end reads as zero.
    Check(kBufferSize - 5, 5);
    EXPECT_FALSE(d->VerifyChecksum(kBufferSize + 1, 0));
    EXPECT_FALSE(d->VerifyChecksum(10, kBufferSize));
    EXPECT_FALSE(d->VerifyChecksumPlain(10, kBufferSize));
}

// A body of nonzero bytes with zero runs of assorted lengths.
std::vector<uint8_t> BodyWithRuns(std::mt19937& rng, uint32_t size) {
    std::vector<uint8_t> body(size);
    for (auto& b : body)
        b = static_cast<uint8_t>(rng() % 255 + 1);
    const uint32_t runs = size ? rng() % 90 : 0;
    for (uint32_t r = 0; r < runs; ++r) {
        static const uint32_t kLengths[][2] = {{1, 20}, {120, 140}, {250, 262}, {263, 3000}};
        const auto& range = kLengths[rng() % 4];
        const uint32_t length = range[0] + rng() % (range[1] - range[0] + 1);
        uint32_t at = rng() % size;
        if (rng() % 8 == 0)
            at = rng() % 2 ? 0 : size - std::min(size, length);
        std::memset(body.data() + at, 0, std::min(length, size - at));
    }
    return body;
}

struct PackResult {
    bool ok;
    uint32_t fileSize, packageOffset, packageLength;
    std::vector<uint8_t> image;
    bool operator==(const PackResult&) const = default;
};

PackResult Pack(CUpdateData& d, uint32_t engine, bool plain) {
    d.m_nFileSize = engine;
    d.m_nPackageOffset = d.m_nPackageLength = 0;
    const bool ok = plain ? d.PackFirmwarePlain() : d.PackFirmware();
    PackResult r{ok, d.m_nFileSize, d.m_nPackageOffset, d.m_nPackageLength, {}};
    if (ok)
        r.image.assign(d.m_pFileImage + engine, d.m_pFileImage + d.m_nFileSize);
    return r;
}

void ExpectSamePacking(CUpdateData& d, const std::vector<uint8_t>& body, uint32_t engine) {
    if (!body.empty())
        std::memcpy(d.m_pFirmware, body.data(), body.size());
    d.m_nFirmwareLength = static_cast<uint32_t>(body.size());
    const PackResult plain = Pack(d, engine, true);
    const PackResult fast = Pack(d, engine, false);
    ASSERT_EQ(plain.ok, fast.ok);
    ASSERT_EQ(plain.fileSize, fast.fileSize);
    ASSERT_EQ(plain.packageLength, fast.packageLength);
    ASSERT_TRUE(plain == fast);
}

TEST(FastPack, MatchesPlainOnRandomBodies) {
    auto d = std::make_unique<CUpdateData>();
    std::mt19937 rng(4);
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const uint32_t size = round < 40 ? static_cast<uint32_t>(round) : rng() % 40000;
        ExpectSamePacking(*d, BodyWithRuns(rng, size), rng() % 5000);
    }
}

TEST(FastPack, RunsAtEveryPhaseAndLengthNearTheLimits) {
    auto d = std::make_unique<CUpdateData>();
    for (const uint32_t length : {7u, 8u, 9u, 135u, 136u, 255u, 256u, 257u, 263u, 264u}) {
        for (uint32_t phase = 0; phase < 140; ++phase) {
            SCOPED_TRACE(testing::Message() << "length " << length << " phase " << phase);
            std::vector<uint8_t> body(phase, 0x11);
            body.insert(body.end(), length, 0);
            body.push_back(0x22);
            ExpectSamePacking(*d, body, 1000);
            body.pop_back();  // run up to the end of the body
            ExpectSamePacking(*d, body, 1001);
        }
    }
    // All zeros; more runs than the table holds, adjacent short and long runs.
    ExpectSamePacking(*d, std::vector<uint8_t>(100000, 0), 3);
    std::vector<uint8_t> many;
    for (int i = 0; i < 100; ++i) {
        many.push_back(static_cast<uint8_t>(i + 1));
        many.insert(many.end(), 256 + i, 0);
    }
    ExpectSamePacking(*d, many, 0);
}

TEST(FastPack, RefusesExactlyWhatThePlainFormRefuses) {
    auto d = std::make_unique<CUpdateData>();
    std::mt19937 rng(5);
    std::vector<uint8_t> body = BodyWithRuns(rng, kBufferSize);
    const uint32_t room = kBufferSize - kTrailerSize - kBlockHeaderSize;
    // A body whose packed form is just below, at and above the room behind the engine.
    for (int run = 0; run < 3; ++run) {
        std::memcpy(d->m_pFirmware, body.data(), body.size());
        d->m_nFirmwareLength = kBufferSize;
        const PackResult probe = Pack(*d, 0, true);
        const uint32_t packed = probe.ok ? probe.packageLength - kBlockHeaderSize : room + 1;
        for (const uint32_t engine : {room - packed + 1, room - packed, room - packed - 1}) {
            if (engine <= kBufferSize)
                ExpectSamePacking(*d, body, engine);
        }
        body[rng() % body.size()] = 0;
        std::fill(body.begin(), body.begin() + 5000 * (run + 1), uint8_t{0});
    }
    ExpectSamePacking(*d, {1, 2, 3}, kBufferSize - kTrailerSize - kBlockHeaderSize + 1);
}

struct UnpackResult {
    bool ok;
    std::vector<uint8_t> body;
    bool operator==(const UnpackResult&) const = default;
};

UnpackResult Unpack(CUpdateData& d, bool plain) {
    std::memset(d.m_pFirmware, 0xEE, 64);
    const bool ok = plain ? d.UnpackFirmwarePlain() : d.UnpackFirmware();
    return {ok, std::vector<uint8_t>(d.m_pFirmware, d.m_pFirmware + d.m_nFirmwareLength)};
}

TEST(FastUnpack, MatchesPlainOnValidAndDamagedTables) {
    auto d = std::make_unique<CUpdateData>();
    std::mt19937 rng(6);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const std::vector<uint8_t> body = BodyWithRuns(rng, rng() % 30000);
        std::memcpy(d->m_pFirmware, body.data(), body.size());
        d->m_nFirmwareLength = static_cast<uint32_t>(body.size());
        d->m_nFileSize = rng() % 3000;
        ASSERT_TRUE(d->PackFirmware());
        d->m_nFileSize += kTrailerSize;
        uint8_t* table = d->m_pFileImage + d->m_nPackageOffset;
        // Damage the table in one of several ways, or leave it valid.
        const int j = static_cast<int>(rng() % 66);
        const int entry = j < kRunEntries ? j : 0;
        uint8_t* pos = table + 4 + 4 * entry;
        uint8_t* len = table + 260 + 4 * entry;
        switch (rng() % 8) {
            case 0:
                WriteBE32(pos, ReadBE32(pos) + 1);
                break;
            case 1:
                WriteBE32(pos, ReadBE32(pos) - 1);
                break;
            case 2:
                WriteBE32(len, rng() % 2 ? kBufferSize : 0xFFFFFFFFu);
                break;
            case 3:
                WriteBE32(len, 0);
                break;
            case 4:
                WriteBE32(pos, d->m_nFileSize - kTrailerSize);
                WriteBE32(len, 1 + rng() % 1000);
                break;
            case 5:
                d->m_nPackageOffset += rng() % 4 ? 1 : 100000;
                break;
            case 6:
                d->m_nFileSize = rng() % 2 ? kTrailerSize - 1 : kBufferSize + 1;
                break;
            default:
                break;
        }
        const UnpackResult plain = Unpack(*d, true);
        const uint32_t plainLength = d->m_nFirmwareLength;
        const UnpackResult fast = Unpack(*d, false);
        ASSERT_EQ(plain.ok, fast.ok);
        ASSERT_EQ(plainLength, d->m_nFirmwareLength);
        ASSERT_TRUE(plain == fast);
    }
}

// The block as the file holds it, scrambled behind its seed: unpacking it on the way (and
// comparing a body with it) gives what descrambling first and unpacking gives, valid table
// or damaged.
TEST(FastUnpack, ScrambledBlockAsTheFileHoldsIt) {
    auto d = std::make_unique<CUpdateData>();
    std::mt19937 rng(7);
    std::vector<uint8_t> expected(kBufferSize + 1), got(kBufferSize + 1);  // one byte more below
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        const std::vector<uint8_t> body = BodyWithRuns(rng, rng() % 30000);
        std::memcpy(d->m_pFirmware, body.data(), body.size());
        d->m_nFirmwareLength = static_cast<uint32_t>(body.size());
        d->m_nFileSize = rng() % 3000;
        ASSERT_TRUE(d->PackFirmware());
        const uint32_t offset = d->m_nPackageOffset;
        const uint32_t length = d->m_nPackageLength;
        std::vector<uint8_t> block(d->m_pFileImage + offset, d->m_pFileImage + offset + length);
        if (round % 3 == 1)  // a run position one off: the table points outside the body
            WriteBE32(block.data() + 4, ReadBE32(block.data() + 4) + 1);
        if (round % 3 == 2)  // a run that overfills what the body may take
            WriteBE32(block.data() + 260, kBufferSize);
        const auto capacity = static_cast<uint32_t>(round % 5 == 4 ? body.size() / 2 : kBufferSize);
        uint32_t plainLength = 0, fastLength = 0;
        const bool plainOk =
            UnpackBody(block.data(), length, offset, expected.data(), capacity, &plainLength);
        std::vector<uint8_t> scrambled = block;
        const auto seed = static_cast<uint16_t>(rng());
        CUpdateData::Scramble(scrambled.data() + 2, static_cast<int32_t>(length - 2), seed);
        scrambled[0] = static_cast<uint8_t>(seed >> 8);
        scrambled[1] = static_cast<uint8_t>(seed);
        const std::vector<uint8_t> asRead = scrambled;
        const bool fastOk = UnpackScrambledBody(scrambled.data(), length, offset, got.data(),
                                                capacity, &fastLength);
        ASSERT_EQ(asRead, scrambled);  // only read
        ASSERT_EQ(plainOk, fastOk);
        if (!plainOk) {
            if (capacity == kBufferSize) {  // a damaged table, not a short buffer
                EXPECT_FALSE(ScrambledBodyEquals(scrambled.data(), length, offset, body.data(),
                                                 static_cast<uint32_t>(body.size())));
            }
            continue;
        }
        ASSERT_EQ(plainLength, fastLength);
        ASSERT_EQ(0, std::memcmp(expected.data(), got.data(), plainLength));
        ASSERT_TRUE(
            ScrambledBodyEquals(scrambled.data(), length, offset, expected.data(), plainLength));
        // One byte changed (a packed byte or one of a run), or one byte more or less.
        if (plainLength == 0)
            continue;
        const uint32_t at = rng() % plainLength;
        got[at] ^= static_cast<uint8_t>(1 + rng() % 255);
        EXPECT_FALSE(
            ScrambledBodyEquals(scrambled.data(), length, offset, got.data(), plainLength));
        EXPECT_FALSE(ScrambledBodyEquals(scrambled.data(), length, offset, expected.data(),
                                         plainLength - 1));
        expected[plainLength] = 0;
        EXPECT_FALSE(ScrambledBodyEquals(scrambled.data(), length, offset, expected.data(),
                                         plainLength + 1));
    }
}

TEST(FastScramble, KeyStreamTakenUpPieceByPiece) {
    std::mt19937 rng(8);
    const std::vector<uint8_t> input = RandomBytes(rng, 5000);
    std::vector<uint8_t> whole = input, pieces = input;
    CUpdateData::Scramble(whole.data(), static_cast<int32_t>(whole.size()), 0);
    uint32_t state = KeyState(0);
    for (uint32_t at = 0; at < pieces.size();) {
        const uint32_t n =
            std::min<uint32_t>(static_cast<uint32_t>(pieces.size()) - at, rng() % 1200);
        state = XorKeyStream(pieces.data() + at, n, state);
        at += n;
    }
    EXPECT_EQ(whole, pieces);
}

TEST(ReadPackageFromMemory, SameAsReadingTheFile) {
    const std::string path = testsupport::DataPath("updater_a.bin");
    const std::vector<uint8_t> file = testsupport::ReadAll(path);
    auto fromFile = std::make_unique<CUpdateData>();
    fromFile->ReadPackage(path);
    auto fromMemory = std::make_unique<CUpdateData>();
    fromMemory->ReadPackageFromMemory(file.data(), file.size(), "x_1.05-AB.exe");
    EXPECT_EQ(fromMemory->m_nPackageLength, fromFile->m_nPackageLength);
    EXPECT_EQ(fromMemory->m_strNewRevision, fromFile->m_strNewRevision);
    EXPECT_EQ(fromMemory->m_strCustomer, fromFile->m_strCustomer);
    ASSERT_EQ(fromMemory->GetFirmwareLength(), fromFile->GetFirmwareLength());
    EXPECT_EQ(0, std::memcmp(fromMemory->GetFirmware(), fromFile->GetFirmware(),
                             fromFile->GetFirmwareLength()));
    EXPECT_FALSE(fromMemory->IsPackageBroken());
    EXPECT_FALSE(fromMemory->m_bMinorRevHidden);  // the name shows 1.05-AB

    // More than 4 MiB: only the first 4 MiB count, so the trailer is not seen.
    std::vector<uint8_t> large(kBufferSize + file.size(), 0x90);
    std::memcpy(large.data() + kBufferSize, file.data(), file.size());
    fromMemory->ReadPackageFromMemory(large.data(), large.size(), "big.exe");
    EXPECT_EQ(fromMemory->m_nEngineSize, kBufferSize);
    EXPECT_TRUE(fromMemory->IsPackageEmpty());
    EXPECT_TRUE(fromMemory->HasPackageData());
}

}  // namespace
