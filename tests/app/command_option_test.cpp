#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_option.h"
#include "base/path_rules.h"

namespace {

CCommandOption Parse(std::vector<std::string> items) {
    CCommandOption o;
    ParseCommandItems(o, items);
    return o;
}

TEST(CommandOption, SwitchesMatchByLeadingCharacters) {
    auto o = Parse({"-lw", "/S", "/dl=e", "/cn=lenovo", "/alle", "/i=A105", "/rf=1.0*",
                    "/op=PRE-FIX", "/tp=ABC-1 (for XYZ)", "/ffx", "/no", "/hc", "/cc"});
    EXPECT_TRUE(o.m_bUnattended);
    EXPECT_TRUE(o.m_bSilent);
    EXPECT_TRUE(o.m_bAutoStart);
    EXPECT_TRUE(o.m_bAutoExit);
    EXPECT_EQ(o.m_strDriveLetter, "E");
    EXPECT_EQ(o.m_strCustomer, "LENOVO");
    EXPECT_TRUE(o.m_bAllDrives);
    EXPECT_TRUE(o.m_bAutoGenerate);  // "alle" begins with a
    EXPECT_EQ(o.m_strInquiryRev, "A105");
    EXPECT_EQ(o.m_strRevFilter, "1.0*");
    EXPECT_EQ(o.m_strOutputName, "PRE-FIX");
    EXPECT_EQ(o.m_strTargetProduct, "ABC-1 (for XYZ)");
    EXPECT_TRUE(o.m_bFilterFreeMinor && o.m_bOnlyNewer && o.m_bHideCopyright && o.m_bSameCustomer);
    EXPECT_FALSE(o.m_bReport);

    // report=FILE keeps its value as given; an empty one still asks for a report.
    o = Parse({"/report=C:\\logs\\Run 1.json"});
    EXPECT_TRUE(o.m_bReport);
    EXPECT_EQ(o.m_strReportFile, "C:\\logs\\Run 1.json");
    EXPECT_FALSE(o.m_bSilent);  // "report" is no s switch
    o = Parse({"-report=a.json", "/report="});
    EXPECT_TRUE(o.m_bReport);
    EXPECT_EQ(o.m_strReportFile, "");
    o = Parse({"/reportx"});
    EXPECT_FALSE(o.m_bReport);
}

TEST(CommandOption, CaseAndSingleMeanings) {
    auto o = Parse({"/LW", "/AU", "/Dl=x"});
    EXPECT_FALSE(o.m_bUnattended);
    EXPECT_FALSE(o.m_bAutoStart);
    EXPECT_FALSE(o.m_bAutoGenerate);
    EXPECT_EQ(o.m_strDriveLetter, "");

    auto au = Parse({"/au", "/dl="});
    EXPECT_TRUE(au.m_bAutoStart);
    EXPECT_TRUE(au.m_bAutoGenerate);
    EXPECT_FALSE(au.m_bAutoExit);
    EXPECT_FALSE(au.m_bSilent);
    EXPECT_EQ(au.m_strDriveLetter, "");

    auto later = Parse({"/op=one", "/op=two", "-s"});
    EXPECT_EQ(later.m_strOutputName, "two");
    EXPECT_TRUE(later.m_bSilent);
}

TEST(CommandOption, PlainItemGivesFileAndFolder) {
    const std::string sep(1, kPathSeparator);
    auto o = Parse({"work" + sep + "new.prm"});
    EXPECT_EQ(o.m_strFilePath, "work" + sep + "new.prm");
    EXPECT_EQ(o.m_strFileDir, "work");
    auto bare = Parse({"new.prm"});
    EXPECT_EQ(bare.m_strFileDir, "new.prm");
    auto later = Parse({"a" + sep + "x.prm", "b" + sep + "y.prm"});
    EXPECT_EQ(later.m_strFilePath, "b" + sep + "y.prm");
    EXPECT_EQ(later.m_strFileDir, "b");
}

TEST(CommandOption, PackageOfAnotherUpdater) {
    auto o = Parse({"--package=/media/fw/Q42R1.10.exe", "/s"});
    EXPECT_TRUE(o.m_bSilent);
    EXPECT_EQ(o.m_strFilePath, "");  // not the plain argument: no folder change
    EXPECT_EQ(o.m_strFileDir, "");
    EXPECT_FALSE(o.m_bAutoGenerate);
#ifdef _WIN32
    EXPECT_EQ(o.m_strPackageFile, "");  // a Windows updater carries its own package
#else
    EXPECT_EQ(o.m_strPackageFile, "/media/fw/Q42R1.10.exe");
#endif
}

TEST(CommandOption, SwitchOrPath) {
    EXPECT_TRUE(IsSwitchItem("/s"));
    EXPECT_TRUE(IsSwitchItem("-lw"));
    EXPECT_TRUE(IsSwitchItem("/op=a/b"));
    EXPECT_FALSE(IsSwitchItem("new.prm"));
    EXPECT_FALSE(IsSwitchItem(""));
#ifdef _WIN32
    EXPECT_TRUE(IsSwitchItem("/abs/dir/new.prm"));
#else
    EXPECT_FALSE(IsSwitchItem("/abs/dir/new.prm"));
    auto o = Parse({"/home/u/fw/new.prm", "/a"});
    EXPECT_EQ(o.m_strFilePath, "/home/u/fw/new.prm");
    EXPECT_EQ(o.m_strFileDir, "/home/u/fw");
    EXPECT_TRUE(o.m_bAutoGenerate);
#endif
}

#ifndef _WIN32
// The Linux build's conventions (an absolute Linux path is a plain item there).
TEST(CommandOption, LinuxConventions) {
    const struct {
        std::vector<std::string> items;
        CommandRequest request;
        std::string item;
    } cases[] = {
        {{}, CommandRequest::Run, ""},
        {{"/s", "-lw", "/all", "/dl=X", "/dl=", "/au", "/ae", "-S"}, CommandRequest::Run, ""},
        {{"/home/u/fw/new.prm", "/a", "/tp=KVS-Q42R", "/op=Q42R", "/i=A105", "/rf=1.0*",
          "/cn=lenovo", "/ff", "/no", "/hc", "/cc", "/auto", "/lwx"},
         CommandRequest::Run,
         ""},
        {{"--package=/media/fw/Q42R1.10.exe", "/s", "new.prm"}, CommandRequest::Run, ""},
        {{"/s", "/all", "/report=/var/log/fw/run.json", "-report=r.json"}, CommandRequest::Run, ""},
        {{"/report"}, CommandRequest::UsageError, "/report"},
        {{"--help"}, CommandRequest::Help, "--help"},
        {{"/s", "-h"}, CommandRequest::Help, "-h"},
        {{"/lw", "--version", "--bogus"}, CommandRequest::Version, "--version"},
        {{"/s", "--bogus", "--help"}, CommandRequest::UsageError, "--bogus"},
        {{"--package"}, CommandRequest::UsageError, "--package"},
        {{"--lw"}, CommandRequest::UsageError, "--lw"},
        {{"/LW"}, CommandRequest::UsageError, "/LW"},  // switches are case-sensitive
        {{"/tp"}, CommandRequest::UsageError, "/tp"},  // a value switch needs its '='
        {{"-v"}, CommandRequest::UsageError, "-v"},
        {{"-"}, CommandRequest::UsageError, "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.items.empty() ? "(none)" : c.items.back());
        const CommandCheck check = CheckCommandItems(c.items);
        EXPECT_EQ(check.request, c.request);
        EXPECT_EQ(check.item, c.item);
    }
}
#endif

TEST(CommandLineSplit, WindowsRules) {
    const struct {
        std::string line;
        std::vector<std::string> items;
    } cases[] = {
        {R"("C:\Program Files\upd.exe" /s)", {R"(C:\Program Files\upd.exe)", "/s"}},
        {"upd", {"upd"}},
        {R"(upd  "C:\a b\p.prm"  /a)", {"upd", R"(C:\a b\p.prm)", "/a"}},
        {R"(upd a\\\"b "c\\" d\e)", {"upd", R"(a\"b)", R"(c\)", R"(d\e)"}},
        {R"(upd "say ""hi""" x)", {"upd", R"(say "hi")", "x"}},
        {"upd\t/lw\t", {"upd", "/lw"}},
        {R"(C:\dir\upd.exe "")", {R"(C:\dir\upd.exe)", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(SplitWindowsCommandLine(c.line), c.items);
    }
}

}  // namespace
