// The maintenance dialog over the headless window: loading, the product list and the
// output name, the filter, options and customer of Generate, the written updater read
// back, the automatic run and the drive list file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>

#include "app/command_option.h"
#include "app/varnel_app.h"
#include "base/path_rules.h"
#include "package/load_messages.h"
#include "package/sample_images.h"
#include "package/trailer.h"
#include "package/update_data.h"
#include "support/fake_services.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "ui/mainte_dlg.h"

namespace {

using testsupport::DataPath;
using testsupport::FakeServices;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;
using Step = CHeadlessWindow::Step;

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Options of a command line: the parameter file (the plain argument) and switches. The
// path is set directly: a Linux absolute path would read as a switch.
CCommandOption Options(const std::string& prm, const std::vector<std::string>& switches) {
    CCommandOption option;
    ParseCommandItems(option, switches);
    option.m_strFilePath = prm;
    return option;
}

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// The trailer of a written updater.
PackageTrailer TrailerOf(const std::string& path) {
    const std::vector<uint8_t> file = ReadAll(path);
    PackageTrailer trailer;
    EXPECT_GE(file.size(), kTrailerSize);
    if (file.size() >= kTrailerSize) {
        EXPECT_TRUE(DecodeTrailer(file.data() + file.size() - kTrailerSize, &trailer));
    }
    return trailer;
}

class MainteDlgTest : public ::testing::Test {
protected:
    MainteDlgTest() : dlg(services) {
        data.ReadPackage(DataPath("engine.bin"));
        data.SetClock([] { return int64_t{1700000000}; });
        dlg.m_pUpdateData = &data;
    }

    // Sample program files and sample.prm in folder (the test folder by default).
    std::string MakeSamples(const SampleImageSpec& mainSpec = SampleImageSpec(),
                            const std::string& folder = std::string()) {
        const std::string where = folder.empty() ? dir.path() : folder;
        SampleImageSpec coreSpec;
        coreSpec.main = false;
        std::string error;
        EXPECT_TRUE(WriteSampleSet(where, mainSpec, coreSpec, &error)) << error;
        return where + kPathSeparator + "sample.prm";
    }

    // Sample program files in a new folder of the test folder, the Core image with the
    // Main image's model (the later image decides the model); returns the folder.
    std::string SamplesInNewFolder(const std::string& name, const SampleImageSpec& mainSpec) {
        const std::string folder = dir.File(name);
        std::filesystem::create_directory(folder);
        SampleImageSpec coreSpec;
        coreSpec.main = false;
        coreSpec.model = mainSpec.model;
        EXPECT_TRUE(WriteSampleSet(folder, mainSpec, coreSpec, nullptr));
        return folder;
    }

    // Runs d, started with the folder's sample.prm and the switches, with one step.
    void RunLoaded(CMainteDlg& d, CHeadlessWindowFactory& f, const std::string& folder,
                   const std::vector<std::string>& switches, Step step) {
        d.m_pUpdateData = &data;
        ApplyMainteOptions(d, Options(folder + kPathSeparator + "sample.prm", switches),
                           dir.path());
        f.scripts[IDD_MAINTE] = {std::move(step)};
        d.DoModal(f);
    }

    // Hands the dialog a command line as start-up does.
    void Start(const std::string& prm, std::initializer_list<std::string> switches = {}) {
        ApplyMainteOptions(dlg, Options(prm, switches), dir.path());
    }

    int Run(std::initializer_list<Step> steps = {}) {
        factory.scripts[IDD_MAINTE] = std::deque<Step>(steps);
        return dlg.DoModal(factory);
    }

    CHeadlessWindow& W() { return *factory.Find(IDD_MAINTE); }

    // Output path in the test folder.
    std::string Out(const std::string& name) const { return dir.File(name); }

    TempDir dir;
    FakeServices services;
    CUpdateData data;
    CHeadlessWindowFactory factory;
    CMainteDlg dlg;
};

TEST_F(MainteDlgTest, StartWithParameterFileLoadsAndShowsTheResult) {
    SampleImageSpec mainSpec;
    mainSpec.minor = "AB";
    const std::string prm = MakeSamples(mainSpec);
    Start(prm);
    EXPECT_EQ(kIdCancel, Run({[&](CHeadlessWindow& w) {
                  EXPECT_EQ(kMainteCaption, w.title);
                  EXPECT_TRUE(w.acceptsFiles);
                  EXPECT_EQ(IDC_GENERATE, w.defaultButton);
                  EXPECT_EQ("main.bin", w.Text(IDC_MAIN_NAME));
                  EXPECT_EQ("04B000h", w.Text(IDC_MAIN_SIZE));
                  EXPECT_EQ("core.bin", w.Text(IDC_CORE_NAME));
                  EXPECT_EQ("00A000h", w.Text(IDC_CORE_SIZE));
                  EXPECT_EQ("1.05-AB", w.Text(IDC_INQUIRY_REV));
                  EXPECT_EQ(kStatusLoadOk, w.Text(IDC_MAINTE_STATUS));
                  EXPECT_EQ(Out(std::string("123451.05-AB") + kUpdaterSuffix),
                            w.Text(IDC_OUTPUT_FILE));
                  EXPECT_EQ(std::vector<std::string>{"XY-12345"}, w.Entries(IDC_PRODUCT_LIST));
                  EXPECT_EQ(0, w.lists[IDC_PRODUCT_LIST].selection);
                  // Customer table without its end marker; no cn= selects the empty entry.
                  EXPECT_EQ((std::vector<std::string>{"", "FUJITSU1", "DELL", "HPBPC", "HPCPC",
                                                      "HPDTOCPE", "HPDTOENG", "LENOVO"}),
                            w.Entries(IDC_CUSTOMER_LIST));
                  EXPECT_EQ(0, w.lists[IDC_CUSTOMER_LIST].selection);
                  for (int box = 0; box < 4; ++box) {
                      const std::vector<std::string>& e = w.Entries(IDC_FILTER_1 + box);
                      ASSERT_EQ(38u, e.size());
                      EXPECT_EQ("*", e[0]);
                      EXPECT_EQ("=", e[1]);
                      EXPECT_EQ("A", e[2]);
                      EXPECT_EQ("Z", e[27]);
                      EXPECT_EQ("0", e[28]);
                      EXPECT_EQ("9", e[37]);
                  }
              }}));
    EXPECT_TRUE(W().everShown);
    EXPECT_TRUE(W().messageBoxes.empty());
    EXPECT_TRUE(dlg.m_bLoaded);
    EXPECT_EQ(dir.path(), dlg.m_strParamDir);
    ASSERT_FALSE(services.directories.empty());
    EXPECT_EQ(dir.path(), services.directories.back());
    EXPECT_EQ("XY-12345", data.m_strTargetProduct);
}

TEST_F(MainteDlgTest, WithoutParameterFileNothingIsLoaded) {
    Start("", {"/a", "/rf=AB=9"});
    EXPECT_EQ(kIdCancel, Run({[&](CHeadlessWindow& w) {
                  EXPECT_EQ(IDC_LOAD, w.defaultButton);
                  EXPECT_EQ("", w.Text(IDC_MAINTE_STATUS));
                  // rf= presets the four filter boxes.
                  EXPECT_EQ("A", w.Text(IDC_FILTER_1));
                  EXPECT_EQ("B", w.Text(IDC_FILTER_1 + 1));
                  EXPECT_EQ("=", w.Text(IDC_FILTER_1 + 2));
                  EXPECT_EQ("9", w.Text(IDC_FILTER_1 + 3));
                  w.Click(IDC_GENERATE);
              }}));
    ASSERT_EQ(1u, W().messageBoxes.size());
    EXPECT_EQ(kMustLoadText, W().messageBoxes[0].text);
    EXPECT_EQ(kGenerationErrorCaption, W().messageBoxes[0].caption);
    EXPECT_EQ(kMbOk | kMbIconError, W().messageBoxes[0].style);
    EXPECT_EQ("", dlg.m_strStatus);  // the refusal leaves the status line alone
    EXPECT_EQ(0u, data.m_nPackageLength);
}

// Every load failure: its message box, "Load NG", and Generate refused afterwards, also
// after an earlier good load.
TEST_F(MainteDlgTest, LoadFailuresShowTheirMessageAndDisableGenerate) {
    struct Case {
        uint8_t code;
        std::function<void(const std::string& folder)> spoil;
        const char* text;
        const char* caption;
    };
    const auto sep = std::string(1, kPathSeparator);
    const Case cases[] = {
        {1, [&](const std::string& f) { std::filesystem::remove(f + sep + "sample.prm"); },
         "Can not open Parameter file.", "File open error"},
        {2, [&](const std::string& f) { WriteAll(f + sep + "sample.prm", {}); },
         "Invalid data in Parameter file.", "File data error"},
        {3,
         [&](const std::string& f) {
             WriteAll(f + sep + "sample.prm", Bytes("nomain.bin 400000\r\ncore.bin 100\r\n"));
         },
         "Can not open Main program file.", "File open error"},
        {4,
         [&](const std::string& f) {
             std::vector<uint8_t> m = ReadAll(f + sep + "main.bin");
             m.resize(500);
             WriteAll(f + sep + "main.bin", m);
         },
         "Invalid data in Main program file.", "File data error"},
        {5,
         [&](const std::string& f) {
             std::vector<uint8_t> m = ReadAll(f + sep + "main.bin");
             m[5000] ^= 0x40;
             WriteAll(f + sep + "main.bin", m);
         },
         "Main program file may be broken.", "File data error"},
        {6,
         [&](const std::string& f) {
             WriteAll(f + sep + "sample.prm", Bytes("main.bin 400000\r\nnocore.bin 100\r\n"));
         },
         "Can not open Core program file.", "File open error"},
        {7,
         [&](const std::string& f) {
             std::vector<uint8_t> c = ReadAll(f + sep + "core.bin");
             c.resize(1000);
             WriteAll(f + sep + "core.bin", c);
         },
         "Invalid data in Core program file.", "File data error"},
        {8,
         [&](const std::string& f) {
             std::vector<uint8_t> c = ReadAll(f + sep + "core.bin");
             c[3000] ^= 0x01;
             WriteAll(f + sep + "core.bin", c);
         },
         "Core program file may be broken.", "File data error"},
    };
    const std::string good = MakeSamples();
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        const std::string folder = dir.File("case" + std::to_string(c.code));
        std::filesystem::create_directory(folder);
        const std::string bad = MakeSamples(SampleImageSpec(), folder);
        c.spoil(folder);

        CHeadlessWindowFactory f;
        CMainteDlg d(services);
        d.m_pUpdateData = &data;
        f.scripts[IDD_MAINTE] = {[&](CHeadlessWindow& w) {
            // Load takes the path typed into the box.
            w.TypeText(IDC_PARAM_FILE, good);
            w.Click(IDC_LOAD);
            EXPECT_EQ(kStatusLoadOk, w.Text(IDC_MAINTE_STATUS));
            w.TypeText(IDC_PARAM_FILE, bad);
            w.Click(IDC_LOAD);
            EXPECT_EQ(kStatusLoadNg, w.Text(IDC_MAINTE_STATUS));
            EXPECT_EQ(IDC_GENERATE, w.defaultButton);
            w.Click(IDC_GENERATE);
        }};
        EXPECT_EQ(kIdCancel, d.DoModal(f));
        CHeadlessWindow& w = *f.Find(IDD_MAINTE);
        ASSERT_EQ(2u, w.messageBoxes.size());
        EXPECT_EQ(c.text, w.messageBoxes[0].text);
        EXPECT_EQ(c.caption, w.messageBoxes[0].caption);
        EXPECT_EQ(kMbOk | kMbIconError, w.messageBoxes[0].style);
        EXPECT_EQ(kMustLoadText, w.messageBoxes[1].text);
        EXPECT_FALSE(d.m_bLoaded);
        EXPECT_EQ(bad, d.m_strParamFile);
        EXPECT_EQ(kStatusLoadNg, d.m_strStatus);
    }
}

TEST_F(MainteDlgTest, InquiryRevisionIsKeptAcrossLoadsAndOwnRefreshesAreNoEdits) {
    SampleImageSpec first;
    first.minor = "AB";
    const std::string prmA = MakeSamples(first);
    const std::string folderB = dir.File("b");
    std::filesystem::create_directory(folderB);
    SampleImageSpec second;
    second.revision = "2.00";
    const std::string prmB = MakeSamples(second, folderB);

    Start(prmA);
    Run({[&](CHeadlessWindow& w) {
        EXPECT_EQ("1.05-AB", w.Text(IDC_INQUIRY_REV));
        w.TypeText(IDC_PARAM_FILE, prmB);
        w.Click(IDC_LOAD);
        EXPECT_EQ("1.05-AB", w.Text(IDC_INQUIRY_REV));
        EXPECT_EQ(folderB + kPathSeparator + std::string("123451.05-AB") + kUpdaterSuffix,
                  w.Text(IDC_OUTPUT_FILE));
    }});
    // The dialog's own refreshes of the box did not count as edits: the package keeps
    // the revision of the Main image just loaded.
    EXPECT_EQ("2.00", data.m_strNewRevision);

    // i= fills the box before the first load.
    CMainteDlg d(services);
    d.m_pUpdateData = &data;
    ApplyMainteOptions(d, Options(prmA, {"/i=ZZ99"}), dir.path());
    CHeadlessWindowFactory f;
    d.DoModal(f);
    EXPECT_EQ("ZZ99", f.Find(IDD_MAINTE)->Text(IDC_INQUIRY_REV));
    EXPECT_EQ("1.05", data.m_strNewRevision);
}

// Product list entries, the target product and the output name for each choice.
TEST_F(MainteDlgTest, ProductListAndNameBase) {
    struct Case {
        std::vector<std::string> items;  // switches
        std::string model;
        int select;  // entry chosen after the load (-1: keep entry 0)
        std::vector<std::string> entries;
        std::string target;
        std::string name;  // output file name without the updater suffix
    };
    const Case cases[] = {
        {{}, "XY-12345", -1, {"XY-12345"}, "XY-12345", "123451.05"},
        {{"/tp=ABC DEF"}, "XY-12345", -1, {"ABC DEF (Inputted)", "XY-12345"}, "ABC", "123451.05"},
        {{"/tp=ABC"}, "XY-12345", 1, {"ABC (Inputted)", "XY-12345"}, "XY-12345", "XY123451.05"},
        {{"/tp=ABC-1 (for XYZ)"},
         "XY-12345",
         -1,
         {"ABC-1 (for XYZ) (Inputted)", "XY-12345"},
         "ABC-1",
         "ABC11.05"},
        {{"/op=PRE-FIX"}, "XY-12345", -1, {"XY-12345"}, "XY-12345", "PREFIX_1.05"},
        {{"/op=PRE-FIX", "/tp=ABC"},
         "XY-12345",
         1,
         {"ABC (Inputted)", "XY-12345"},
         "XY-12345",
         "PREFIX_1.05"},
        // A model without '-' contributes nothing to the name.
        {{}, "XY12345", -1, {"XY12345"}, "XY12345", "1.05"},
        {{"/tp=QQ"}, "XY12345", 1, {"QQ (Inputted)", "XY12345"}, "XY12345", "1.05"},
        {{"/i=A105-AB", "/cn=hpbpc"}, "XY-12345", -1, {"XY-12345"}, "XY-12345", "12345A105"},
        {{"/i=A105-AB", "/cn=HPCPC"}, "XY-12345", -1, {"XY-12345"}, "XY-12345", "12345A105"},
        {{"/i=A105-AB", "/cn=HPDTOCPE"}, "XY-12345", -1, {"XY-12345"}, "XY-12345", "12345A105"},
        {{"/i=A105-AB", "/cn=LENOVO"}, "XY-12345", -1, {"XY-12345"}, "XY-12345", "12345A105"},
        {{"/i=A105-AB", "/cn=DELL"}, "XY-12345", -1, {"XY-12345"}, "XY-12345", "12345A105-AB"},
        {{"/i=A105-AB", "/cn=HPDTOENG"}, "XY-12345", -1, {"XY-12345"}, "XY-12345", "12345A105-AB"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        SampleImageSpec mainSpec;
        mainSpec.model = c.model;
        const std::string folder = SamplesInNewFolder("p" + std::to_string(n++), mainSpec);
        CMainteDlg d(services);
        CHeadlessWindowFactory f;
        RunLoaded(d, f, folder, c.items, [&](CHeadlessWindow& w) {
            if (c.select >= 0)
                w.SelectEntry(IDC_PRODUCT_LIST, c.select);
        });
        CHeadlessWindow& w = *f.Find(IDD_MAINTE);
        EXPECT_EQ(c.entries, w.Entries(IDC_PRODUCT_LIST));
        EXPECT_EQ(c.select >= 0 ? c.select : 0, w.lists[IDC_PRODUCT_LIST].selection);
        EXPECT_EQ(c.target, data.m_strTargetProduct);
        EXPECT_EQ(folder + kPathSeparator + c.name + kUpdaterSuffix, w.Text(IDC_OUTPUT_FILE));
    }
}

// Characters of the output name that come from image bytes (model, revision, minor
// revision) are safe in a file name; names typed by the user stay as typed.
TEST_F(MainteDlgTest, NameCharactersFromImageBytes) {
    const struct {
        std::vector<std::string> items;  // switches
        std::string model, revision, minor;
        std::string typedRevision;  // typed into the Inquiry Rev. box after the load
        std::string name;           // output file name without the updater suffix
    } cases[] = {
        {{}, "XY-1:2<3", "1.05", "", "", "1_2_31.05"},
        {{}, "Q-../../", "1.05", "", "", ".._.._1.05"},
        {{}, "XY-\x1F\x7F\x80\xFF", "1.05", "", "", "____1.05"},
        {{}, "XY-1", "1/\\5", "|>", "", "11__5-__"},
        {{}, "XY-1", "1.05", "\t*", "", "11.05-__"},
        {{}, "XY-1", "\"?", "", "", "1__"},
        {{}, "../ (for", "1.05", "", "", ".._1.05"},  // an image model read as a "for" entry
        {{"/cn=LENOVO"}, "XY-1", "1:05", "AB", "", "11_05"},
        // Typed by the user.
        {{"/op=my*name"}, "XY-1", "1.05", "", "", "my*name_1.05"},
        {{"/i=1?2"}, "XY-1", "1.05", "", "", "11?2"},
        {{"/tp=A?B (for Z)"}, "XY-1", "1.05", "", "", "A?B1.05"},
        {{}, "XY-1", "1.05", "\x01\x02", "9*9", "19*9"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        SampleImageSpec mainSpec;
        mainSpec.model = c.model;
        mainSpec.revision = c.revision;
        mainSpec.minor = c.minor;
        const std::string folder = SamplesInNewFolder("n" + std::to_string(n++), mainSpec);
        CMainteDlg d(services);
        CHeadlessWindowFactory f;
        RunLoaded(d, f, folder, c.items, [&](CHeadlessWindow& w) {
            if (!c.typedRevision.empty())
                w.TypeText(IDC_INQUIRY_REV, c.typedRevision);
        });
        EXPECT_TRUE(d.m_bLoaded);
        EXPECT_EQ(folder + kPathSeparator + c.name + kUpdaterSuffix,
                  f.Find(IDD_MAINTE)->Text(IDC_OUTPUT_FILE));
    }
}

TEST_F(MainteDlgTest, CoreOnlyParameterFileNamesTheOutputCore) {
    MakeSamples();
    const std::string prm = dir.File("core.prm");
    WriteAll(prm, Bytes("core.bin 40000\r\n"));
    Start(prm);
    Run();
    EXPECT_TRUE(dlg.m_bLoaded);
    EXPECT_EQ("", W().Text(IDC_MAIN_NAME));
    EXPECT_EQ(Out(std::string("12345CORE") + kUpdaterSuffix), W().Text(IDC_OUTPUT_FILE));
}

// The filter of the four boxes as it reaches the package, one Generate per case.
TEST_F(MainteDlgTest, FilterFromTheFourBoxes) {
    struct Case {
        std::string inquiry;  // typed into the Inquiry Rev. box first ("" = not edited)
        std::string boxes[4];
        std::string filter;
        std::string revision;  // package revision written
    };
    const Case cases[] = {
        {"", {"", "", "", ""}, "****", "1.05"},     {"", {"=", "", "Z", "="}, "1*Z5", "1.05"},
        {"", {"*", "=", "=", "7"}, "*.07", "1.05"}, {"B207", {"=", "=", "=", "="}, "B207", "B207"},
        {"B2", {"=", "=", "A", "*"}, "B2A*", "B2"},
    };
    const std::string prm = MakeSamples();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::string out = Out("f" + std::to_string(n++) + ".exe");
        CMainteDlg d(services);
        d.m_pUpdateData = &data;
        CHeadlessWindowFactory f;
        f.scripts[IDD_MAINTE] = {[&](CHeadlessWindow& w) {
            w.TypeText(IDC_PARAM_FILE, prm);
            w.Click(IDC_LOAD);
            if (!c.inquiry.empty())
                w.TypeText(IDC_INQUIRY_REV, c.inquiry);
            for (int i = 0; i < 4; ++i)
                w.TypeText(IDC_FILTER_1 + i, c.boxes[i]);
            w.TypeText(IDC_OUTPUT_FILE, out);
            w.Click(IDC_GENERATE);
        }};
        EXPECT_EQ(kIdOk, d.DoModal(f));
        EXPECT_TRUE(f.Find(IDD_MAINTE)->messageBoxes.empty());
        EXPECT_EQ(c.filter, d.m_strRevFilter);
        const PackageTrailer t = TrailerOf(out);
        EXPECT_EQ(c.filter, t.filter);
        EXPECT_EQ(c.revision, t.revision);
    }
}

// Refusals write nothing and leave the dialog open for another attempt.
TEST_F(MainteDlgTest, RefusalsWriteNothing) {
    const std::string prm = MakeSamples();
    Start(prm, {"/cn=ACME"});
    const std::string out = Out("refused.exe");
    EXPECT_EQ(kIdCancel, Run({[&](CHeadlessWindow& w) {
                  // cn= outside the table: no customer entry selected.
                  EXPECT_EQ(-1, w.lists[IDC_CUSTOMER_LIST].selection);
                  w.TypeText(IDC_OUTPUT_FILE, out);
                  w.Click(IDC_GENERATE);
                  EXPECT_EQ(kStatusGenerateNg, w.Text(IDC_MAINTE_STATUS));
                  w.SelectEntry(IDC_CUSTOMER_LIST, 2);
                  // "=" at a position the revision "1.0" lacks.
                  w.TypeText(IDC_INQUIRY_REV, "1.0");
                  w.TypeText(IDC_FILTER_1 + 3, "=");
                  w.TypeText(IDC_OUTPUT_FILE, out);
                  w.Click(IDC_GENERATE);
              }}));
    ASSERT_EQ(2u, W().messageBoxes.size());
    EXPECT_EQ(LoadResultMessage(LOAD_NO_CUSTOMER).text, W().messageBoxes[0].text);
    EXPECT_EQ(LoadResultMessage(LOAD_FILTER_REVISION).text, W().messageBoxes[1].text);
    EXPECT_EQ("Generation error", W().messageBoxes[1].caption);
    EXPECT_EQ(kMbOk | kMbIconError, W().messageBoxes[1].style);
    EXPECT_FALSE(Exists(out));
    EXPECT_EQ(0u, data.m_nPackageLength);
    EXPECT_EQ("", data.m_strRevFilter);
}

// A failed attempt (output folder missing) leaves the options set; the next attempt
// writes exactly engine + package and the package reads back whole.
TEST_F(MainteDlgTest, SecondAttemptAfterFailureWritesExactFile) {
    const std::string prm = MakeSamples();
    Start(prm);
    const std::string bad = dir.File("missing") + kPathSeparator + "x.exe";
    const std::string out = Out("second.exe");
    EXPECT_EQ(kIdOk, Run({[&](CHeadlessWindow& w) {
                  w.ToggleCheck(IDC_OPT_FILTER_FREE_MINOR);
                  w.ToggleCheck(IDC_OPT_SAME_CUSTOMER);
                  w.TypeText(IDC_OUTPUT_FILE, bad);
                  w.Click(IDC_GENERATE);
                  EXPECT_EQ(kStatusGenerateNg, w.Text(IDC_MAINTE_STATUS));
                  ASSERT_EQ(1u, w.messageBoxes.size());
                  EXPECT_EQ("Can not open output file.", w.messageBoxes[0].text);
                  EXPECT_EQ("File open error", w.messageBoxes[0].caption);
                  // Unchecked again: the flags of the first attempt stay.
                  w.ToggleCheck(IDC_OPT_FILTER_FREE_MINOR);
                  w.ToggleCheck(IDC_OPT_SAME_CUSTOMER);
                  w.ToggleCheck(IDC_OPT_HIDE_COPYRIGHT);
                  w.TypeText(IDC_OUTPUT_FILE, out);
                  w.Click(IDC_GENERATE);
              }}));
    EXPECT_EQ(1u, W().messageBoxes.size());
    EXPECT_EQ(kStatusGenerateOk, dlg.m_strStatus);

    const std::vector<uint8_t> file = ReadAll(out);
    const PackageTrailer t = TrailerOf(out);
    EXPECT_EQ(4096u, t.packageOffset);
    EXPECT_EQ(file.size(), 4096u + t.packageLength);
    EXPECT_EQ(data.m_nEngineSize + data.m_nPackageLength, file.size());
    EXPECT_EQ(uint32_t{PKGF_FILTER_FREE_MINOR | PKGF_SAME_CUSTOMER | PKGF_HIDE_COPYRIGHT}, t.flags);

    CUpdateData back;
    back.ReadPackage(out);
    EXPECT_FALSE(back.IsPackageEmpty());
    EXPECT_FALSE(back.IsPackageBroken());
    ASSERT_EQ(data.m_nFirmwareLength, back.m_nFirmwareLength);
    EXPECT_EQ(0, std::memcmp(data.m_pFirmware, back.m_pFirmware, data.m_nFirmwareLength));
    EXPECT_EQ(0,
              std::memcmp(ReadAll(DataPath("engine.bin")).data(), file.data(), data.m_nEngineSize));
}

// The selected Customer entry sets its bit (none for the empty entry), read back by a
// fresh package object.
TEST_F(MainteDlgTest, CustomerEntryBits) {
    const std::string prm = MakeSamples();
    const uint32_t bits[] = {0,
                             PKGF_CUST_FUJITSU1,
                             PKGF_CUST_DELL,
                             PKGF_CUST_HPBPC,
                             PKGF_CUST_HPCPC,
                             PKGF_CUST_HPDTOCPE,
                             PKGF_CUST_HPDTOENG,
                             PKGF_CUST_LENOVO};
    for (int entry = 0; entry < 8; ++entry) {
        SCOPED_TRACE(entry);
        const std::string out = Out("c" + std::to_string(entry) + ".exe");
        CUpdateData fresh;
        fresh.ReadPackage(DataPath("engine.bin"));
        CMainteDlg d(services);
        d.m_pUpdateData = &fresh;
        ApplyMainteOptions(d, Options(prm, {"/cc"}), dir.path());
        CHeadlessWindowFactory f;
        f.scripts[IDD_MAINTE] = {[&](CHeadlessWindow& w) {
            w.SelectEntry(IDC_CUSTOMER_LIST, entry);
            w.TypeText(IDC_OUTPUT_FILE, out);
            w.Click(IDC_GENERATE);
        }};
        EXPECT_EQ(kIdOk, d.DoModal(f));
        EXPECT_EQ(bits[entry] | PKGF_SAME_CUSTOMER, TrailerOf(out).flags);
        CUpdateData back;
        back.ReadPackage(out);
        EXPECT_EQ(CustomerEntry(entry), back.m_strCustomer);
        EXPECT_TRUE(back.m_bSameCustomer);
        EXPECT_FALSE(back.m_bOnlyNewer);
    }
}

TEST_F(MainteDlgTest, AutomaticRunGeneratesAndEndsUnseen) {
    const std::string prm = MakeSamples();
    Start(prm, {"/auto", "/tp=ZX-9000 (for QQ)", "/cn=lenovo", "/ff", "/no", "/rf=1=*="});
    EXPECT_EQ(kIdOk, Run());
    EXPECT_FALSE(W().everShown);
    EXPECT_TRUE(W().messageBoxes.empty());
    const std::string out = Out(std::string("ZX90001.05") + kUpdaterSuffix);
    ASSERT_TRUE(Exists(out));
    CUpdateData back;
    back.ReadPackage(out);
    EXPECT_EQ("ZX-9000", back.m_strTargetProduct);
    EXPECT_EQ("1.*5", back.m_strRevFilter);
    EXPECT_EQ("1.05", back.m_strNewRevision);
    EXPECT_EQ("LENOVO", back.m_strCustomer);
    EXPECT_EQ(uint32_t{PKGF_FILTER_FREE_MINOR | PKGF_ONLY_NEWER | PKGF_CUST_LENOVO},
              TrailerOf(out).flags);
}

TEST_F(MainteDlgTest, AutomaticRunWithFailedLoadStaysOpen) {
    Start(dir.File("absent.prm"), {"/a"});
    bool sawDialog = false;
    EXPECT_EQ(kIdCancel, Run({[&](CHeadlessWindow& w) { sawDialog = w.visible; }}));
    EXPECT_TRUE(sawDialog);
    ASSERT_EQ(2u, W().messageBoxes.size());
    EXPECT_EQ("Can not open Parameter file.", W().messageBoxes[0].text);
    EXPECT_EQ(kMustLoadText, W().messageBoxes[1].text);
    EXPECT_EQ(kStatusLoadNg, dlg.m_strStatus);
}

TEST_F(MainteDlgTest, BrowseAndDroppedFilesLoad) {
    const std::string prm = MakeSamples();
    Run({[&](CHeadlessWindow& w) {
        w.Click(IDC_BROWSE);  // cancelled: nothing changes
        EXPECT_EQ("", w.Text(IDC_MAINTE_STATUS));
        w.openFileAnswers.push_back(prm);
        w.Click(IDC_BROWSE);
        EXPECT_EQ(prm, w.Text(IDC_PARAM_FILE));
        EXPECT_EQ(kStatusLoadOk, w.Text(IDC_MAINTE_STATUS));
        w.DropFiles({dir.File("absent.prm"), prm});  // only the first counts
        EXPECT_EQ(kStatusLoadNg, w.Text(IDC_MAINTE_STATUS));
        EXPECT_EQ(dir.File("absent.prm"), w.Text(IDC_PARAM_FILE));
    }});
    ASSERT_EQ(1u, W().messageBoxes.size());
    EXPECT_EQ("Can not open Parameter file.", W().messageBoxes[0].text);
}

TEST_F(MainteDlgTest, RelativeParameterPathSurvivesEnteringItsFolder) {
    const std::string prm = MakeSamples();
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(dir.path()).parent_path());
    const std::string relative =
        std::filesystem::path(dir.path()).filename().string() + kPathSeparator + "sample.prm";
    Start(relative);
    std::filesystem::current_path(saved);
    EXPECT_TRUE(std::filesystem::path(dlg.m_strParamFile).is_absolute());
    EXPECT_EQ(std::filesystem::canonical(prm), std::filesystem::canonical(dlg.m_strParamFile));
    Run();
    EXPECT_TRUE(dlg.m_bLoaded);
}

TEST(DriveList, ParsesRowsByTheFileRules) {
    using Rows = std::vector<DriveListRow>;
    struct Case {
        std::string text;
        Rows rows;
    };
    const Case cases[] = {
        {"", {}},
        {"a,b,c\n", {{"a", "b", "c"}}},
        {"  \t a , b \r\nx,y", {{"a", "b", ""}, {"x", "y", ""}}},
        {"// a,b\n//c,d\n /x,y\n", {{"/x", "y", ""}}},
        {"ab\n", {}},
        {"a,\nb,\r\n", {{"b", "", ""}}},  // "a," is too short; "b,\r" is not
        {"\n\n\r\n   \n,,\n", {}},
        {" a\\,b , c \\, d ,e\n", {{"a,b", "c , d", "e"}}},
        {"a,b,c,d\n", {{"a", "b", "c,d"}}},
        {"a,b\nc,d\xFF"
         "e,f\n",
         {{"a", "b", ""}, {"c", "d", ""}}},
        {"\xFF"
         "a,b\n",
         {}},
        {"a,b\\", {{"a", "b\\", ""}}},
        {"abc\n1,2", {{"1", "2", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // Exactly the text's bytes: a read past them would be caught by the sanitizers.
        const std::vector<uint8_t> bytes = Bytes(c.text);
        EXPECT_EQ(c.rows, ParseDriveList(bytes.data(), bytes.size()));
    }
}

TEST(DriveList, StoresAtMost256Rows) {
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "row" + std::to_string(i) + ",v\n";
    const std::vector<uint8_t> bytes = Bytes(text);
    const std::vector<DriveListRow> rows = ParseDriveList(bytes.data(), bytes.size());
    ASSERT_EQ(256u, rows.size());
    EXPECT_EQ("row255", rows.back()[0]);
}

TEST_F(MainteDlgTest, DriveListIsReadFromTheProgramFolder) {
    WriteAll(dir.File("DriveList.txt"), Bytes("// drives\r\nABC-1, XY-12345 ,note\r\n"));
    Start("");
    Run();
    ASSERT_EQ(1u, dlg.m_driveList.size());
    EXPECT_EQ((DriveListRow{"ABC-1", "XY-12345", "note"}), dlg.m_driveList[0]);
    // The product list is not filled from it.
    EXPECT_TRUE(W().Entries(IDC_PRODUCT_LIST).empty());
    EXPECT_TRUE(W().messageBoxes.empty());

    CMainteDlg missing(services);
    missing.m_pUpdateData = &data;
    missing.m_strExeDir = dir.File("nowhere");
    CHeadlessWindowFactory f;
    missing.DoModal(f);
    EXPECT_TRUE(missing.m_driveList.empty());
    EXPECT_TRUE(f.Find(IDD_MAINTE)->messageBoxes.empty());
}

}  // namespace
