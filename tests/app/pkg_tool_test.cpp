// varnel-pkg against files from another writer and its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "app/pkg_tool.h"
#include "base/version.h"
#include "drive/drive_control.h"
#include "drive/simulator.h"
#include "package/path_rules.h"
#include "support/test_support.h"

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

TEST(PkgTool, ClearErrors) {
    TempDir dir;
    const struct {
        std::vector<std::string> args;
        int code;
        const char* message;
    } cases[] = {
        {{}, 2, "usage"},
        {{"inspect", DataPath("engine.bin")}, 3, "carries no update package"},
        {{"inspect", dir.File("absent.exe")}, 5, "cannot read"},
        {{"build", "--engine", DataPath("engine.bin"), "--prm", dir.File("absent.prm"), "--out",
          dir.File("x.exe")},
         1,
         "Can not open Parameter file."},
        {{"build", "--engine", dir.File("absent.exe"), "--prm", DataPath("sample.prm"), "--out",
          dir.File("x.exe")},
         13,
         "Can not open Updater engine."},
        {{"build", "--engine", DataPath("engine.bin"), "--prm", DataPath("sample.prm"), "--out",
          dir.File("x.exe"), "--customer", "ACME"},
         2,
         "unknown customer code"},
        {{"build", "--engine", DataPath("engine.bin"), "--prm", DataPath("sample.prm"), "--out",
          dir.File("nodir") + "/x.exe"},
         9,
         "Can not open output file."},
    };
    for (const auto& c : cases) {
        ToolRun r = Tool(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
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
