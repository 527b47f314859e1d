// Signed updaters: the package in front of a certificate table, hostile security
// directories, and generation from a signed engine.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "package/pe_signature.h"
#include "package/update_data.h"
#include "support/pe_files.h"
#include "support/test_support.h"

using testsupport::AppendSignature;
using testsupport::DataPath;
using testsupport::PeEngine;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

constexpr int64_t kTime = 1234567890;

// An updater generated from engine (a file in dir), as maintenance mode writes it.
std::vector<uint8_t> Generate(const TempDir& dir, const std::vector<uint8_t>& engine) {
    WriteAll(dir.File("engine.exe"), engine);
    auto d = std::make_unique<CUpdateData>();
    d->ReadPackage(dir.File("engine.exe"));
    EXPECT_FALSE(d->HasPackageData());
    EXPECT_EQ(0, d->LoadParameterFile(DataPath("sample.prm")));
    d->SetClock([] { return kTime; });
    EXPECT_EQ(0, d->WritePackage(dir.File("out.exe")));
    return ReadAll(dir.File("out.exe"));
}

std::unique_ptr<CUpdateData> Read(const TempDir& dir, const std::vector<uint8_t>& file) {
    WriteAll(dir.File("read.exe"), file);
    auto d = std::make_unique<CUpdateData>();
    d->ReadPackage(dir.File("read.exe"));
    return d;
}

TEST(SignedPackage, FoundInFrontOfTheCertificateTableWhateverTheAlignment) {
    TempDir dir;
    // Engine sizes 4096 down to 4089 end the package at every remainder modulo 8, so the
    // signer puts 0 to 7 zero bytes in front of its table; PE32 and PE32+ headers.
    for (const uint16_t magic : {uint16_t{0x20B}, uint16_t{0x10B}}) {
        for (uint32_t cut = 0; cut < 8; ++cut) {
            SCOPED_TRACE("magic " + std::to_string(magic) + ", engine cut by " +
                         std::to_string(cut));
            const std::vector<uint8_t> unsigned_ = Generate(dir, PeEngine(4096 - cut, magic));
            std::vector<uint8_t> signed_ = unsigned_;
            AppendSignature(signed_);
            ASSERT_EQ(testsupport::SecurityOffset(signed_) - unsigned_.size(),
                      (8 - unsigned_.size() % 8) % 8);

            const auto plain = Read(dir, unsigned_);
            const auto d = Read(dir, signed_);
            CertificateTable table;
            EXPECT_FALSE(plain->GetSignature(&table));
            ASSERT_TRUE(d->GetSignature(&table));
            EXPECT_EQ(table.offset, testsupport::SecurityOffset(signed_));
            EXPECT_EQ(table.size, 48u);
            EXPECT_FALSE(d->IsPackageEmpty());
            EXPECT_FALSE(d->IsPackageBroken());
            EXPECT_EQ(d->m_nEngineSize, signed_.size());
            EXPECT_EQ(d->m_nFileSize, unsigned_.size());
            EXPECT_EQ(d->m_nPackageOffset, plain->m_nPackageOffset);
            EXPECT_EQ(d->m_nPackageLength, plain->m_nPackageLength);
            EXPECT_EQ(d->m_strTargetProduct, plain->m_strTargetProduct);
            EXPECT_EQ(d->m_strNewRevision, plain->m_strNewRevision);
            ASSERT_EQ(d->GetFirmwareLength(), plain->GetFirmwareLength());
            EXPECT_EQ(
                0, std::memcmp(d->GetFirmware(), plain->GetFirmware(), plain->GetFirmwareLength()));
        }
    }
}

TEST(SignedPackage, UnsignedFilesAreReadAsTheyStand) {
    TempDir dir;
    // A PE updater without signature, and one whose entry is set but whose last 72 bytes
    // are its trailer: both end at the end of the file.
    std::vector<uint8_t> file = Generate(dir, PeEngine(4093));
    const auto d = Read(dir, file);
    CertificateTable table;
    EXPECT_FALSE(d->GetSignature(&table));
    EXPECT_EQ(d->m_nFileSize, file.size());
    EXPECT_FALSE(d->IsPackageBroken());

    // Anything appended behind a signed file's table loses the package, as behind a trailer.
    AppendSignature(file);
    file.push_back(0);
    const auto appended = Read(dir, file);
    EXPECT_TRUE(appended->IsPackageEmpty());
    EXPECT_EQ(appended->m_nFileSize, file.size());
}

TEST(SignedPackage, HostileSecurityDirectoriesFindNoPackage) {
    using testsupport::kPeHeaderOffset;
    using testsupport::kPeSecurityEntry32Plus;
    auto put32 = [](std::vector<uint8_t>& f, uint32_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            f[at + static_cast<uint32_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> spoil;
    } cases[] = {
        {"header offset past the end",
         [&](std::vector<uint8_t>& f) { put32(f, 0x3C, 0xFFFFFFF0); }},
        {"header offset at the last bytes",
         [&](std::vector<uint8_t>& f) { put32(f, 0x3C, static_cast<uint32_t>(f.size() - 4)); }},
        {"no PE signature", [&](std::vector<uint8_t>& f) { f[kPeHeaderOffset] = 'X'; }},
        {"unknown optional header", [&](std::vector<uint8_t>& f) { f[kPeHeaderOffset + 24] = 7; }},
        {"four directories only",
         [&](std::vector<uint8_t>& f) { put32(f, kPeHeaderOffset + 24 + 108, 4); }},
        {"optional header too short for the entry",
         [&](std::vector<uint8_t>& f) { f[kPeHeaderOffset + 20] = 100; }},
        {"table past the end",
         [&](std::vector<uint8_t>& f) { put32(f, kPeSecurityEntry32Plus, 0xFFFFFF00); }},
        {"table length wrapping around",
         [&](std::vector<uint8_t>& f) { put32(f, kPeSecurityEntry32Plus + 4, 0xFFFFFFF8); }},
        {"table ending before the end",
         [&](std::vector<uint8_t>& f) {
             put32(f, kPeSecurityEntry32Plus + 4, testsupport::SecuritySize(f) - 1);
         }},
        {"table starting in the header",
         [&](std::vector<uint8_t>& f) {
             put32(f, kPeSecurityEntry32Plus, 16);
             put32(f, kPeSecurityEntry32Plus + 4, static_cast<uint32_t>(f.size() - 16));
         }},
        {"non-zero byte in the alignment",
         [&](std::vector<uint8_t>& f) { f[testsupport::SecurityOffset(f) - 1] = 1; }},
    };
    TempDir dir;
    std::vector<uint8_t> good = Generate(dir, PeEngine(4093));  // 3 bytes of alignment
    AppendSignature(good);
    ASSERT_FALSE(Read(dir, good)->IsPackageEmpty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> file = good;
        c.spoil(file);
        const auto d = Read(dir, file);
        EXPECT_TRUE(d->IsPackageEmpty());
        EXPECT_EQ(d->m_nFileSize, file.size());
        EXPECT_FALSE(d->HasPackageData());
    }
}

TEST(SignedPackage, GeneratingFromASignedEngineDropsItsSignature) {
    TempDir dir;
    // An engine that needs no alignment: the signed one gives the same updater byte for byte.
    const std::vector<uint8_t> engine = PeEngine(4096);
    std::vector<uint8_t> signedEngine = engine;
    AppendSignature(signedEngine, 1456);
    EXPECT_EQ(Generate(dir, signedEngine), Generate(dir, engine));

    // With alignment the zero bytes stay in the engine; the entry is cleared.
    const std::vector<uint8_t> odd = PeEngine(4093);
    signedEngine = odd;
    AppendSignature(signedEngine);
    const std::vector<uint8_t> out = Generate(dir, signedEngine);
    EXPECT_EQ(0u, testsupport::SecurityOffset(out));
    EXPECT_EQ(0u, testsupport::SecuritySize(out));
    std::vector<uint8_t> expectedEngine = odd;
    expectedEngine.resize(4096, 0);
    EXPECT_TRUE(std::equal(expectedEngine.begin(), expectedEngine.end(), out.begin()));
    const auto d = Read(dir, out);
    CertificateTable table;
    EXPECT_FALSE(d->GetSignature(&table));
    EXPECT_EQ(d->m_nPackageOffset, 4096u);
    EXPECT_FALSE(d->IsPackageBroken());

    // Signed again, it reads like any signed updater.
    std::vector<uint8_t> resigned = out;
    AppendSignature(resigned);
    EXPECT_EQ(Read(dir, resigned)->m_nFileSize, out.size());
}

TEST(SignedPackage, StripLeavesOtherFilesAlone) {
    // Not a PE image, and a PE image without a signature: nothing changes.
    std::vector<uint8_t> file = ReadAll(DataPath("engine.bin"));
    auto size = static_cast<uint32_t>(file.size());
    EXPECT_FALSE(StripCertificateTable(file.data(), &size));
    EXPECT_EQ(size, file.size());
    file = PeEngine(4096);
    const std::vector<uint8_t> before = file;
    EXPECT_FALSE(StripCertificateTable(file.data(), &size));
    EXPECT_EQ(file, before);
}

}  // namespace
