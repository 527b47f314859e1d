// Program image checks and the parameter-file loader.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "package/load_messages.h"
#include "package/sample_images.h"
#include "package/trailer.h"
#include "package/update_data.h"
#include "support/test_support.h"

using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// Re-balances the word sum after an edit (header word 1020 is free).
void FixSum(std::vector<uint8_t>& image) {
    image[1020] = image[1021] = 0;
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < image.size(); i += 2)
        sum += (image[i] << 8) | image[i + 1];
    if (image.size() & 1)
        sum += image.back() << 8;
    const auto fix = static_cast<uint16_t>(0xFFFF - (sum & 0xFFFF));
    image[1020] = static_cast<uint8_t>(fix >> 8);
    image[1021] = static_cast<uint8_t>(fix);
}

uint8_t Check(CUpdateData& d, const std::vector<uint8_t>& image, bool main) {
    std::memcpy(d.m_pFirmware, image.data(), image.size());
    d.m_pFirmware[image.size()] = 0;
    return d.CheckProgramImage(0, static_cast<uint32_t>(image.size()), main);
}

SampleImageSpec MainSpec(uint32_t codeSize = 64 * 1024) {
    SampleImageSpec s;
    s.model = "KW31QR58";
    s.revision = "2.10";
    s.minor = "C7";
    s.customer = 0x42;
    s.codeSize = codeSize;
    return s;
}

TEST(ImageCheck, ResultsInOrder) {
    auto d = std::make_unique<CUpdateData>();
    auto main = MakeSampleImage(MainSpec());
    SampleImageSpec coreSpec;
    coreSpec.main = false;
    coreSpec.codeSize = 0;
    auto core = MakeSampleImage(coreSpec);

    EXPECT_EQ(CHECK_OK, Check(*d, main, true));
    EXPECT_EQ(d->m_strNewRevision, "2.10");
    EXPECT_EQ(d->m_strNewMinorRev, "C7");
    EXPECT_EQ(d->m_byImageCustomer, 0x42);
    EXPECT_EQ(d->m_strMainSize, "010000h");
    EXPECT_EQ(CHECK_OK, Check(*d, core, false));
    EXPECT_EQ(d->m_strCoreSize, "00A000h");

    // 1023 bytes: invalid before any sum.
    std::vector<uint8_t> shortImage(main.begin(), main.begin() + 1023);
    EXPECT_EQ(CHECK_MAIN_INVALID, Check(*d, shortImage, true));
    EXPECT_EQ(CHECK_CORE_INVALID, Check(*d, shortImage, false));

    // Sum wrong.
    auto broken = main;
    broken[5000] ^= 1;
    EXPECT_EQ(CHECK_MAIN_BROKEN, Check(*d, broken, true));
    EXPECT_EQ(CHECK_CORE_BROKEN, Check(*d, broken, false));

    // Right sum, CORE tag where MAIN was expected: model already taken.
    d->m_strImageModel = "old";
    EXPECT_EQ(CHECK_MAIN_INVALID, Check(*d, core, true));
    EXPECT_EQ(d->m_strImageModel, "XY-12345");

    // Code size disagrees with the length: revisions are taken anyway.
    auto sized = main;
    WriteBE32(sized.data() + 68, 1000);
    FixSum(sized);
    d->m_strNewRevision.clear();
    EXPECT_EQ(CHECK_MAIN_INVALID, Check(*d, sized, true));
    EXPECT_EQ(d->m_strNewRevision, "2.10");
    EXPECT_EQ(d->m_strNewMinorRev, "C7");
}

TEST(ImageCheck, CoreOfHeaderOnlyAndOddLength) {
    auto d = std::make_unique<CUpdateData>();
    SampleImageSpec s;
    s.main = false;
    s.codeSize = 0;
    auto image = MakeSampleImage(s);
    image.resize(1024);
    WriteBE32(image.data() + 68, 0);
    FixSum(image);
    EXPECT_EQ(CHECK_OK, Check(*d, image, false));
    EXPECT_EQ(d->m_strCoreSize, "000000h");

    s.codeSize = 2001;  // odd: the last byte pairs with a zero
    auto odd = MakeSampleImage(s);
    EXPECT_EQ(CHECK_OK, Check(*d, odd, false));
}

TEST(ImageCheck, InfoBlockPlacement) {
    auto d = std::make_unique<CUpdateData>();
    auto image = MakeSampleImage(MainSpec());
    // Without "ARMS" the block is at 1248: minor at 1253/1254, customer byte untouched.
    std::memset(image.data() + 1248, 0, 32);
    image[1252] = 1;
    image[1253] = 'Z';
    image[1254] = '9';
    image[1279] = 0x77;
    FixSum(image);
    d->m_byImageCustomer = 5;
    EXPECT_EQ(CHECK_OK, Check(*d, image, true));
    EXPECT_EQ(d->m_strNewMinorRev, "Z9");
    EXPECT_EQ(d->m_byImageCustomer, 5);

    image[1252] = 0;  // presence byte clear: no minor revision
    FixSum(image);
    EXPECT_EQ(CHECK_OK, Check(*d, image, true));
    EXPECT_EQ(d->m_strNewMinorRev, "");
}

TEST(ImageCheck, SizeText) {
    EXPECT_EQ(CUpdateData::SizeText(126976), "01F000h");
    EXPECT_EQ(CUpdateData::SizeText(0x1234567), "1234567h");
}

class ParameterFile : public ::testing::Test {
protected:
    void SetUp() override {
        mainImage = MakeSampleImage(MainSpec(300 * 1024));
        SampleImageSpec c;
        c.main = false;
        c.model = "CORE-MDL";
        coreImage = MakeSampleImage(c);
        WriteAll(dir.File("m.bin"), mainImage);
        WriteAll(dir.File("c.bin"), coreImage);
    }
    uint8_t Load(const std::string& text) {
        WriteAll(dir.File("p.prm"), std::vector<uint8_t>(text.begin(), text.end()));
        return d->LoadParameterFile(dir.File("p.prm"));
    }
    TempDir dir;
    std::unique_ptr<CUpdateData> d = std::make_unique<CUpdateData>();
    std::vector<uint8_t> mainImage, coreImage;
};

TEST_F(ParameterFile, LoadsMainThenCore) {
    ASSERT_EQ(0, Load("c.bin 40960\r\nm.bin 308224\r\n"));
    EXPECT_EQ(d->m_strMainFile, "m.bin");
    EXPECT_EQ(d->m_strCoreFile, "c.bin");
    EXPECT_EQ(d->GetFirmwareLength(), mainImage.size() + coreImage.size());
    EXPECT_EQ(0, std::memcmp(d->GetFirmware(), mainImage.data(), mainImage.size()));
    EXPECT_EQ(d->m_strImageModel, "CORE-MDL");  // the later image's model
    EXPECT_EQ(d->m_strNewRevision, "2.10");
}

TEST_F(ParameterFile, ResultCodes) {
    const struct {
        const char* name;
        std::string text;
        uint8_t code;
    } cases[] = {
        {"empty", "", 2},
        {"100 bytes", std::string(100, 'x'), 2},
        {"99 bytes parse", "c.bin 1" + std::string(92, ' '), 0},
        {"main missing", "nope.bin 300000\n", 3},
        {"core missing", "nope.bin 262144\n", 6},
        {"main is a core image", "c.bin 262145\n", 4},
        {"core is a main image", "m.bin 10\n", 7},
        {"name only", "c.bin", 0},
        {"names nothing", " 1\n 2\n", 0},
        {"line without space runs on", "m.bin\nc.bin 5\n", 6},
        {"third line ignored", "c.bin 5\nm.bin 300000\nzzz 1\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.code, Load(c.text));
    }
    EXPECT_EQ(1, d->LoadParameterFile(dir.File("absent.prm")));
}

TEST_F(ParameterFile, KindsAndReplacement) {
    // Two Main lines: only the second is loaded, no Core.
    d->m_strCoreFile.clear();
    ASSERT_EQ(0, Load("c.bin 300000\nm.bin 300000\n"));
    EXPECT_EQ(d->m_strMainFile, "m.bin");
    EXPECT_EQ(d->m_strCoreFile, "");
    EXPECT_EQ(d->GetFirmwareLength(), mainImage.size());

    // Only a Core file afterwards: data holds just it, Main name and size stay.
    ASSERT_EQ(0, Load("c.bin 40960\n"));
    EXPECT_EQ(d->GetFirmwareLength(), coreImage.size());
    EXPECT_EQ(0, std::memcmp(d->GetFirmware(), coreImage.data(), coreImage.size()));
    EXPECT_EQ(d->m_strMainFile, "m.bin");
    EXPECT_EQ(d->m_strMainSize, "04B000h");
}

TEST_F(ParameterFile, FailedMainStopsBeforeCore) {
    auto bad = mainImage;
    bad[3000] ^= 0xFF;
    WriteAll(dir.File("m.bin"), bad);
    EXPECT_EQ(5, Load("m.bin 308224\nc.bin 40960\n"));
    EXPECT_EQ(d->m_strCoreFile, "");
}

TEST_F(ParameterFile, OversizedProgramFilesAreCut) {
    // The first 4 MiB sum right, but the code size counts the bytes past them.
    std::vector<uint8_t> big = mainImage;
    big.resize(kBufferSize, 0);
    WriteBE32(big.data() + 68, kBufferSize + 10 - 1024);
    FixSum(big);
    big.resize(kBufferSize + 10, 0x11);
    WriteAll(dir.File("big.bin"), big);
    EXPECT_EQ(4, Load("big.bin 5000000\n"));
    EXPECT_EQ(d->GetFirmwareLength(), kBufferSize);
    std::vector<uint8_t> almost = mainImage;
    almost.resize(kBufferSize - 100, 0);
    WriteBE32(almost.data() + 68, kBufferSize - 100 - 1024);
    FixSum(almost);
    WriteAll(dir.File("almost.bin"), almost);
    EXPECT_EQ(7, Load("almost.bin 5000000\nc.bin 40960\n"));
    EXPECT_EQ(d->GetFirmwareLength(), kBufferSize);
}

TEST(LoadMessages, TextsAndCaptions) {
    EXPECT_STREQ(LoadResultMessage(LoadResult{1}).text, "Can not open Parameter file.");
    EXPECT_STREQ(LoadResultMessage(LoadResult{2}).caption, "File data error");
    EXPECT_STREQ(LoadResultMessage(LoadResult{8}).text, "Core program file may be broken.");
    EXPECT_STREQ(LoadResultMessage(LoadResult{13}).text, "Can not open Updater engine.");
    EXPECT_STREQ(LoadResultMessage(LoadResult{11}).text, "Unknown error was occured.");
    EXPECT_STREQ(LoadResultMessage(LoadResult{11}).caption, "File open error");
}

}  // namespace
