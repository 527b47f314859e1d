// Start-up: the executable path, the mode choice, the options handed to the updater
// dialog, the customer rules and the exit code.
#include "app/varnel_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "app/system_services.h"
#include "base/environment.h"
#include "base/path_rules.h"
#include "package/load_messages.h"
#include "package/sample_images.h"
#include "support/fake_services.h"
#include "support/headless_window.h"
#include "support/sim_support.h"
#include "support/test_support.h"
#include "support/updater_builder.h"
#include "ui/mainte_dlg.h"
#include "ui/message_dlg.h"
#include "ui/strings.h"
#include "ui/varnel_dlg.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using testsupport::BuildUpdater;
using testsupport::FakeServices;
using testsupport::SimulatedDrives;
using testsupport::TempDir;
using testsupport::UpdaterSpec;

namespace {

TEST(ExecutablePath, TakenFromTheCommandLine) {
    const struct {
        const char* line;
        const char* path;
    } cases[] = {
        {"\"C:\\Program Files\\fw\\upd.exe\" /s", "C:\\Program Files\\fw\\upd.exe"},
        {"\"C:\\fw\\upd\" /s", "C:\\fw\\upd.exe"},
        {"\"C:\\fw\\upd.exe", "C:\\fw\\upd.exe"},  // no closing quote: the rest
        {"upd /lw", "upd.exe"},
        {"upd", "upd.exe"},
        {"UPD.EXE /s", "UPD.EXE"},
        {"upd.ex /s", "upd.ex.exe"},
        {"fw\\upd.Exe", "fw\\upd.Exe"},
        {"", ".exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.path, ExecutablePathFromCommandLine(c.line)) << c.line;
    }
}

const std::string kDiagnostic = "1D 01 00 00 06 00";

std::string Drive(char letter, const std::string& revision, const std::string& extra = "") {
    return std::string("[drive]\nletter = ") + letter +
           "\nvendor = \"QZEN\"\nproduct = \"DVD-RAM KVS-Q42R\"\nrevision = \"" + revision +
           "\"\n" + extra;
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        services.windowsFolder = dir.path();
        services.modulePath = dir.File("varnel");
    }

    // Runs the whole program with the drives given and the executable at exePath.
    // startName: the name the program was started by, when it is not exePath.
    int Run(const std::string& exePath, std::vector<std::string> args = {},
            const std::string& drives = "", const std::string& startName = "") {
        sim.reset();
        sim = std::make_unique<SimulatedDrives>(drives);
        windows.windows.clear();
        services.modulePath = exePath;
        services.executablePath = startName.empty() ? exePath : startName;
        services.arguments = std::move(args);
        CVarnelApp app(services, windows);
        EXPECT_FALSE(app.InitInstance());
        return app.ExitInstance();
    }

    int Downloads() {
        const auto cdbs = sim->Cdbs();
        return static_cast<int>(std::count(cdbs.begin(), cdbs.end(), kDiagnostic));
    }

    TempDir dir;
    FakeServices services;
    CHeadlessWindowFactory windows;
    std::unique_ptr<SimulatedDrives> sim;
};

TEST_F(Startup, SmallFileWithoutPackageIsMaintenanceMode) {
    const std::string exe = dir.File("plain.exe");
    testsupport::WriteAll(exe, std::vector<uint8_t>(4096, 0x4D));
    EXPECT_EQ(0, Run(exe));
    EXPECT_EQ(nullptr, windows.Find(IDD_VARNEL));
    EXPECT_NE(nullptr, windows.Find(IDD_MAINTE));
}

TEST_F(Startup, MaintenanceOptionsGenerateAtOnce) {
    const std::string exe = dir.File("plain.exe");
    testsupport::WriteAll(exe, std::vector<uint8_t>(4096, 0x4D));
    SampleImageSpec mainSpec, coreSpec;
    mainSpec.model = "XY-12345";
    mainSpec.revision = "A105";
    mainSpec.minor = "AB";
    coreSpec.main = false;
    std::string error;
    ASSERT_TRUE(WriteSampleSet(dir.path(), mainSpec, coreSpec, &error)) << error;
    EXPECT_EQ(0, Run(exe, {dir.File("sample.prm"), "/a", "/cn=lenovo", "/ff", "/tp=KVS-Q42R"}));
    const std::string out =
        dir.File(std::string("12345A105") + kUpdaterSuffix);  // LENOVO cuts the revision to four
    auto written = std::make_unique<CUpdateData>();
    written->ReadPackage(out);
    ASSERT_FALSE(written->IsPackageEmpty()) << out;
    EXPECT_EQ(written->m_strCustomer, "LENOVO");
    EXPECT_EQ(written->m_strTargetProduct, "KVS-Q42R");
    EXPECT_TRUE(written->m_bFilterFreeMinor);
    CHeadlessWindow* w = windows.Find(IDD_MAINTE);
    ASSERT_NE(nullptr, w);
    EXPECT_TRUE(w->messageBoxes.empty());
}

// Maintenance mode's automatic run ends with the result code of a failure as its exit code,
// after the failure's message, and writes nothing; written updaters are ones the updater
// reads back. Without the automatic switch the program ends with 0.
TEST_F(Startup, AutomaticGenerationEndsWithItsResultCode) {
    const std::string exe = dir.File("plain.exe");
    testsupport::WriteAll(exe, std::vector<uint8_t>(4096, 0x4D));
    struct Case {
        const char* name;
        uint32_t mainCode, coreCode;
        uint8_t coreFirstByte;
        std::vector<std::string> switches;
        bool readOnlyOutput;
        int code;
    } cases[] = {
        {"samples", 0, 0, 0, {}, false, 0},
        {"odd Main, Core beginning with 00", 70001, 0, 0, {}, false, 0},
        {"Main of 64 KiB, Core just below", 64512, 64511, 0, {}, false, 0},
        {"Main below 64 KiB", 64511, 0, 0, {}, false, LOAD_MAIN_TOO_SMALL},
        {"Core of 64 KiB", 0, 64512, 0, {}, false, LOAD_CORE_TOO_LARGE},
        {"odd Main, Core beginning with 5A", 70001, 0, 0x5A, {}, false, LOAD_UPDATER_MAIN_BROKEN},
        {"odd Main, Core beginning with 01", 70001, 0, 0x01, {}, false, LOAD_UPDATER_MAIN_BROKEN},
        {"no Customer entry", 0, 0, 0, {"/cn=ACME"}, false, LOAD_NO_CUSTOMER},
        {"read-only output", 0, 0, 0, {}, true, LOAD_OUTPUT_OPEN},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir.File("case" + std::to_string(n++));
        std::filesystem::create_directory(folder);
        const std::string prm =
            testsupport::WriteImageSet(folder, c.mainCode, c.coreCode, c.coreFirstByte);
        const std::string out = folder + kPathSeparator + "123451.05" + kUpdaterSuffix;
        const std::vector<uint8_t> old = {'o', 'l', 'd'};
        if (c.readOnlyOutput) {
            testsupport::WriteAll(out, old);
            std::filesystem::permissions(out, std::filesystem::perms::all,
                                         std::filesystem::perm_options::remove);
            std::filesystem::permissions(out, std::filesystem::perms::owner_read,
                                         std::filesystem::perm_options::add);
        }
        std::vector<std::string> args = {prm, "/a"};
        args.insert(args.end(), c.switches.begin(), c.switches.end());
        EXPECT_EQ(c.code, Run(exe, args));
        CHeadlessWindow* w = windows.Find(IDD_MAINTE);
        ASSERT_NE(nullptr, w);
        if (c.code == 0) {
            EXPECT_TRUE(w->messageBoxes.empty());
            auto written = std::make_unique<CUpdateData>();
            written->ReadPackage(out);
            EXPECT_TRUE(written->HasPackageData());
            EXPECT_FALSE(written->IsPackageEmpty());
            EXPECT_FALSE(written->IsPackageBroken());
            continue;
        }
        ASSERT_FALSE(w->messageBoxes.empty());
        EXPECT_EQ(LoadResultMessage(static_cast<LoadResult>(c.code)).text, w->messageBoxes[0].text);
        EXPECT_TRUE(w->everShown);  // the dialog stays for another attempt
        if (c.readOnlyOutput) {
            EXPECT_EQ(old, testsupport::ReadAll(out));
            std::filesystem::permissions(out, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
        } else {
            EXPECT_FALSE(std::filesystem::exists(out));
        }
        // The same without the automatic switch: an interactive session ends with 0.
        EXPECT_EQ(0, Run(exe, {prm}));
    }
    // A failed load, then Generate refused: the load's code.
    EXPECT_EQ(LOAD_PARAM_OPEN, Run(exe, {dir.File("absent.prm"), "/a"}));
    // The automatic switch without a parameter file generates nothing and ends with 0.
    EXPECT_EQ(0, Run(exe, {"/a"}));
}

// Model and minor-revision bytes of the image cannot lead the output out of the parameter
// file's folder or put control characters into its name.
TEST_F(Startup, OutputNamesFromImageBytesStayInTheParameterFolder) {
    const std::string exe = dir.File("plain.exe");
    testsupport::WriteAll(exe, std::vector<uint8_t>(4096, 0x4D));
    const std::string folder = dir.File("a") + kPathSeparator + "b";
    std::filesystem::create_directories(folder);
    SampleImageSpec mainSpec, coreSpec;
    mainSpec.model = "Q-../../";
    mainSpec.minor = "\x01*";
    coreSpec.main = false;
    coreSpec.model = mainSpec.model;
    std::string error;
    ASSERT_TRUE(WriteSampleSet(folder, mainSpec, coreSpec, &error)) << error;
    EXPECT_EQ(0, Run(exe, {folder + kPathSeparator + "sample.prm", "/a"}));
    EXPECT_TRUE(
        std::filesystem::exists(folder + kPathSeparator + ".._.._1.05-__" + kUpdaterSuffix));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        if (entry.path() == exe)
            continue;
        if (entry.is_regular_file()) {
            EXPECT_EQ(folder, entry.path().parent_path().string()) << entry.path();
        } else {
            EXPECT_TRUE(entry.path() == dir.File("a") || entry.path() == folder) << entry.path();
        }
    }
    // The package keeps the bytes as they are.
    auto written = std::make_unique<CUpdateData>();
    written->ReadPackage(folder + kPathSeparator + ".._.._1.05-__" + kUpdaterSuffix);
    EXPECT_EQ("Q-../../", written->m_strTargetProduct);
    EXPECT_EQ("\x01*", written->m_strNewMinorRev);
}

#ifndef _WIN32
// Names that are not regular files: a pipe or a folder is refused at once, as a file that
// cannot be opened, and nothing waits for a writer.
TEST_F(Startup, PipesAndFoldersAreNotFiles) {
    const std::string exe = dir.File("plain.exe");
    testsupport::WriteAll(exe, std::vector<uint8_t>(4096, 0x4D));
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));

    // The drive list beside the program.
    ASSERT_EQ(0, mkfifo(dir.File(kDriveListName).c_str(), 0600));
    EXPECT_EQ(0, Run(exe));
    ASSERT_NE(nullptr, windows.Find(IDD_MAINTE));

    // The parameter file, the program files and the engine.
    struct Case {
        const char* name;
        std::string prmText;  // empty: the parameter file is the pipe
        std::string engine;
        int code;
    } cases[] = {
        {"parameter file", "", exe, LOAD_PARAM_OPEN},
        {"Main program file", "pipe 400000\r\ncore.bin 100\r\n", exe, LOAD_MAIN_OPEN},
        {"Core program file", "main.bin 400000\r\npipe 100\r\n", exe, LOAD_CORE_OPEN},
        {"engine", "main.bin 400000\r\ncore.bin 100\r\n", fifo, LOAD_NO_ENGINE},
        {"engine folder", "main.bin 400000\r\ncore.bin 100\r\n", dir.path(), LOAD_NO_ENGINE},
    };
    testsupport::WriteImageSet(dir.path(), 0, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string prm = fifo;
        if (!c.prmText.empty()) {
            prm = dir.File("test.prm");
            testsupport::WriteAll(prm, std::vector<uint8_t>(c.prmText.begin(), c.prmText.end()));
        }
        EXPECT_EQ(c.code, Run(c.engine, {prm, "/a"}));
        CHeadlessWindow* w = windows.Find(IDD_MAINTE);
        ASSERT_NE(nullptr, w);
        ASSERT_FALSE(w->messageBoxes.empty());
        EXPECT_EQ(LoadResultMessage(static_cast<LoadResult>(c.code)).text, w->messageBoxes[0].text);
    }

    // --package= naming a pipe or a folder: an error, no dialog, nothing updated.
    for (const std::string& package : {fifo, dir.path()}) {
        EXPECT_EQ(kExitPending, Run(exe, {"--package=" + package, "/s"}, Drive('D', "1.00")));
        EXPECT_TRUE(windows.windows.empty());
        EXPECT_EQ(0, Downloads());
    }
}
#endif

TEST_F(Startup, LargeFileWithoutPackageIsBrokenUpdater) {
    const std::string exe = dir.File("big.exe");
    testsupport::WriteAll(exe, std::vector<uint8_t>(1048577, 0x4D));
    EXPECT_EQ(kExitPending, Run(exe, {}, Drive('D', "1.00")));
    CHeadlessWindow* w = windows.Find(IDD_VARNEL);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ("The file may be broken.", w->Text(IDC_MESSAGE_AREA));
    EXPECT_FALSE(w->Control(IDC_UPDATE).enabled);
    EXPECT_EQ(0, Downloads());
}

#ifndef _WIN32
TEST_F(Startup, PackageOfAnotherUpdater) {
    // A bare engine, started with --package= naming an updater made with another engine.
    const std::string engine = dir.File("varnel");
    testsupport::WriteAll(engine, std::vector<uint8_t>(4096, 0x4D));
    UpdaterSpec wanted;
    wanted.fileName = "Q42R1.05.exe";
    const std::string updater = BuildUpdater(dir.path(), wanted);
    EXPECT_EQ(kExitUnattended, Run(engine, {"--package=" + updater, "/lw", "/dl=E"},
                                   Drive('D', "1.00") + Drive('E', "1.01")));
    EXPECT_EQ(nullptr, windows.Find(IDD_MAINTE));
    const auto log = testsupport::ReadAll(dir.File(kResultLogName));
    EXPECT_EQ(
        "FILE=Q42R1.05.EXE\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.01\r\nNEW_REV=1.05\r\nSTATUS=OK\r\n",
        std::string(log.begin(), log.end()));
    EXPECT_EQ(1, Downloads());

    // A file without a package: updater mode in its broken-file state, not maintenance.
    EXPECT_EQ(kExitPending, Run(engine, {"--package=" + engine}, Drive('D', "1.00")));
    EXPECT_EQ(nullptr, windows.Find(IDD_MAINTE));
    CHeadlessWindow* w = windows.Find(IDD_VARNEL);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ("The file may be broken.", w->Text(IDC_MESSAGE_AREA));
    EXPECT_FALSE(w->Control(IDC_UPDATE).enabled);

    // A file that cannot be read: an error, no dialog, nothing updated.
    EXPECT_EQ(kExitPending,
              Run(engine, {"--package=" + dir.File("missing.exe"), "/s"}, Drive('D', "1.00")));
    EXPECT_TRUE(windows.windows.empty());
    EXPECT_EQ(0, Downloads());
}

// A program with more privilege than its user (file capabilities, set-user-ID) applies only
// its own package: --package= is refused before anything runs.
TEST_F(Startup, PrivilegedProgramAppliesOnlyItsOwnPackage) {
    const std::string engine = dir.File("varnel");
    testsupport::WriteAll(engine, std::vector<uint8_t>(4096, 0x4D));
    UpdaterSpec wanted;
    wanted.fileName = "Q42R1.05.exe";
    const std::string updater = BuildUpdater(dir.path(), wanted);
    struct Restore {
        ~Restore() { SetMorePrivilegeForTest(-1); }
    } restore;
    SetMorePrivilegeForTest(1);
    for (const std::string& exe : {engine, updater}) {
        SCOPED_TRACE(exe);
        testing::internal::CaptureStderr();
        EXPECT_EQ(kExitRefusedOption, Run(exe, {"--package=" + updater, "/s"}, Drive('D', "1.00")));
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, said.find("--package is refused: this program runs with more "
                                               "privilege than its user"))
            << said;
        EXPECT_TRUE(windows.windows.empty());
        EXPECT_TRUE(sim->Cdbs().empty());
    }
    // Its own package it applies.
    EXPECT_EQ(kExitSuccess, Run(updater, {"/s"}, Drive('D', "1.00")));
    EXPECT_EQ(1, Downloads());
}
#endif

TEST_F(Startup, OptionsReachTheUpdaterAndTheCurrentDirectoryChanges) {
    const std::string exe = BuildUpdater(dir.path(), UpdaterSpec());
    const std::string plain = std::string("fw") + kPathSeparator + "notes.prm";
    EXPECT_EQ(kExitUnattended,
              Run(exe, {plain, "/lw", "-dl=e"}, Drive('D', "1.00") + Drive('E', "1.01")));
    ASSERT_FALSE(services.directories.empty());
    EXPECT_EQ("fw", services.directories[0]);
    const auto log = testsupport::ReadAll(dir.File(kResultLogName));
    EXPECT_EQ("FILE=UPD.EXE\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.01\r\nNEW_REV=1.05\r\nSTATUS=OK\r\n",
              std::string(log.begin(), log.end()));
    EXPECT_EQ(1, Downloads());

    // Without a plain argument the change is still asked for, with an empty name.
    services.directories.clear();
    Run(exe, {"/lw"}, Drive('D', "1.00"));
    EXPECT_EQ(std::vector<std::string>{""}, services.directories);
}

TEST_F(Startup, PackageFromTheOwnFileNamesFromTheStartName) {
    // Started by a name that does not lead to the file (relative to another folder, or
    // without extension): the package is read from the module's own path all the same; the
    // name given decides the result log's FILE= and whether the minor revision shows.
    UpdaterSpec wanted;
    wanted.minor = "AB";
    wanted.fileName = "Q42R1.05.exe";
    const std::string exe = BuildUpdater(dir.path(), wanted);
    const struct {
        std::string startName;
        const char* file;
        const char* newRev;
    } cases[] = {
        {std::string("sub") + kPathSeparator + "x.exe", "X.EXE", "1.05"},
        {"Q42R1.05-AB.exe", "Q42R1.05-AB.EXE", "1.05-AB"},
        {"nowhere.exe", "NOWHERE.EXE", "1.05"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.startName);
        EXPECT_EQ(kExitUnattended, Run(exe, {"/lw"}, Drive('D', "1.00"), c.startName));
        const auto log = testsupport::ReadAll(dir.File(kResultLogName));
        EXPECT_EQ(std::string("FILE=") + c.file + "\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=" +
                      c.newRev + "\r\nSTATUS=OK\r\n",
                  std::string(log.begin(), log.end()));
        EXPECT_EQ(1, Downloads());
    }
}

TEST_F(Startup, CustomerRules) {
    struct Case {
        const char* customer;
        std::vector<std::string> args;
        std::string drives;
        int exitCode;
        bool shown;
        int downloads;
        bool longWait;
    } cases[] = {
        {"", {}, Drive('D', "1.00") + Drive('E', "1.01"), kExitPending, true, 0, false},
        {"",
         {"/s", "/all"},
         Drive('D', "1.00") + Drive('E', "1.01"),
         kExitSuccess,
         false,
         2,
         false},
        {"HPBPC", {}, Drive('D', "1.00") + Drive('E', "1.01"), kExitSuccess, false, 2, false},
        {"HPCPC", {}, Drive('D', "1.00") + Drive('E', "1.01"), kExitSuccess, false, 2, true},
        {"HPDTOCPE",
         {},
         Drive('D', "1.00") + Drive('E', "1.01"),
         kExitRebootRequired,
         false,
         2,
         true},
        {"HPDTOCPE", {}, Drive('D', "2.00"), kExitNoTargetCpe, false, 0, false},
        // LENOVO starts by itself on every drive but stays open; the person closes it.
        {"LENOVO", {}, Drive('D', "1.00") + Drive('E', "1.01"), kExitSuccess, true, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.customer) + " " + std::to_string(c.args.size()));
        UpdaterSpec wanted;
        wanted.customer = c.customer;
        wanted.onlyNewer = true;  // no all-drives entry unless a rule asks for it
        const std::string exe = BuildUpdater(dir.path(), wanted);
        const size_t sleepsBefore = services.Sleeps().size();
        EXPECT_EQ(c.exitCode, Run(exe, c.args, c.drives));
        CHeadlessWindow* w = windows.Find(IDD_VARNEL);
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(c.shown, w->everShown);
        EXPECT_FALSE(w->stuckHidden);
        EXPECT_EQ(c.downloads, Downloads());
        const auto sleeps = services.Sleeps();
        const bool longWait =
            std::count(sleeps.begin() + static_cast<long>(sleepsBefore), sleeps.end(), 10000u) == 1;
        EXPECT_EQ(c.longWait, longWait);
        if (std::string(c.customer) == "HPBPC") {
            EXPECT_EQ("QUICKBLAZE 1.00", w->title);
        }
    }
}

// Firmware goes only into the drive the search found, in every way of starting a run: a drive
// that answers late, stops answering or is replaced after the search never shifts another
// drive into a download, and a download whose drive no longer answers as the search saw it
// writes nothing and fails.
TEST_F(Startup, FirmwareOnlyIntoTheDriveTheSearchFound) {
    const std::string other = "vendor = \"OTHER\"\nproduct = \"DVDRAM KXS-7350P\"\n";
    const std::string failed = "Updating was failed. Please repeat that.";
    struct Scene {
        const char* name;
        std::string drives;
        std::string untouched;  // drives that must get no WRITE BUFFER or SEND DIAGNOSTIC
        std::string updated;    // the drive that gets the firmware, if any
        std::string error;      // the failing drive's error text and the words under it
    } scenes[] = {
        // D answers only after the search gave up on it: E is the one target.
        {"late answer",
         "[drive]\nletter = D\n" + other + "revision = \"2.00\"\ninquiry_failures = 4\n" +
             Drive('E', "1.00"),
         "D", "E", ""},
        // The target D stops answering after the search; E must not take its place.
        {"stops answering",
         Drive('D', "1.00") + "fault = INQUIRY 2+ check 2 04 01\n[drive]\nletter = E\n" + other,
         "DE", "",
         " (Drive D: does not answer; nothing was written) (Error data = 70 00 02 00 00 00 00 0A "
         "00 00 00 00 04 01 00 00 00 00 00 00 00 00 00 00 )\nNOT READY: logical unit is in "
         "process of becoming ready"},
        {"replaced", Drive('D', "1.00") + "replaced = 1 \"OTHER\" \"DVDRAM KXS-7350P\"\n", "D", "",
         " (Drive D: is now OTHER DVDRAM KXS-7350P, not QZEN DVD-RAM KVS-Q42R; nothing was "
         "written)"},
        {"unreachable", Drive('D', "1.00") + "fault = INQUIRY 2+ transport\n", "D", "",
         " (Drive D: cannot be reached; nothing was written)\nINQUIRY got no answer from the "
         "drive D: (the request did not reach it, or it timed out)."},
        {"removed", Drive('D', "1.00") + "fault = INQUIRY 2 gone\n", "D", "",
         " (Drive D: cannot be reached; nothing was written)\nThe drive D: is gone (removed or "
         "disconnected); INQUIRY did not reach it, and nothing more was sent to it."},
    };
    struct Path {
        const char* name;
        std::vector<std::string> args;
        bool clicks;  // a person presses UPDATE, then EXIT
        int success, failure;
    } paths[] = {
        {"silent", {"/s", "/all"}, false, kExitSuccess, kExitPending},
        {"all drives", {"/au", "/ae", "/all"}, false, kExitSuccess, kExitPending},
        {"interactive", {}, true, kExitSuccess, kExitPending},
        {"unattended", {"/lw"}, false, kExitUnattended, kExitUnattended},
    };
    const std::string exe = BuildUpdater(dir.path(), UpdaterSpec());
    for (const Scene& scene : scenes) {
        for (const Path& path : paths) {
            SCOPED_TRACE(std::string(scene.name) + ", " + path.name);
            windows.scripts.clear();
            if (path.clicks) {
                windows.scripts[IDD_VARNEL] = {[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); },
                                               [](CHeadlessWindow& win) { win.Click(kIdCancel); }};
            }
            const bool ok = !scene.updated.empty();
            EXPECT_EQ(ok ? path.success : path.failure, Run(exe, path.args, scene.drives));
            for (char d : scene.untouched) {
                for (const std::string& cdb : sim->Cdbs(std::string(1, d))) {
                    EXPECT_NE("3B", cdb.substr(0, 2)) << d;
                    EXPECT_NE(kDiagnostic, cdb) << d;
                }
            }
            for (const auto& state : sim->State())
                EXPECT_EQ(state.id == scene.updated, state.revision == "1.05") << state.id;
            EXPECT_EQ(ok ? 1 : 0, Downloads());
            CHeadlessWindow* w = windows.Find(IDD_VARNEL);
            ASSERT_NE(nullptr, w);
            if (path.args.empty() || path.args[0] != "/lw") {
                EXPECT_EQ(ok ? LoadText(IDS_UPDATE_OK) : failed + scene.error,
                          w->Text(IDC_MESSAGE_AREA));
            } else {
                const auto log = testsupport::ReadAll(dir.File(kResultLogName));
                EXPECT_EQ(std::string("FILE=UPD.EXE\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.00\r\n"
                                      "NEW_REV=1.05\r\nSTATUS=") +
                              (ok ? "OK" : "NG") + "\r\n",
                          std::string(log.begin(), log.end()));
            }
        }
    }
}

// Drives that the system names (Linux): /dl= takes the device name, with or without /dev/,
// in any case; a letter takes the drive with that letter where drives have letters. Labels
// carry the name and the whole host:channel:target:lun.
TEST_F(Startup, DriveChosenByDeviceNameOrLetter) {
    const std::string exe = BuildUpdater(dir.path(), UpdaterSpec());
    auto named = [](const char* device, const char* address) {
        return std::string("[drive]\ndevice = ") + device + "\naddress = " + address +
               "\nvendor = \"QZEN\"\nproduct = \"DVD-RAM KVS-Q42R\"\nrevision = \"1.00\"\n";
    };
    // The same ASPI-style address (host cut to 8 bits): only the full address tells them apart.
    const std::string namedDrives = named("sr1", "0:0:1:0") + named("sr10", "256:0:1:0");
    const std::string lettered = Drive('D', "1.00") + Drive('E', "1.00");
    const struct {
        const char* dl;
        std::string drives;
        std::string updated;  // none: the value names no target, nothing is written
    } cases[] = {
        {"/dl=sr10", namedDrives, "sr10"}, {"/dl=/dev/sr1", namedDrives, "sr1"},
        {"/dl=SR1", namedDrives, "sr1"},   {"/dl=sr2", namedDrives, ""},
        {"/dl=/dev/", namedDrives, ""},    {"/dl=E", namedDrives, ""},
        {"/dl=E", lettered, "E"},          {"/dl=sr1", lettered, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.dl) + (c.drives == lettered ? " (letters)" : " (names)"));
        EXPECT_EQ(kExitUnattended, Run(exe, {"/lw", c.dl}, c.drives));
        for (const auto& state : sim->State())
            EXPECT_EQ(state.id == c.updated, state.revision == "1.05") << state.id;
        EXPECT_EQ(c.updated.empty() ? 0 : 1, Downloads());
        if (c.drives == namedDrives) {
            const std::vector<std::string> entries =
                windows.Find(IDD_VARNEL)->Entries(IDC_DRIVE_LIST);
            ASSERT_LE(2u, entries.size());
            EXPECT_EQ(0u, entries[0].rfind("sr1 [0:0:1:0] QZEN     DVD-RAM KVS-Q42R ", 0));
            EXPECT_EQ(0u, entries[1].rfind("sr10 [256:0:1:0] QZEN     DVD-RAM KVS-Q42R ", 0));
        }
    }
}

// Drives whose firmware commands need a privilege (Linux: CAP_SYS_RAWIO), and a process
// without it: the message area says so at once, and no way of starting a run sends a drive
// anything beyond the search's INQUIRY. Drives without the need, or the privilege held, run.
// /report=FILE: the JSON report of the run, in every start mode, also when nothing was written.
TEST_F(Startup, UpdaterWindowThatCannotBeMadeIsAFailure) {
    struct NoWindows : IWindowFactory {
        std::shared_ptr<IDialogWindow> CreateDialogWindow(int, IDialogEvents&,
                                                          IDialogWindow*) override {
            return nullptr;
        }
    } none;
    const std::string exe = BuildUpdater(dir.path(), UpdaterSpec());
    sim = std::make_unique<SimulatedDrives>(Drive('D', "1.00"));
    services.modulePath = services.executablePath = exe;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"/s"}, {}}) {
        services.arguments = args;
        CVarnelApp app(services, none);
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(kExitPending, app.ExitInstance());
    }
    EXPECT_EQ(0, Downloads());
}

TEST_F(Startup, ReportOfTheRun) {
    const std::string exe = BuildUpdater(dir.path(), UpdaterSpec());
    const std::string report = dir.File("run.json");
    const std::string drives = Drive('D', "1.00") + Drive('E', "1.01", "activates = restart\n");
    auto text = [&report] {
        const auto bytes = testsupport::ReadAll(report);
        return std::string(bytes.begin(), bytes.end());
    };
    auto entry = [](char letter, const std::string& before, const std::string& result,
                    const std::string& after, bool verified) {
        return std::string("    {\"drive\": \"") + letter + ": QZEN     DVD-RAM KVS-Q42R " +
               before +
               "\", \"vendor\": \"QZEN\", \"product\": \"DVD-RAM KVS-Q42R\",\n"
               "     \"revision_before\": \"" +
               before + "\", \"result\": \"" + result +
               "\", \"error\": \"\",\n     \"revision_after\": \"" + after +
               "\", \"verified\": " + (verified ? "true" : "false") + "}";
    };
    // The exit status a caller sees (Linux keeps the low 8 bits).
#ifdef _WIN32
    const std::string pending = std::to_string(kExitPending);
#else
    const std::string pending = std::to_string(kExitPending & 0xFF);
#endif
    const std::string head = "{\n  \"updater\": \"upd.exe\",\n  \"revision\": \"1.05\",\n";

    // Silent, every drive: D runs the new firmware, E takes it at its next start. An old
    // report is replaced.
    testsupport::WriteAll(report, std::vector<uint8_t>(10, 'x'));
    EXPECT_EQ(kExitSuccess, Run(exe, {"/s", "/all", "/report=" + report}, drives));
    EXPECT_EQ(head + "  \"exit_code\": 0,\n  \"drives\": [\n" +
                  entry('D', "1.00", "updated", "1.05", true) + ",\n" +
                  entry('E', "1.01", "updated", "1.01", false) + "\n  ]\n}\n",
              text());
    EXPECT_EQ("1.01", sim->State()[1].revision);
    // Written next to the report and renamed: no temporary file is left.
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        files += e.path().extension() == ".tmp";
    EXPECT_EQ(0u, files);

    // Interactive, EXIT without a run: every drive not run; the exit code as it stands.
    windows.scripts[IDD_VARNEL] = {[](CHeadlessWindow& win) { win.Click(kIdCancel); }};
    EXPECT_EQ(kExitPending, Run(exe, {"/report=" + report}, drives));
    EXPECT_EQ(head + "  \"exit_code\": " + pending + ",\n  \"drives\": [\n" +
                  entry('D', "1.00", "not_run", "", false) + ",\n" +
                  entry('E', "1.01", "not_run", "", false) + "\n  ]\n}\n",
              text());
    windows.scripts.clear();

    // Unattended: the result log keeps its five lines, the report tells the rest.
    EXPECT_EQ(kExitUnattended, Run(exe, {"/lw", "/dl=E", "/report=" + report}, drives));
    EXPECT_EQ(head + "  \"exit_code\": 1,\n  \"drives\": [\n" +
                  entry('D', "1.00", "not_run", "", false) + ",\n" +
                  entry('E', "1.01", "updated", "1.01", false) + "\n  ]\n}\n",
              text());
    const auto log = testsupport::ReadAll(dir.File(kResultLogName));
    EXPECT_EQ("FILE=UPD.EXE\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.01\r\nNEW_REV=1.05\r\nSTATUS=OK\r\n",
              std::string(log.begin(), log.end()));

    // No target: an empty list of drives.
    EXPECT_EQ(kExitPending, Run(exe, {"/s", "/report=" + report}, Drive('D', "2.00")));
    EXPECT_EQ(head + "  \"exit_code\": " + pending + ",\n  \"drives\": []\n}\n", text());
}

// A report that cannot be written: nothing runs, no drive is asked, exit code 29. A link at
// the report's name is replaced, never followed.
TEST_F(Startup, ReportThatCannotBeWrittenStopsTheRunBeforeAnyDrive) {
    const std::string exe = BuildUpdater(dir.path(), UpdaterSpec());
    const std::string drives = Drive('D', "1.00");
    for (const std::string& bad :
         {dir.File("missing") + kPathSeparator + "run.json", dir.path(), std::string()}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(kExitLogNotWritten, Run(exe, {"/s", "/report=" + bad}, drives));
        EXPECT_TRUE(sim->Cdbs().empty());
        EXPECT_EQ(nullptr, windows.Find(IDD_VARNEL));
    }
#ifndef _WIN32
    const std::string target = dir.File("precious.txt");
    testsupport::WriteAll(target, std::vector<uint8_t>{'k', 'e', 'e', 'p'});
    const std::string link = dir.File("link.json");
    std::filesystem::create_symlink(target, link);
    EXPECT_EQ(kExitSuccess, Run(exe, {"/s", "/report=" + link}, drives));
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    const auto written = testsupport::ReadAll(link);
    EXPECT_EQ("{\n", std::string(written.begin(), written.begin() + 2));
    EXPECT_EQ((std::vector<uint8_t>{'k', 'e', 'e', 'p'}), testsupport::ReadAll(target));
#endif
}

TEST_F(Startup, NoRunWithoutTheDrivePrivilege) {
    const std::string exe = BuildUpdater(dir.path(), UpdaterSpec());
    services.privilegeAdvice = "Run it as root.";
    const std::string lacks =
        "This process lacks the privilege that the system asks of a program that writes "
        "firmware into drives.";
    const std::string drives = Drive('D', "1.00") + Drive('E', "1.00");
    struct Path {
        const char* name;
        std::vector<std::string> args;
        bool clicks;
        int refused, updated;  // exit codes
    } paths[] = {
        {"silent", {"/s", "/all"}, false, kExitPending, kExitSuccess},
        {"interactive", {}, true, kExitPending, kExitSuccess},
        {"unattended", {"/lw"}, false, kExitUnattended, kExitUnattended},
    };
    const struct { bool needed, held; } cases[] = {{true, false}, {true, true}, {false, false}};
    for (const auto& c : cases) {
        services.drivePrivilege = c.held;
        const std::string file = (c.needed ? "needs_privilege = yes\n" : "") + drives;
        const bool refused = c.needed && !c.held;
        for (const Path& path : paths) {
            SCOPED_TRACE(std::string(path.name) + (c.needed ? ", needed" : "") +
                         (c.held ? ", held" : ""));
            windows.scripts.clear();
            std::string shown;
            if (path.clicks) {
                windows.scripts[IDD_VARNEL] = {[&shown](CHeadlessWindow& win) {
                                                   shown = win.Text(IDC_MESSAGE_AREA);
                                                   win.Click(IDC_UPDATE);
                                               },
                                               [](CHeadlessWindow& win) { win.Click(kIdCancel); }};
            }
            EXPECT_EQ(refused ? path.refused : path.updated, Run(exe, path.args, file));
            if (!refused) {
                EXPECT_LT(0, Downloads());
                continue;
            }
            for (const std::string& cdb : sim->Cdbs())
                EXPECT_EQ("12", cdb.substr(0, 2)) << cdb;
            CHeadlessWindow* w = windows.Find(IDD_VARNEL);
            ASSERT_NE(nullptr, w);
            if (path.clicks) {
                EXPECT_EQ(LoadText(IDS_CLOSE_APPS) + "\n" + lacks + " Run it as root.", shown);
            }
            if (!path.args.empty() && path.args[0] == "/lw") {
                const auto log = testsupport::ReadAll(dir.File(kResultLogName));
                EXPECT_EQ(
                    "FILE=UPD.EXE\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=1.05\r\n"
                    "STATUS=NG\r\n",
                    std::string(log.begin(), log.end()));
            } else {
                EXPECT_EQ(LoadText(IDS_UPDATE_FAILED) + "\n" + lacks +
                              " No firmware was sent to the drives. Run it as root.",
                          w->Text(IDC_MESSAGE_AREA));
            }
        }
    }
}

}  // namespace
