// varnel-pkg against files from another writer and its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/pkg_tool.h"
#include "base/path_rules.h"
#include "base/version.h"
#include "drive/drive_control.h"
#include "drive/simulator.h"
#include "package/load_messages.h"
#include "package/update_data.h"
#include "support/pe_files.h"
#include "support/test_support.h"
#include "support/updater_builder.h"

using testsupport::DataPath;
using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

struct ToolRun {
    int code;
    std::string out, err;
};

ToolRun Tool(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = RunPkgTool(args, out, err);
    return {code, out.str(), err.str()};
}

TEST(PkgTool, InspectReportsTheIndependentVectors) {
    ToolRun a = Tool({"inspect", DataPath("updater_a.bin")});
    ASSERT_EQ(a.code, 0) << a.err;
    for (const char* field :
         {"\"offset\": 4096", "\"length\": 342114", "\"product\": \"KVS-Q42R\"",
          "\"filter\": \"1.0*\"", "\"revision\": \"1.05\"", "\"minor\": \"AB\"", "\"flags\": 18",
          "\"flag_names\": [\"ONLY_NEWER\", \"CUST_DELL\"]", "\"customer\": \"DELL\"",
          "\"body_seed\": 4660", "\"trailer_seed\": 39612", "\"body_size\": 350208",
          "\"runs\": [[0, 4683, 951], [1, 5685, 300], [2, 34385, 4096], [3, 70289, 256], "
          "[4, 120033, 1000], [5, 305633, 616], [6, 305688, 951], [7, 310690, 512]]",
          "{\"kind\": \"MAIN\", \"length\": 308224, \"result\": 0, \"size\": \"04B000h\", "
          "\"model\": \"XY-12345\", \"revision\": \"1.05\", \"minor\": \"AB\", "
          "\"customer_byte\": 0}",
          "{\"kind\": \"CORE\", \"length\": 41984, \"result\": 0, \"size\": \"00A000h\", "
          "\"model\": \"XY-12345\"}",
          "\"valid\": true"}) {
        EXPECT_NE(a.out.find(field), std::string::npos) << field << "\n" << a.out;
    }
    ToolRun b = Tool({"inspect", DataPath("updater_b.bin")});
    ASSERT_EQ(b.code, 0) << b.err;
    EXPECT_NE(b.out.find("\"revision\": \"\""), std::string::npos);
    EXPECT_NE(b.out.find("\"trailer_seed\": 0,"), std::string::npos);
    EXPECT_NE(b.out.find("\"flag_names\": [\"FILTER_FREE_MINOR\", \"SAME_CUSTOMER\"]"),
              std::string::npos);
}

TEST(PkgTool, BuildMatchesTheIndependentWriter) {
    TempDir dir;
    ToolRun r = Tool({"build", "--engine", DataPath("engine.bin"), "--prm", DataPath("sample.prm"),
                      "--out", dir.File("a.exe"), "--product", "KVS-Q42R", "--filter", "1.0*",
                      "--options", "no", "--customer", "DELL", "--time", "4660"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadAll(dir.File("a.exe")), ReadAll(DataPath("updater_a.bin")));

    // An updater given as engine has its package replaced, not stacked.
    ToolRun again = Tool({"build", "--engine", dir.File("a.exe"), "--prm", DataPath("sample.prm"),
                          "--out", dir.File("a2.exe"), "--product", "KVS-Q42R", "--filter", "1.0*",
                          "--options", "no", "--customer", "DELL", "--time", "4660"});
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(ReadAll(dir.File("a2.exe")), ReadAll(DataPath("updater_a.bin")));
}

TEST(PkgTool, SignedUpdaters) {
    TempDir dir;
    testsupport::WriteAll(dir.File("engine.exe"), testsupport::PeEngine(4093));
    auto build = [&](const std::string& engine, const std::string& out) {
        return Tool({"build", "--engine", engine, "--prm", DataPath("sample.prm"), "--out", out,
                     "--time", "4660"});
    };
    ASSERT_EQ(0, build(dir.File("engine.exe"), dir.File("u.exe")).code);
    std::vector<uint8_t> file = ReadAll(dir.File("u.exe"));
    const size_t end = file.size();
    ToolRun plain = Tool({"inspect", dir.File("u.exe")});
    EXPECT_NE(plain.out.find("\"signature\": {\"present\": false}"), std::string::npos)
        << plain.out;
    EXPECT_NE(plain.out.find("\"package_end\": " + std::to_string(end)), std::string::npos);

    testsupport::AppendSignature(file);
    testsupport::WriteAll(dir.File("signed.exe"), file);
    ToolRun i = Tool({"inspect", dir.File("signed.exe")});
    ASSERT_EQ(i.code, 0) << i.err;
    for (const std::string& field :
         {"\"file_size\": " + std::to_string(file.size()),
          "\"signature\": {\"present\": true, \"table_offset\": " +
              std::to_string((end + 7) / 8 * 8) + ", \"table_size\": 48}",
          "\"package_end\": " + std::to_string(end), std::string("\"offset\": 4093"),
          std::string("\"valid\": true")}) {
        EXPECT_NE(i.out.find(field), std::string::npos) << field << "\n" << i.out;
    }

    // A signed updater as engine: its package and its signature are both replaced.
    ASSERT_EQ(0, build(dir.File("signed.exe"), dir.File("again.exe")).code);
    EXPECT_EQ(ReadAll(dir.File("again.exe")), ReadAll(dir.File("u.exe")));

    // A signed file without package says so.
    std::vector<uint8_t> engine = testsupport::PeEngine(4093);
    testsupport::AppendSignature(engine);
    testsupport::WriteAll(dir.File("signed-engine.exe"), engine);
    ToolRun none = Tool({"inspect", dir.File("signed-engine.exe")});
    EXPECT_EQ(none.code, 3);
    EXPECT_NE(none.err.find("it is signed"), std::string::npos) << none.err;
}

// build without --out names the updater as maintenance mode does, in the parameter file's
// folder; the name ends in .exe only when the engine is a Windows program.
TEST(PkgTool, BuildNamesFollowTheEngine) {
    TempDir dir;
    std::vector<uint8_t> elf = ReadAll(DataPath("engine.bin"));
    elf[0] = 0x7F, elf[1] = 'E', elf[2] = 'L', elf[3] = 'F';
    testsupport::WriteAll(dir.File("linux-engine"), elf);
    testsupport::WriteAll(dir.File("windows-engine"), testsupport::PeEngine(4093));
    std::vector<uint8_t> mz = testsupport::PeEngine(4093);
    mz[0x40] = 'N';  // "MZ" without the PE signature where it points
    testsupport::WriteAll(dir.File("mz-engine"), mz);
    const struct {
        const char* engine;
        std::vector<std::string> options;
        const char* name;
    } cases[] = {
        {"windows-engine", {}, "Q42R1.10-C2.exe"},
        {"linux-engine", {}, "Q42R1.10-C2"},
        {"mz-engine", {}, "Q42R1.10-C2"},
        {"engine.bin", {}, "Q42R1.10-C2"},  // neither
        {"linux-engine", {"--customer", "LENOVO"}, "Q42R1.10"},
        {"windows-engine", {"--revision", "2.0/"}, "Q42R2.0_-C2.exe"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string fw = dir.File("fw" + std::to_string(n++));
        ASSERT_EQ(0,
                  Tool({"sample", fw, "--model", "KVS-Q42R", "--revision", "1.10", "--minor", "C2"})
                      .code);
        const std::string engine =
            c.engine == std::string("engine.bin") ? DataPath("engine.bin") : dir.File(c.engine);
        std::vector<std::string> args = {"build", "--engine", engine, "--prm",
                                         fw + kPathSeparator + "sample.prm"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ToolRun r = Tool(args);
        ASSERT_EQ(0, r.code) << r.err;
        const std::string out = fw + kPathSeparator + c.name;
        EXPECT_EQ(0u, r.out.rfind("wrote " + out + ": ", 0)) << r.out;
        CUpdateData written;
        written.ReadPackage(out);
        EXPECT_FALSE(written.IsPackageEmpty()) << out;
    }
}

TEST(PkgTool, SampleBuildExtractRoundTrip) {
    TempDir dir;
    const std::string fw = dir.File("new");  // made by the sample command
    auto in = [&](const char* name) { return fw + kPathSeparator + name; };
    ASSERT_EQ(0, Tool({"sample", fw, "--model", "KW31QR58", "--minor", "C1"}).code);
    ToolRun b =
        Tool({"build", "--engine", DataPath("engine.bin"), "--prm", in("sample.prm"), "--out",
              dir.File("u.exe"), "--filter", "==**", "--options", "ff,cc", "--customer", "LENOVO"});
    ASSERT_EQ(b.code, 0) << b.err;
    ToolRun i = Tool({"inspect", dir.File("u.exe")});
    ASSERT_EQ(i.code, 0) << i.err;
    EXPECT_NE(i.out.find("\"product\": \"KW31QR58\""), std::string::npos) << i.out;
    EXPECT_NE(i.out.find("\"filter\": \"1.**\""), std::string::npos) << i.out;
    EXPECT_NE(i.out.find("\"customer\": \"LENOVO\""), std::string::npos);

    TempDir out;
    const std::string into = out.File("new") + kPathSeparator + "images";  // made by extract
    ASSERT_EQ(0, Tool({"extract", dir.File("u.exe"), into}).code);
    EXPECT_EQ(ReadAll(into + kPathSeparator + "main.bin"), ReadAll(in("main.bin")));
    EXPECT_EQ(ReadAll(into + kPathSeparator + "core.bin"), ReadAll(in("core.bin")));

    // The extracted parameter file names a small Main image as Main: it builds again.
    ASSERT_EQ(0, Tool({"sample", fw, "--size", "64512"}).code);
    ASSERT_EQ(0, Tool({"build", "--engine", DataPath("engine.bin"), "--prm", in("sample.prm"),
                       "--out", dir.File("small.exe"), "--time", "1"})
                     .code);
    TempDir again;
    ASSERT_EQ(0, Tool({"extract", dir.File("small.exe"), again.path()}).code);
    ToolRun rebuilt =
        Tool({"build", "--engine", DataPath("engine.bin"), "--prm", again.File("package.prm"),
              "--out", dir.File("again.exe"), "--time", "1"});
    ASSERT_EQ(rebuilt.code, 0) << rebuilt.err;
    EXPECT_EQ(ReadAll(dir.File("small.exe")), ReadAll(dir.File("again.exe")));
}

TEST(PkgTool, DrivesListsSimulatedDrives) {
    TempDir dir;
    const std::string file = dir.File("drives.txt");
    const std::string text =
        "[drive]\nletter = E\nvendor = \"QZEN    \"\nproduct = \"DVD-RAM KVS-Q42R\"\n"
        "revision = \"1.00\"\nminor = \"C1\"\ncustomer = 7\n";
    testsupport::WriteAll(file, std::vector<uint8_t>(text.begin(), text.end()));
    SetTransportFactory([file] { return CreateSimulatorTransport(file); });
    ToolRun r = Tool({"drives", "--json"});
    SetTransportFactory(nullptr);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("DVD-RAM KVS-Q42R"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("C1"), std::string::npos) << r.out;
}

// Each failure: a message naming the file and the reason, and its exit code.
TEST(PkgTool, ClearErrors) {
    TempDir dir;
    testsupport::WriteAll(dir.File("empty.exe"), {});
    std::filesystem::create_directory(dir.File("folder"));
    const std::string drives = dir.File("drives.txt");
    const std::string bad = "[drive]\nletter = E\nspeed = 4\n";
    testsupport::WriteAll(drives, std::vector<uint8_t>(bad.begin(), bad.end()));
    const std::string engine = DataPath("engine.bin"), prm = DataPath("sample.prm");
    const struct {
        std::vector<std::string> args;
        int code;
        std::string message;
    } cases[] = {
        {{}, 2, "usage"},
        {{"inspect", engine}, 3, engine + " carries no update package"},
        {{"inspect", dir.File("empty.exe")}, 3, "empty.exe carries no update package (empty file)"},
        {{"inspect", dir.File("absent.exe")}, 5, "cannot read " + dir.File("absent.exe") + ": "},
        {{"extract", dir.File("folder"), dir.path()},
         5,
         "cannot read " + dir.File("folder") + ": "},
        {{"build", "--engine", engine, "--prm", dir.File("absent.prm"), "--out", dir.File("x.exe")},
         1,
         "Can not open Parameter file. (" + dir.File("absent.prm") + ": "},
        {{"build", "--engine", dir.File("absent.exe"), "--prm", prm, "--out", dir.File("x.exe")},
         13,
         "Can not open Updater engine. (" + dir.File("absent.exe") + ": "},
        {{"build", "--engine", dir.File("empty.exe"), "--prm", prm, "--out", dir.File("x.exe")},
         13,
         "Can not open Updater engine. (" + dir.File("empty.exe") + ": empty file)"},
        {{"build", "--engine", engine, "--prm", prm, "--out", dir.File("x.exe"), "--customer",
          "ACME"},
         2,
         "unknown customer code"},
        {{"build", "--engine", engine, "--prm", prm, "--out", dir.File("nodir") + "/x.exe"},
         9,
         "Can not open output file."},
        {{"build", "--engine", engine, "--prm", prm, "--out", dir.File("folder")},
         9,
         "Can not open output file. (" + dir.File("folder") + ")"},
    };
    for (const auto& c : cases) {
        ToolRun r = Tool(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.exe")));

    // A malformed drive file of simulated drives.
    SetTransportFactory([drives] { return CreateSimulatorTransport(drives); });
    ToolRun r = Tool({"drives"});
    SetTransportFactory(nullptr);
    EXPECT_EQ(r.code, 6);
    EXPECT_NE(r.err.find(drives + ":3: "), std::string::npos) << r.err;
}

// The usage text lists every exit code.
TEST(PkgTool, UsageListsTheExitCodes) {
    const ToolRun r = Tool({});
    for (const char* code :
         {"\n   0 ", "\n   2 ", "\n   3 ", "\n   4 ", "\n   5 ", "\n   6 ", "\n  build: "}) {
        EXPECT_NE(r.err.find(code), std::string::npos) << code;
    }
}

// build refuses program files that an updater would read differently from the loader,
// naming the file or the image and why; nothing is written.
TEST(PkgTool, BuildWritesOnlyWhatTheUpdaterReads) {
    const struct {
        const char* name;
        uint32_t mainCode, coreCode;
        uint8_t coreFirstByte;
        int code;
        const char* subject;
    } cases[] = {
        {"samples", 0, 0, 0, 0, ""},
        {"odd Main, Core beginning with 00", 70001, 0, 0, 0, ""},
        {"Main below 64 KiB", 64511, 0, 0, LOAD_MAIN_TOO_SMALL, "main.bin"},
        {"Core of 64 KiB", 0, 64512, 0, LOAD_CORE_TOO_LARGE, "core.bin"},
        {"odd Main, Core beginning with 80", 70001, 0, 0x80, LOAD_UPDATER_MAIN_BROKEN, "u.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string prm =
            testsupport::WriteImageSet(dir.path(), c.mainCode, c.coreCode, c.coreFirstByte);
        ToolRun r = Tool({"build", "--engine", DataPath("engine.bin"), "--prm", prm, "--out",
                          dir.File("u.exe")});
        EXPECT_EQ(r.code, c.code) << r.err;
        if (c.code == 0) {
            EXPECT_EQ(0, Tool({"inspect", dir.File("u.exe")}).code);
            continue;
        }
        EXPECT_NE(r.err.find(LoadResultMessage(static_cast<LoadResult>(c.code)).text),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(dir.File(c.subject)), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.File("u.exe")));
    }
}

TEST(PkgTool, HelpAndVersionOnStandardOutput) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"build", "--help"}, {"--version"}}) {
        ToolRun r = Tool(args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.err, "");
        if (args.back() == "--version")
            EXPECT_EQ(r.out, "varnel-pkg " VARNEL_VERSION "\n");
        else
            EXPECT_EQ(r.out.rfind("usage: varnel-pkg inspect FILE\n", 0), 0u) << r.out;
    }
}

TEST(PkgTool, UnknownOptionsGiveOneLine) {
    const struct {
        std::vector<std::string> args;
        const char* line;
    } cases[] = {
        {{"--bogus"}, "varnel-pkg: unknown option '--bogus'"},
        {{"frobnicate", "x"}, "varnel-pkg: unknown command 'frobnicate'"},
        {{"drives", "--xml"}, "varnel-pkg: unknown option '--xml'"},
        {{"inspect", "--deep", "1", "u.exe"}, "varnel-pkg: unknown option '--deep'"},
        {{"build", "--engin", "varnel", "--prm", "a.prm", "--out", "u"},
         "varnel-pkg: unknown option '--engin'"},
        {{"sample", "fw", "--colour", "red"}, "varnel-pkg: unknown option '--colour'"},
    };
    for (const auto& c : cases) {
        ToolRun r = Tool(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.line, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

}  // namespace
