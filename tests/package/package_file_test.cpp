// Reading and writing whole updater files, including files from another writer
// and hostile trailers.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "package/trailer.h"
#include "package/update_data.h"
#include "support/test_support.h"
#include "support/updater_builder.h"

using testsupport::DataPath;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::vector<uint8_t> Concat(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::vector<uint8_t> r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

std::unique_ptr<CUpdateData> Read(const std::string& path) {
    auto d = std::make_unique<CUpdateData>();
    d->ReadPackage(path);
    return d;
}

// Builds an updater from engine.bin and sample.prm with the given settings.
std::unique_ptr<CUpdateData> Generate(int64_t t) {
    auto d = std::make_unique<CUpdateData>();
    d->ReadPackage(DataPath("engine.bin"));
    EXPECT_EQ(d->m_nEngineSize, 4096u);
    EXPECT_FALSE(d->HasPackageData());
    EXPECT_EQ(0, d->LoadParameterFile(DataPath("sample.prm")));
    d->SetClock([t] { return t; });
    return d;
}

TEST(PackageFile, ReadsVectorA) {
    auto d = Read(DataPath("updater_a.bin"));
    EXPECT_TRUE(d->HasPackageData());
    EXPECT_FALSE(d->IsPackageEmpty());
    EXPECT_FALSE(d->IsPackageBroken());
    EXPECT_EQ(d->m_nPackageOffset, 4096u);
    EXPECT_EQ(d->m_nPackageLength, 342114u);
    EXPECT_EQ(d->m_strTargetProduct, "KVS-Q42R");
    EXPECT_EQ(d->m_strRevFilter, "1.0*");
    EXPECT_EQ(d->m_strNewRevision, "1.05");
    EXPECT_EQ(d->m_strNewMinorRev, "AB");
    EXPECT_EQ(d->m_strCustomer, "DELL");
    EXPECT_TRUE(d->m_bOnlyNewer);
    EXPECT_FALSE(d->m_bFilterFreeMinor);
    EXPECT_FALSE(d->m_bSameCustomer);
    EXPECT_EQ(d->m_strImageModel, "XY-12345");
    EXPECT_EQ(d->m_strMainSize, "04B000h");
    EXPECT_EQ(d->m_strCoreSize, "00A000h");
    EXPECT_EQ(d->m_byImageCustomer, 0);
    EXPECT_TRUE(d->m_bMinorRevHidden);  // file name does not show 1.05-AB
    const auto body = Concat(ReadAll(DataPath("main.bin")), ReadAll(DataPath("core.bin")));
    ASSERT_EQ(d->GetFirmwareLength(), body.size());
    EXPECT_EQ(0, std::memcmp(d->GetFirmware(), body.data(), body.size()));
}

TEST(PackageFile, ReadsVectorBWithImageRevisions) {
    auto d = Read(DataPath("updater_b.bin"));
    EXPECT_FALSE(d->IsPackageBroken());
    EXPECT_EQ(d->m_strTargetProduct, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(d->m_strRevFilter, "****");
    EXPECT_EQ(d->m_strNewRevision, "1.05");  // no trailer revision: the MAIN image's
    EXPECT_EQ(d->m_strNewMinorRev, "AB");
    EXPECT_EQ(d->m_strCustomer, "");
    EXPECT_TRUE(d->m_bFilterFreeMinor);
    EXPECT_TRUE(d->m_bSameCustomer);
    EXPECT_FALSE(d->m_bOnlyNewer);
    EXPECT_EQ(d->GetFirmwareLength(), 350208u);
}

TEST(PackageFile, WriterReproducesVectorsByteForByte) {
    TempDir dir;
    {
        auto d = Generate(0x1234);
        d->SetTargetProduct("KVS-Q42R");
        d->SetRevisionFilter("1.0*");
        d->m_bOnlyNewer = true;
        d->m_strCustomer = "DELL";
        ASSERT_EQ(0, d->WritePackage(dir.File("a.exe")));
        EXPECT_EQ(ReadAll(dir.File("a.exe")), ReadAll(DataPath("updater_a.bin")));
    }
    {
        auto d = Generate(30584);
        d->SetTargetProduct("ABCDEFGHIJKLMNOPQ");  // cut to 16
        d->SetRevisionFilter("****");
        d->m_strNewRevision.clear();
        d->m_strNewMinorRev.clear();
        d->m_bFilterFreeMinor = true;
        d->m_bSameCustomer = true;
        ASSERT_EQ(0, d->WritePackage(dir.File("b.exe")));
        EXPECT_EQ(ReadAll(dir.File("b.exe")), ReadAll(DataPath("updater_b.bin")));
    }
}

TEST(PackageFile, MinorRevisionShownByFileName) {
    TempDir dir;
    const auto bytes = ReadAll(DataPath("updater_a.bin"));
    const struct {
        const char* name;
        bool hidden;
    } cases[] = {{"UPD1.05-AB.exe", false},
                 {"upd_1.05_AB.exe", false},
                 {"upd1.05.exe", true},
                 {"upd1.05-ab.exe", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteAll(dir.File(c.name), bytes);
        EXPECT_EQ(Read(dir.File(c.name))->m_bMinorRevHidden, c.hidden);
    }
}

TEST(PackageFile, ModeTestAndDetectionLimits) {
    TempDir dir;
    std::vector<uint8_t> plain(kPackageModeSize, 0x90);
    WriteAll(dir.File("plain.exe"), plain);
    EXPECT_FALSE(Read(dir.File("plain.exe"))->HasPackageData());
    plain.push_back(0x90);
    WriteAll(dir.File("big.exe"), plain);
    auto big = Read(dir.File("big.exe"));
    EXPECT_TRUE(big->HasPackageData());
    EXPECT_TRUE(big->IsPackageEmpty());

    // Anything behind the trailer hides the package.
    auto updater = ReadAll(DataPath("updater_a.bin"));
    updater.push_back(0);
    WriteAll(dir.File("appended.exe"), updater);
    EXPECT_TRUE(Read(dir.File("appended.exe"))->IsPackageEmpty());

    // Past 4 MiB the true trailer is never seen.
    std::vector<uint8_t> huge(kBufferSize, 0x90);
    const auto pkg = ReadAll(DataPath("updater_a.bin"));
    huge.insert(huge.end(), pkg.begin(), pkg.end());
    WriteAll(dir.File("huge.exe"), huge);
    auto h = Read(dir.File("huge.exe"));
    EXPECT_TRUE(h->IsPackageEmpty());
    EXPECT_EQ(h->m_nEngineSize, kBufferSize);

    auto missing = Read(dir.File("nothing-here.exe"));
    EXPECT_EQ(missing->m_nEngineSize, 0u);
    EXPECT_FALSE(missing->HasPackageData());
}

TEST(PackageFile, WriteThenReadGivesTheSameBody) {
    TempDir dir;
    auto d = Generate(987654321);
    d->m_strCustomer = "HPDTOCPE";
    d->m_bHideCopyright = true;
    ASSERT_EQ(0, d->WritePackage(dir.File("rt.exe")));
    EXPECT_EQ(ReadAll(dir.File("rt.exe")).size(), 4096u + d->m_nPackageLength);
    auto r = Read(dir.File("rt.exe"));
    ASSERT_EQ(r->GetFirmwareLength(), d->GetFirmwareLength());
    EXPECT_EQ(0, std::memcmp(r->GetFirmware(), d->GetFirmware(), d->GetFirmwareLength()));
    EXPECT_EQ(r->m_strCustomer, "HPDTOCPE");
    EXPECT_TRUE(r->m_bHideCopyright);
    EXPECT_FALSE(r->IsPackageBroken());
}

TEST(PackageFile, WriteFailuresLeaveNothingHalfWritten) {
    TempDir dir;
    auto d = Generate(1);
    EXPECT_EQ(9, d->WritePackage(dir.File("no-such-dir") + "/x.exe"));

    // The target is a folder: it cannot be replaced and nothing is left behind.
    std::filesystem::create_directory(dir.File("taken.exe"));
    EXPECT_EQ(9, d->WritePackage(dir.File("taken.exe")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("taken.exe.partial")));

    // A second attempt writes exactly engine + 516 + K + 72 bytes, replacing an old file.
    WriteAll(dir.File("out.exe"), std::vector<uint8_t>(9000000 / 8, 1));
    ASSERT_EQ(0, d->WritePackage(dir.File("out.exe")));
    EXPECT_EQ(ReadAll(dir.File("out.exe")).size(), 4096u + d->m_nPackageLength);
    EXPECT_EQ(d->m_nFileSize, 4096u + d->m_nPackageLength);

    auto noEngine = std::make_unique<CUpdateData>();
    EXPECT_EQ(13, noEngine->WritePackage(dir.File("e.exe")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("e.exe")));
}

#ifndef _WIN32
TEST(PackageFile, WriteErrorAfterCreateKeepsTheOldFile) {
    // A file size limit below the updater's size: creating works, writing fails.
    TempDir dir;
    auto d = Generate(7);
    WriteAll(dir.File("keep.exe"), {1, 2, 3});
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const uint8_t r = d->WritePackage(dir.File("keep.exe"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);
    EXPECT_EQ(LOAD_OUTPUT_WRITE, r);
    EXPECT_EQ(ReadAll(dir.File("keep.exe")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir.path()),
                               std::filesystem::directory_iterator()));
}
#endif

TEST(PackageFile, OutputLargerThanTheBufferIsRefused) {
    TempDir dir;
    auto d = std::make_unique<CUpdateData>();
    d->ReadPackage(DataPath("engine.bin"));
    for (uint32_t i = 0; i < kBufferSize - 1000; ++i)
        d->m_pFirmware[i] = static_cast<uint8_t>(i | 1);
    d->m_nFirmwareLength = kBufferSize - 1000;
    EXPECT_EQ(LOAD_OUTPUT_TOO_LARGE, d->WritePackage(dir.File("big.exe")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("big.exe")));
    EXPECT_EQ(d->m_nFileSize, 4096u);
}

// Hostile trailers: the magic matches but the fields lie.
class HostileTrailer : public ::testing::Test {
protected:
    // Rewrites the trailer of updater_a.bin with the given offset and length.
    std::unique_ptr<CUpdateData> WithFields(uint32_t offset, uint32_t length,
                                            std::vector<uint8_t> file = {}) {
        if (file.empty())
            file = ReadAll(DataPath("updater_a.bin"));
        PackageTrailer t;
        t.packageOffset = offset;
        t.packageLength = length;
        t.filter = "****";
        EncodeTrailer(t, 0x4321, file.data() + file.size() - kTrailerSize);
        WriteAll(dir.File("h.exe"), file);
        return Read(dir.File("h.exe"));
    }
    TempDir dir;
};

TEST_F(HostileTrailer, BoundsAreRefused) {
    const uint32_t size = 346210;
    const struct {
        const char* name;
        uint32_t offset, length;
    } cases[] = {
        {"offset past the file", 0xFFFFFF00u, 342114},
        {"length past the file", 4096, 0x7FFFFFFFu},
        {"length short of the end", 4096, 342000},
        {"length below block + trailer", size - 100, 100},
        {"offset and length wrap", 0xFFFFFFFFu, size + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = WithFields(c.offset, c.length);
        EXPECT_TRUE(d->HasPackageData());
        EXPECT_FALSE(d->IsPackageEmpty());
        EXPECT_TRUE(d->IsPackageBroken());
        EXPECT_EQ(d->GetPackageFault(), PackageFault::Bounds);
        EXPECT_EQ(d->GetFirmwareLength(), 0u);
    }
}

TEST_F(HostileTrailer, RunTableOutsideThePackedBodyIsRefused) {
    // A tiny package: block of 516 + 4 literal bytes, run entries pointing anywhere.
    auto make = [&](uint32_t pos, uint32_t len) {
        std::vector<uint8_t> file(100, 0x90);
        std::vector<uint8_t> block(520, 0);
        WriteBE32(block.data() + 4, pos);
        WriteBE32(block.data() + 260, len);
        block[516] = block[517] = block[518] = block[519] = 7;
        CUpdateData::Scramble(block.data() + 2, 518, 0x55);
        block[0] = 0;
        block[1] = 0x55;
        file.insert(file.end(), block.begin(), block.end());
        file.resize(file.size() + kTrailerSize);
        return WithFields(100, 520 + kTrailerSize, file);
    };
    EXPECT_EQ(make(0, 0)->GetPackageFault(), PackageFault::ImageCheck);       // 4 bytes: too short
    EXPECT_EQ(make(99, 300)->GetPackageFault(), PackageFault::RunTable);      // before the body
    EXPECT_EQ(make(100000, 300)->GetPackageFault(), PackageFault::RunTable);  // past the trailer
    EXPECT_EQ(make(616, 0xFFFFFFF0u)->GetPackageFault(), PackageFault::RunTable);  // overfill
    auto d = make(618, kBufferSize);  // fills the buffer exactly plus 4 bytes: too much
    EXPECT_EQ(d->GetPackageFault(), PackageFault::RunTable);
    EXPECT_EQ(d->GetFirmwareLength(), 0u);
}

// A body whose images fail the updater's walk: the reader marks the package broken, and
// the writer refuses to write it.
TEST(PackageImages, ImageCheckFailuresMarkThePackageBroken) {
    TempDir dir;
    auto d = Generate(5);
    // Damage one code byte of the CORE image: its word sum fails.
    d->m_pFirmware[d->GetFirmwareLength() - 10] ^= 0x40;
    EXPECT_EQ(LOAD_UPDATER_CORE_BROKEN, d->WritePackage(dir.File("bad.exe")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("bad.exe")));
    testsupport::WriteUncheckedUpdater(*d, dir.File("bad.exe"));
    auto r = Read(dir.File("bad.exe"));
    EXPECT_TRUE(r->IsPackageBroken());
    EXPECT_EQ(r->GetPackageFault(), PackageFault::ImageCheck);
    EXPECT_EQ(r->m_byImageCheckResult, CHECK_CORE_BROKEN);

    // A code size that runs past the body, and one that wraps, are invalid.
    for (uint32_t size : {0x00100000u, 0xFFFFFFFFu}) {
        auto g = Generate(5);
        WriteBE32(g->m_pFirmware + 68, size);
        const std::string out = dir.File(std::to_string(size) + ".exe");
        EXPECT_EQ(LOAD_UPDATER_MAIN_INVALID, g->WritePackage(out));
        EXPECT_FALSE(std::filesystem::exists(out));
        testsupport::WriteUncheckedUpdater(*g, out);
        auto s = Read(out);
        EXPECT_EQ(s->m_byImageCheckResult, CHECK_MAIN_INVALID) << size;
    }
}

}  // namespace
