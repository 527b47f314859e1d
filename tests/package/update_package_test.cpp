// The package and its images as values: ParsePackage, InspectImage and the image walk.
#include "package/update_package.h"

#include <gtest/gtest.h>

#include <vector>

#include "package/sample_images.h"
#include "support/test_support.h"
#include "support/updater_builder.h"

using testsupport::TempDir;

namespace {

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

SampleImageSpec Wanted(bool main) {
    SampleImageSpec s;
    s.main = main;
    s.model = main ? "KVS-Q42R" : "KVS-CORE";
    s.minor = "AB";
    s.customer = 0x22;
    s.codeSize = main ? 70000 : 3000;
    return s;
}

}  // namespace

TEST(ParsePackage, ReadsAnUpdaterAsAValue) {
    TempDir dir;
    testsupport::UpdaterSpec wanted;
    wanted.minor = "AB";
    wanted.customer = "LENOVO";
    const std::vector<uint8_t> file = testsupport::ReadAll(BuildUpdater(dir.path(), wanted));
    const std::vector<uint8_t> copy = file;

    const UpdatePackage p = ParsePackage(file);
    EXPECT_EQ(file, copy);  // the bytes read are left as they are
    ASSERT_TRUE(p.HasPackage());
    EXPECT_EQ(PackageFault::None, p.fault);
    EXPECT_EQ(file.size(), p.fileSize);
    EXPECT_EQ(file.size(), p.usedSize);
    EXPECT_EQ("KVS-Q42R", p.trailer.product);
    EXPECT_EQ("1.0*", p.trailer.filter);
    EXPECT_EQ(PKGF_CUST_LENOVO, p.trailer.flags & PKGF_CUST_LENOVO);
    EXPECT_EQ(p.trailer.packageOffset + p.trailer.packageLength, p.usedSize);
    EXPECT_FALSE(p.runs.empty());
    ASSERT_EQ(2u, p.images.size());
    EXPECT_TRUE(p.images[0].main);
    EXPECT_EQ("1.05", p.images[0].revision);
    EXPECT_EQ("AB", p.images[0].minor);
    EXPECT_FALSE(p.images[1].main);
    EXPECT_EQ(p.images[0].length, p.images[1].offset);
    EXPECT_EQ(p.firmware.size(), p.images[1].offset + p.images[1].length);

    // A package whose last byte is damaged has no trailer; one cut short neither.
    std::vector<uint8_t> damaged = file;
    damaged.back() ^= 0x01;
    EXPECT_FALSE(ParsePackage(damaged).trailerFound);
    EXPECT_FALSE(ParsePackage(std::span(file).first(file.size() - 1)).HasPackage());
    // A body byte changed in the scrambled block: the image it falls in fails its check.
    std::vector<uint8_t> broken = file;
    broken[p.trailer.packageOffset + kBlockHeaderSize + 5000] ^= 0x10;
    const UpdatePackage b = ParsePackage(broken);
    EXPECT_EQ(PackageFault::ImageCheck, b.fault);
    EXPECT_EQ(CHECK_MAIN_BROKEN, b.imageCheck);
    EXPECT_EQ(CHECK_MAIN_BROKEN, b.images.back().result);
}

TEST(InspectImage, TellsHowFarTheCheckGot) {
    const std::vector<uint8_t> main = MakeSampleImage(Wanted(true));
    std::vector<uint8_t> badSum = main;
    badSum[2000] ^= 0x01;
    std::vector<uint8_t> longer = main;
    longer.push_back(0);  // the code size no longer matches, the sum still does
    const struct Case {
        const char* name;
        const std::vector<uint8_t>& image;
        bool main;
        CheckResult result;
        bool model, revision;
    } cases[] = {
        {"valid MAIN", main, true, CHECK_OK, true, true},
        {"valid image checked as CORE", main, false, CHECK_CORE_INVALID, true, false},
        {"word sum wrong", badSum, true, CHECK_MAIN_BROKEN, false, false},
        {"code size wrong", longer, true, CHECK_MAIN_INVALID, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ImageFacts f = InspectImage(c.image, c.main);
        EXPECT_EQ(c.result, f.result);
        EXPECT_EQ(c.model, f.modelRead);
        EXPECT_EQ(c.model ? "KVS-Q42R" : "", f.model);
        EXPECT_EQ(c.revision, f.revisionRead);
        EXPECT_EQ(c.revision ? "AB" : "", f.minor);
        EXPECT_EQ(c.revision, f.customerRead);
        EXPECT_EQ(c.result == CHECK_OK ? SizeText(70000) : "", f.sizeText);
    }
    EXPECT_EQ(CHECK_CORE_INVALID, InspectImage(std::span(main).first(1023), false).result);
}

TEST(LayOutImages, WalksTheCodeSizesOfTheHeaders) {
    const std::vector<uint8_t> main = MakeSampleImage(Wanted(true));
    const std::vector<uint8_t> core = MakeSampleImage(Wanted(false));
    const std::vector<uint8_t> both = Concat(main, core);
    std::vector<uint8_t> runsPast = both;
    runsPast.pop_back();
    using Fit = ImageSlot::Fit;
    const struct Case {
        const char* name;
        std::vector<uint8_t> body;
        std::vector<Fit> fits;
    } cases[] = {
        {"empty", {}, {}},
        {"MAIN and CORE", both, {Fit::Whole, Fit::Whole}},
        {"CORE one byte short", runsPast, {Fit::Whole, Fit::RunsPast}},
        {"header cut", Concat(main, std::vector<uint8_t>(1023, 0)), {Fit::Whole, Fit::HeaderCut}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<ImageSlot> slots = LayOutImages(c.body);
        ASSERT_EQ(c.fits.size(), slots.size());
        for (size_t i = 0; i < slots.size(); ++i)
            EXPECT_EQ(c.fits[i], slots[i].fit) << i;
        if (!slots.empty()) {
            EXPECT_TRUE(slots[0].main);
            EXPECT_EQ(main.size(), slots[0].length);
            EXPECT_EQ(c.body.size(), slots.back().offset + slots.back().length);
        }
    }
    // The images it checks stop at the first failure.
    const std::vector<ImageFacts> facts = InspectImages(runsPast);
    ASSERT_EQ(2u, facts.size());
    EXPECT_EQ(CHECK_OK, facts[0].result);
    EXPECT_EQ(CHECK_CORE_INVALID, facts[1].result);
}
