// Scrambler, trailer and zero-run codec.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "package/trailer.h"
#include "package/update_data.h"

namespace {

std::vector<uint8_t> Body(std::initializer_list<std::pair<uint32_t, uint8_t>> spans) {
    std::vector<uint8_t> body;
    for (auto [count, value] : spans)
        body.insert(body.end(), count, value);
    return body;
}

struct Packed {
    std::unique_ptr<CUpdateData> data = std::make_unique<CUpdateData>();
    uint32_t entry(int j, int field) const {
        return ReadBE32(data->m_pFileImage + data->m_nPackageOffset + 4 + 256 * field + 4 * j);
    }
};

// Packs body behind an engine of engineSize bytes, appends a trailer area, unpacks again.
Packed PackAndUnpack(const std::vector<uint8_t>& body, uint32_t engineSize = 1000) {
    Packed p;
    CUpdateData& d = *p.data;
    d.m_nFileSize = engineSize;
    if (!body.empty())
        std::memcpy(d.m_pFirmware, body.data(), body.size());
    d.m_nFirmwareLength = static_cast<uint32_t>(body.size());
    EXPECT_TRUE(d.PackFirmware());
    const uint32_t packedEnd = d.m_nFileSize;
    d.m_nFileSize += kTrailerSize;  // trailer bytes are not part of the body
    std::memset(d.m_pFirmware, 0xEE, body.size() + 16);
    EXPECT_TRUE(d.UnpackFirmware());
    EXPECT_EQ(d.m_nFirmwareLength, body.size());
    if (!body.empty()) {
        EXPECT_EQ(0, std::memcmp(d.m_pFirmware, body.data(), body.size()));
    }
    d.m_nFileSize = packedEnd;
    return p;
}

TEST(Scramble, SeedZeroActsAsOneAndTwiceRestores) {
    std::vector<uint8_t> a(100), b(100), orig(100);
    for (int i = 0; i < 100; ++i)
        a[i] = b[i] = orig[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(100, CUpdateData::Scramble(a.data(), 100, 0));
    CUpdateData::Scramble(b.data(), 100, 1);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, orig);
    CUpdateData::Scramble(a.data(), 100, 0);
    EXPECT_EQ(a, orig);
    EXPECT_EQ(0, CUpdateData::Scramble(a.data(), 0, 5));
    EXPECT_EQ(0, CUpdateData::Scramble(a.data(), -3, 5));
    EXPECT_EQ(a, orig);
}

TEST(Scramble, FirstKeyBytesFollowTheMultiplier) {
    uint8_t zeros[3] = {};
    CUpdateData::Scramble(zeros, 3, 1);
    uint32_t x = 1;
    for (uint8_t z : zeros) {
        x *= 1812433253u;
        EXPECT_EQ(z, x >> 24);
    }
}

TEST(Trailer, RoundTripWithSeedRule) {
    PackageTrailer t;
    t.packageOffset = 4096;
    t.packageLength = 700;
    t.product = "ABCDEFGHIJKLMNOP";
    t.filter = "1.0*";
    t.revision = "1.05";
    t.minor = "AB";
    t.flags = PKGF_ONLY_NEWER | PKGF_CUST_DELL;
    uint8_t raw[kTrailerSize];
    EncodeTrailer(t, 30584, raw);
    EXPECT_EQ(0, raw[0]);  // trailer seed (t - 30584) mod 65536
    EXPECT_EQ(0, raw[1]);
    PackageTrailer back;
    ASSERT_TRUE(DecodeTrailer(raw, &back));
    EXPECT_EQ(back.packageOffset, 4096u);
    EXPECT_EQ(back.packageLength, 700u);
    EXPECT_EQ(back.product, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(back.filter, "1.0*");
    EXPECT_EQ(back.revision, "1.05");
    EXPECT_EQ(back.minor, "AB");
    EXPECT_EQ(back.flags, t.flags);

    EncodeTrailer(t, 30583, raw);
    EXPECT_EQ(0xFF, raw[0]);
    EXPECT_EQ(0xFF, raw[1]);
}

TEST(Trailer, ZeroFilterBytesReadAsAnyAndMagicMustMatchExactly) {
    PackageTrailer t;
    t.filter = "";
    uint8_t raw[kTrailerSize];
    EncodeTrailer(t, 0x1234, raw);
    PackageTrailer back;
    ASSERT_TRUE(DecodeTrailer(raw, &back));
    EXPECT_EQ(back.filter, "****");
    EXPECT_EQ(back.revision, "");

    // Flip the last blank of the magic in the scrambled bytes: no package.
    raw[71] ^= 0x01;
    EXPECT_FALSE(DecodeTrailer(raw, &back));
}

TEST(Trailer, CustomerBits) {
    EXPECT_EQ(CustomerFlag("DELL"), PKGF_CUST_DELL);
    EXPECT_EQ(CustomerFlag("dell"), 0u);
    EXPECT_EQ(CustomerFlag(""), 0u);
    EXPECT_EQ(CustomerFromFlags(PKGF_CUST_DELL | PKGF_CUST_LENOVO), "LENOVO");
    EXPECT_EQ(CustomerFromFlags(PKGF_CUST_HPDTOCPE | PKGF_CUST_HPDTOENG), "HPDTOCPE");
    EXPECT_EQ(CustomerFromFlags(PKGF_ONLY_NEWER), "");
}

TEST(Codec, WorkedExample) {
    Packed p = PackAndUnpack(Body({{300, 0}, {1, 1}}), 1000);
    const CUpdateData& d = *p.data;
    EXPECT_EQ(p.entry(0, 0), 1516u);
    EXPECT_EQ(p.entry(0, 1), 300u);
    EXPECT_EQ(p.entry(1, 1), 0u);
    EXPECT_EQ(d.m_nPackageLength, 517u);  // 516 + K, K = 1
    EXPECT_EQ(d.m_pFileImage[1516], 1);
}

TEST(Codec, RunLengthsAndPlacement) {
    struct Case {
        const char* name;
        std::vector<uint8_t> body;
        uint32_t packed;  // K
        int entries;      // recorded runs
    };
    std::vector<uint8_t> manyRuns;
    for (int i = 0; i < 70; ++i) {
        manyRuns.push_back(9);
        manyRuns.insert(manyRuns.end(), 256, 0);
    }
    const Case cases[] = {
        {"255 stays literal", Body({{1, 5}, {255, 0}, {1, 5}}), 257, 0},
        {"256 is recorded", Body({{1, 5}, {256, 0}, {1, 5}}), 2, 1},
        {"trailing run", Body({{3, 5}, {400, 0}}), 3, 1},
        {"all zeros", Body({{5000, 0}}), 0, 1},
        {"short all zeros", Body({{10, 0}}), 10, 0},
        {"empty", {}, 0, 0},
        {"more than 64 runs", manyRuns, 70 + 6 * 256, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Packed p = PackAndUnpack(c.body);
        EXPECT_EQ(p.data->m_nPackageLength - kBlockHeaderSize, c.packed);
        int recorded = 0;
        while (recorded < kRunEntries && p.entry(recorded, 1) != 0)
            ++recorded;
        EXPECT_EQ(recorded, c.entries);
    }
}

TEST(Codec, TrailingAndAllZeroRunPositions) {
    Packed tail = PackAndUnpack(Body({{3, 5}, {400, 0}}), 1000);
    EXPECT_EQ(tail.entry(0, 0), 1000u + 516 + 3);  // end of packed body = trailer position
    Packed zeros = PackAndUnpack(Body({{5000, 0}}), 1000);
    EXPECT_EQ(zeros.entry(0, 0), 1516u);
    EXPECT_EQ(zeros.entry(0, 1), 5000u);
}

TEST(Codec, PackRefusesWhatDoesNotFit) {
    auto d = std::make_unique<CUpdateData>();
    for (uint32_t i = 0; i < kBufferSize; ++i)
        d->m_pFirmware[i] = static_cast<uint8_t>(i | 1);
    d->m_nFirmwareLength = kBufferSize;
    d->m_nFileSize = 4096;
    EXPECT_FALSE(d->PackFirmware());
    d->m_nFileSize = kBufferSize - 100;
    d->m_nFirmwareLength = 0;
    EXPECT_FALSE(d->PackFirmware());
}

}  // namespace
