// The updater dialog over headless windows and simulated drives: initialisation, the
// drive list and version boxes, the update run with worker threads, the exit codes, the
// REBOOT state and the unattended run with its result log.
#include "ui/varnel_dlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

#include "base/path_rules.h"
#include "base/text.h"
#include "download/update_executer.h"
#include "package/update_data.h"
#include "support/fake_services.h"
#include "support/headless_window.h"
#include "support/sim_support.h"
#include "support/test_support.h"
#include "support/updater_builder.h"
#include "ui/about_dlg.h"
#include "ui/message_dlg.h"
#include "ui/strings.h"

using testsupport::BuildUpdater;
using testsupport::FakeServices;
using testsupport::SimulatedDrives;
using testsupport::TempDir;
using testsupport::UpdaterSpec;

namespace {

const std::string kDiagnostic = "1D 01 00 00 06 00";
const std::string kEject = "1B 00 00 00 02 00";

// One simulated drive section.
std::string Drive(char letter, const std::string& revision, const std::string& extra = "") {
    return std::string("[drive]\nletter = ") + letter +
           "\nvendor = \"QZEN\"\nproduct = \"DVD-RAM KVS-Q42R\"\nrevision = \"" + revision +
           "\"\n" + extra;
}

std::string Label(char letter, const std::string& revision) {
    return std::string(1, letter) + ": QZEN     DVD-RAM KVS-Q42R " + revision;
}

bool IsWriteBuffer(const std::string& cdb) {
    return cdb.rfind("3B 0", 0) == 0;
}

class UpdaterDialog : public ::testing::Test {
protected:
    void SetUp() override { services.windowsFolder = dir.path(); }

    // Drives first: every drive control made afterwards talks to them.
    void Setup(const std::string& drives, const UpdaterSpec& wanted = UpdaterSpec()) {
        dlg.reset();
        data.reset();
        sim.reset();
        windows.windows.clear();
        sim = std::make_unique<SimulatedDrives>(drives);
        path = BuildUpdater(dir.path(), wanted);
        data = std::make_unique<CUpdateData>();
        data->ReadPackage(path);
        dlg = std::make_unique<CVarnelDlg>(services);
        dlg->m_pUpdateData = data.get();
        dlg->m_strExePath = path;
    }

    // Runs the dialog; steps act like a person whenever it waits for input.
    int Run(std::deque<CHeadlessWindow::Step> steps = {}) {
        windows.scripts[IDD_VARNEL] = std::move(steps);
        result = dlg->DoModal(windows);
        w = windows.Find(IDD_VARNEL);
        return result;
    }

    int DownloadsOf(const std::string& drive) {
        const auto cdbs = sim->Cdbs(drive);
        return static_cast<int>(std::count(cdbs.begin(), cdbs.end(), kDiagnostic));
    }

    // Commands that change a drive: WRITE BUFFER, SEND DIAGNOSTIC, START STOP UNIT.
    int WritesTo(const std::string& drive) {
        int n = 0;
        for (const std::string& cdb : sim->Cdbs(drive)) {
            n += IsWriteBuffer(cdb) || cdb == kDiagnostic || cdb == kEject;
        }
        return n;
    }

    bool AnyWriteBuffer() {
        const auto cdbs = sim->Cdbs();
        return std::any_of(cdbs.begin(), cdbs.end(), IsWriteBuffer);
    }

    std::vector<std::string> ReportedSince(size_t before) {
        const auto lines = services.Reported();
        return std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end());
    }

    std::string Log() {
        const auto bytes = testsupport::ReadAll(dir.File(kResultLogName));
        return std::string(bytes.begin(), bytes.end());
    }

    TempDir dir;
    FakeServices services;
    std::unique_ptr<SimulatedDrives> sim;
    std::string path;
    std::unique_ptr<CUpdateData> data;
    std::unique_ptr<CVarnelDlg> dlg;
    CHeadlessWindowFactory windows;
    CHeadlessWindow* w = nullptr;
    int result = 0;
};

TEST_F(UpdaterDialog, OneTargetUpdatesThenOffersReboot) {
    Setup(Drive('D', "1.00"));
    Run({
        [](CHeadlessWindow& win) {
            EXPECT_EQ(LoadText(IDS_HEADLINE), win.Text(IDC_HEADLINE));
            EXPECT_EQ("The following drive will be updated.", win.Text(IDC_INSTRUCTION));
            EXPECT_EQ(std::vector<std::string>{Label('D', "1.00")}, win.Entries(IDC_DRIVE_LIST));
            EXPECT_EQ(0, win.lists[IDC_DRIVE_LIST].selection);
            EXPECT_EQ("1.00", win.Text(IDC_CUR_VERSION));
            EXPECT_EQ("1.05", win.Text(IDC_NEW_VERSION));
            EXPECT_EQ("Current version", win.Text(IDC_CUR_LABEL));
            EXPECT_EQ("New version", win.Text(IDC_NEW_LABEL));
            EXPECT_EQ("UPDATE", win.Text(IDC_UPDATE_CAPTION));
            EXPECT_EQ("EXIT", win.Text(IDC_EXIT_CAPTION));
            EXPECT_EQ("Please close other applications before updating.",
                      win.Text(IDC_MESSAGE_AREA));
            EXPECT_EQ(IDB_UPDATE, win.Control(IDC_UPDATE).bitmap);
            EXPECT_EQ(IDB_EXIT, win.Control(kIdCancel).bitmap);
            EXPECT_EQ(IDI_MAIN, win.bigIcon);
            ASSERT_EQ(1u, win.systemMenu.size());
            EXPECT_EQ(IDM_ABOUTBOX, win.systemMenu[0].first);
            win.Click(IDC_UPDATE);
        },
        [](CHeadlessWindow& win) {
            const auto& history = win.Control(IDC_MESSAGE_AREA).history;
            EXPECT_NE(history.end(),
                      std::find(history.begin(), history.end(), LoadText(IDS_UPDATING)));
            EXPECT_EQ("Updating was completed successfully. Please reboot the PC.",
                      win.Text(IDC_MESSAGE_AREA));
            EXPECT_EQ("REBOOT", win.Text(IDC_UPDATE_CAPTION));
            EXPECT_EQ(IDB_REBOOT, win.Control(IDC_UPDATE).bitmap);
            EXPECT_EQ("1.05", win.Text(IDC_CUR_VERSION));
            EXPECT_EQ(Label('D', "1.05"), win.Entries(IDC_DRIVE_LIST)[0]);
            EXPECT_EQ(0, win.lists[IDC_DRIVE_LIST].selection);
            EXPECT_TRUE(win.Control(IDC_UPDATE).enabled);
            EXPECT_TRUE(win.Control(kIdCancel).enabled);
            EXPECT_EQ(0, win.waitCursor);
            EXPECT_TRUE(win.waitCursorSeen);
            win.Click(kIdCancel);
        },
    });
    EXPECT_EQ(kExitSuccess, result);
    EXPECT_TRUE(w->everShown);
    EXPECT_EQ(1, DownloadsOf("D"));
    EXPECT_EQ("1.05", sim->State()[0].revision);
    EXPECT_EQ(1, services.threadsStarted);
    // The 3 s wait after the diagnostic went through the injected sleep.
    EXPECT_EQ(std::vector<unsigned>{3000}, services.Sleeps());
}

TEST_F(UpdaterDialog, AllDrivesEntryByTargetCountAndOnlyNewer) {
    struct Case {
        const char* name;
        int drives;
        bool onlyNewer;
        bool allSwitch;
        bool minorShown;
        std::vector<std::string> tail;  // entries after the targets
        std::string instruction;
        std::string current;
    } cases[] = {
        {"two, only newer off",
         2,
         false,
         false,
         false,
         {"*: All target drives. (2units)"},
         "Please select the target drive.",
         "1.00"},
        {"two, only newer on",
         2,
         true,
         false,
         false,
         {},
         "The following drive will be updated.",
         "1.00"},
        {"two, only newer on, all",
         2,
         true,
         true,
         false,
         {"*: All target drives. (2units)"},
         "Please select the target drive.",
         "****"},
        {"one, all",
         1,
         false,
         true,
         false,
         {"*: All target drives. (1units)"},
         "Please select the target drive.",
         "****"},
        {"one, all, minor shown",
         1,
         false,
         true,
         true,
         {"*: All target drives. (1units)"},
         "Please select the target drive.",
         "****-**"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdaterSpec wanted;
        wanted.onlyNewer = c.onlyNewer;
        if (c.minorShown) {
            wanted.minor = "AB";
            wanted.fileName = "upd_1.05-AB.exe";
        }
        std::string drives = Drive('D', "1.00");
        if (c.drives == 2)
            drives += Drive('E', "1.01");
        Setup(drives, wanted);
        dlg->m_bAllDrives = c.allSwitch;
        Run();
        std::vector<std::string> expected{Label('D', "1.00")};
        if (c.drives == 2)
            expected.push_back(Label('E', "1.01"));
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(expected, w->Entries(IDC_DRIVE_LIST));
        EXPECT_EQ(c.instruction, w->Text(IDC_INSTRUCTION));
        EXPECT_EQ(c.current, w->Text(IDC_CUR_VERSION));
        EXPECT_EQ(c.minorShown ? "1.05-AB" : "1.05", w->Text(IDC_NEW_VERSION));
        EXPECT_EQ(c.allSwitch ? c.drives : 0, w->lists[IDC_DRIVE_LIST].selection);
        EXPECT_EQ(kExitPending, result);
        EXPECT_FALSE(AnyWriteBuffer());
    }
}

TEST_F(UpdaterDialog, DriveLetterPreselectsOrMarksInvalid) {
    Setup(Drive('D', "1.00") + Drive('E', "1.01"));
    dlg->m_strDriveLetter = "E";
    Run();
    EXPECT_EQ(1, w->lists[IDC_DRIVE_LIST].selection);
    EXPECT_EQ("1.01", w->Text(IDC_CUR_VERSION));
    EXPECT_TRUE(w->Control(IDC_UPDATE).enabled);

    Setup(Drive('D', "1.00") + Drive('E', "1.01"));
    dlg->m_strDriveLetter = "Z";
    Run({[](CHeadlessWindow& win) {
        win.Click(IDC_UPDATE);  // disabled: nothing happens
        EXPECT_TRUE(win.clickedDisabled);
        win.Click(kIdCancel);
    }});
    EXPECT_EQ("Z: INVALID DRIVE", w->Entries(IDC_DRIVE_LIST).back());
    EXPECT_FALSE(w->Control(IDC_UPDATE).enabled);
    EXPECT_EQ("1.00", w->Text(IDC_CUR_VERSION));  // the versions of target 0
    EXPECT_EQ(kExitPending, result);
    EXPECT_FALSE(AnyWriteBuffer());
}

TEST_F(UpdaterDialog, OnlyNewerDisablesCurrentDriveAndSelectionReenables) {
    UpdaterSpec wanted;
    wanted.onlyNewer = true;
    Setup(Drive('D', "1.05") + Drive('E', "1.00"), wanted);
    Run({
        [](CHeadlessWindow& win) {
            EXPECT_FALSE(win.Control(IDC_UPDATE).enabled);
            EXPECT_EQ("Updating is not necessary.", win.Text(IDC_MESSAGE_AREA));
            win.SelectEntry(IDC_DRIVE_LIST, 1);
            EXPECT_TRUE(win.Control(IDC_UPDATE).enabled);
            EXPECT_EQ("1.00", win.Text(IDC_CUR_VERSION));
            win.Click(IDC_UPDATE);
        },
    });
    EXPECT_EQ(kExitSuccess, result);
    EXPECT_EQ(0, DownloadsOf("D"));
    EXPECT_EQ(1, DownloadsOf("E"));
}

TEST_F(UpdaterDialog, EveryDriveCurrentWithOnlyNewerIsSkipped) {
    UpdaterSpec wanted;
    wanted.onlyNewer = true;
    Setup(Drive('D', "1.05") + Drive('E', "1.07"), wanted);
    dlg->m_bAllDrives = true;
    Run({[](CHeadlessWindow& win) {
        ASSERT_TRUE(win.Control(IDC_UPDATE).enabled);
        win.Click(IDC_UPDATE);
        EXPECT_EQ("Updating is not necessary.", win.Text(IDC_MESSAGE_AREA));
        EXPECT_EQ("UPDATE", win.Text(IDC_UPDATE_CAPTION));
    }});
    EXPECT_EQ(kExitNotNecessary, result);
    EXPECT_EQ(0, services.threadsStarted);
    EXPECT_FALSE(AnyWriteBuffer());
}

// "Only newer" on the all-drives entry: a failure outranks a skip wherever it stands; drives
// updated beside skipped ones make a successful run; only a run of skipped drives is 1638.
TEST_F(UpdaterDialog, RunOutcomeWithSkippedDrives) {
    const std::string fails = "fault = WRITE_BUFFER 1 check 4 44 00\n";
    const std::string failed =
        "Updating was failed. Please repeat that. (Error data = 70 00 04 00 00 00 00 0A 00 00 00 "
        "00 44 00 00 00 00 00 00 00 00 00 00 00 )\nHARDWARE ERROR: internal target failure";
    struct Case {
        const char* name;
        std::string drives;
        int exitCode;
        std::string message;
        std::string caption;
    } cases[] = {
        {"skipped, then failed", Drive('D', "1.05") + Drive('E', "1.00", fails), kExitPending,
         failed, "UPDATE"},
        {"failed, then skipped", Drive('D', "1.00", fails) + Drive('E', "1.07"), kExitPending,
         failed, "UPDATE"},
        {"skipped, then updated", Drive('D', "1.05") + Drive('E', "1.00"), kExitSuccess,
         LoadText(IDS_UPDATE_OK), "REBOOT"},
        {"all skipped", Drive('D', "1.05") + Drive('E', "1.07"), kExitNotNecessary,
         "Updating is not necessary.", "UPDATE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdaterSpec wanted;
        wanted.onlyNewer = true;
        Setup(c.drives, wanted);
        dlg->m_bAllDrives = true;
        Run({[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); }});
        EXPECT_EQ(c.exitCode, result);
        EXPECT_EQ(c.message, w->Text(IDC_MESSAGE_AREA));
        EXPECT_EQ(c.caption, w->Text(IDC_UPDATE_CAPTION));
    }
}

// A second press while the first one is still getting ready (its catch-up pumps and the disc
// check come before the run counts as busy) starts nothing: each drive is written once.
TEST_F(UpdaterDialog, PressWhileTheRunGetsReadyStartsNoSecondRun) {
    Setup(Drive('D', "1.00") + Drive('E', "1.00"));
    dlg->m_bAllDrives = true;
    bool pressed = false;
    Run({[&](CHeadlessWindow& win) {
        win.onPump = [&](CHeadlessWindow& pumping) {
            if (pressed || dlg->m_bBusy)
                return;
            pressed = true;
            pumping.Click(IDC_UPDATE);
        };
        win.Click(IDC_UPDATE);
        win.onPump = nullptr;
    }});
    EXPECT_TRUE(pressed);
    EXPECT_EQ(kExitSuccess, result);
    EXPECT_EQ(1, DownloadsOf("D"));
    EXPECT_EQ(1, DownloadsOf("E"));
}

TEST_F(UpdaterDialog, TwoDrivesDownloadInParallel) {
    // Each command takes 5 ms, so a download is a few hundred milliseconds long.
    Setup(Drive('D', "1.00", "delay_ms = 5\n") + Drive('E', "1.01", "delay_ms = 5\n"));
    dlg->m_bAllDrives = true;
    int busyPumps = 0;
    bool selectionIgnored = true;
    Run({[&](CHeadlessWindow& win) {
        win.onPump = [&](CHeadlessWindow& pumping) {
            if (!dlg->m_bBusy)
                return;
            ++busyPumps;
            if (busyPumps == 1) {
                // The window stays alive during the run, but choosing a drive is refused.
                pumping.SelectEntry(IDC_DRIVE_LIST, 0);
                selectionIgnored = pumping.Text(IDC_CUR_VERSION) == "****";
                EXPECT_FALSE(pumping.Control(IDC_UPDATE).enabled);
                EXPECT_FALSE(pumping.Control(kIdCancel).enabled);
                EXPECT_EQ(1, pumping.waitCursor);
            }
        };
        win.Click(IDC_UPDATE);
        win.onPump = nullptr;
    }});
    EXPECT_EQ(kExitSuccess, result);
    EXPECT_GT(busyPumps, 0);
    EXPECT_TRUE(selectionIgnored);
    // Both downloads started before either one ended.
    const auto journal = sim->Journal();
    auto first = [&](const std::string& drive, auto pred) {
        for (size_t i = 0; i < journal.size(); ++i) {
            if (journal[i].drive == drive && pred(journal[i].cdb))
                return i;
        }
        return journal.size();
    };
    const size_t lastStart = std::max(first("D", IsWriteBuffer), first("E", IsWriteBuffer));
    const auto isDiag = [](const std::string& cdb) { return cdb == kDiagnostic; };
    const size_t firstEnd = std::min(first("D", isDiag), first("E", isDiag));
    EXPECT_LT(lastStart, firstEnd);
    EXPECT_EQ(2, services.threadsStarted);
    EXPECT_EQ((std::vector<std::string>{Label('D', "1.05"), Label('E', "1.05"),
                                        "*: All target drives. (2units)"}),
              w->Entries(IDC_DRIVE_LIST));
    EXPECT_EQ(2, w->lists[IDC_DRIVE_LIST].selection);
}

TEST_F(UpdaterDialog, ProgressOfEveryDriveOfTheRun) {
    // D succeeds, E fails at its third chunk, F is current and skipped ("only newer").
    UpdaterSpec wanted;
    wanted.onlyNewer = true;
    const std::string slow = "delay_ms = 10\n";
    Setup(Drive('D', "1.00", slow) +
              Drive('E', "1.01", slow + "fault = WRITE_BUFFER 3 check 4 44 00\n") +
              Drive('F', "1.05", slow),
          wanted);
    dlg->m_bAllDrives = true;
    Run({[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); }});
    EXPECT_EQ(kExitPending, result);
    const uint32_t total = data->GetFirmwareLength();
    const auto& reports = w->progress;
    ASSERT_GE(reports.size(), 2u);
    for (size_t i = 0; i < reports.size(); ++i) {
        ASSERT_EQ(3u, reports[i].size());
        EXPECT_EQ(Label('E', "1.01"), reports[i][1].label);
        for (size_t d = 0; d < 3; ++d) {
            EXPECT_EQ(total, reports[i][d].bytesTotal);
            if (i > 0) {  // a bar only grows
                EXPECT_GE(reports[i][d].bytesSent, reports[i - 1][d].bytesSent);
            }
        }
    }
    const auto& first = reports.front();
    EXPECT_EQ(ResultPending, first[0].result);
    EXPECT_LT(first[0].bytesSent, total);
    EXPECT_EQ(ResultSkipped, first[2].result);
    const auto& last = reports.back();
    EXPECT_EQ(ResultSucceeded, last[0].result);
    EXPECT_EQ(total, last[0].bytesSent);
    EXPECT_EQ(ResultFailed, last[1].result);
    EXPECT_EQ(2u * 32768u, last[1].bytesSent);
    EXPECT_EQ(0u, last[2].bytesSent);

    // The bar: the bytes of D and E over their total (F is skipped), from 0, never back.
    const ControlState& bar = w->Control(IDC_PROGRESS);
    EXPECT_TRUE(bar.shown);
    ASSERT_FALSE(bar.positions.empty());
    EXPECT_EQ(0, bar.positions.front());
    EXPECT_TRUE(std::is_sorted(bar.positions.begin(), bar.positions.end()));
    EXPECT_EQ(static_cast<int>((uint64_t{total} + 2 * 32768) * 100 / (2 * uint64_t{total})),
              bar.positions.back());
}

TEST_F(UpdaterDialog, ProgressBarHiddenUntilTheFirstRunThenZeroToHundredPerRun) {
    // E fails its first download; the second run succeeds on both.
    // Commands of 30 ms: the wait loop sees the bar between 0 and 100.
    Setup(Drive('D', "1.00", "delay_ms = 30\n") +
          Drive('E', "1.01", "delay_ms = 30\nfault = WRITE_BUFFER 4 check 4 44 00\n"));
    dlg->m_bAllDrives = true;
    std::vector<int> firstRun;
    Run({
        [](CHeadlessWindow& win) {
            EXPECT_FALSE(win.Control(IDC_PROGRESS).shown);
            EXPECT_TRUE(win.Control(IDC_PROGRESS).positions.empty());
            win.Click(IDC_UPDATE);
        },
        [&](CHeadlessWindow& win) {
            firstRun = win.Control(IDC_PROGRESS).positions;
            win.Click(IDC_UPDATE);
            EXPECT_EQ("REBOOT", win.Text(IDC_UPDATE_CAPTION));
        },
    });
    const std::vector<int>& all = w->Control(IDC_PROGRESS).positions;
    ASSERT_GT(all.size(), firstRun.size());
    ASSERT_GE(firstRun.size(), 2u);
    EXPECT_TRUE(std::is_sorted(firstRun.begin(), firstRun.end()));
    EXPECT_LT(firstRun.back(), 100);
    const std::vector<int> second(all.begin() + static_cast<std::ptrdiff_t>(firstRun.size()),
                                  all.end());
    EXPECT_EQ(0, second.front());
    EXPECT_TRUE(std::is_sorted(second.begin(), second.end()));
    EXPECT_EQ(100, second.back());
    EXPECT_GT(second.size(), 2u);  // positions between 0 and 100 were shown
}

TEST_F(UpdaterDialog, SleepAndShutdownHeldOffExactlyWhileDownloading) {
    const std::string block = "block Now updating. It takes a few minutes. Don't turn off the PC.";
    // Writes and diagnostics in the journal when each event happens.
    std::vector<std::pair<std::string, int>> seen;
    services.onEvent = [&](const std::string& event) {
        if (event == block || event == "unblock")
            seen.emplace_back(event, static_cast<int>(sim->Cdbs().size()));
    };
    auto writesBefore = [&](size_t i) {
        const auto cdbs = sim->Cdbs();
        return std::count_if(cdbs.begin(), cdbs.begin() + seen[i].second, IsWriteBuffer);
    };
    auto diagnosticsBefore = [&](size_t i) {
        const auto cdbs = sim->Cdbs();
        return std::count(cdbs.begin(), cdbs.begin() + seen[i].second, kDiagnostic);
    };

    // A failed run, then a successful one: each is held off from before its first write to
    // after its last worker ended.
    Setup(Drive('D', "1.00") + Drive('E', "1.01", "fault = WRITE_BUFFER 2 check 4 44 00\n"));
    dlg->m_bAllDrives = true;
    Run({[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); },
         [](CHeadlessWindow& win) { win.Click(IDC_UPDATE); }});
    EXPECT_EQ(kExitSuccess, result);
    std::vector<std::string> events = services.Events();
    ASSERT_EQ(16u, events.size());
    for (size_t r = 0; r < 2; ++r) {
        SCOPED_TRACE("run " + std::to_string(r + 1));
        const auto from = events.begin() + static_cast<std::ptrdiff_t>(8 * r);
        EXPECT_EQ("awake", from[0]);
        EXPECT_EQ(block, from[1]);
        std::vector<std::string> workers(from + 2, from + 6);
        std::sort(workers.begin(), workers.end());
        EXPECT_EQ((std::vector<std::string>{"thread", "thread", "thread end", "thread end"}),
                  workers);
        EXPECT_EQ("thread", from[2]);
        EXPECT_EQ("unblock", from[6]);
        EXPECT_EQ("awake off", from[7]);
    }
    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ(0, writesBefore(0));
    EXPECT_EQ(1, diagnosticsBefore(1));  // D's first download ended inside the first run
    EXPECT_EQ(writesBefore(1), writesBefore(2));
    EXPECT_EQ(3, diagnosticsBefore(3));

    // A run refused for a disc, and a broken package: nothing is held.
    Setup(Drive('D', "1.00", "medium = yes\n"));
    const size_t before = services.Events().size();
    Run({[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); }});
    EXPECT_EQ(before, services.Events().size());

    // The unattended run downloads on this thread, held off as well.
    seen.clear();
    Setup(Drive('D', "1.00"));
    dlg->m_bUnattended = true;
    Run();
    events = services.Events();
    ASSERT_EQ(before + 4, events.size());
    EXPECT_EQ((std::vector<std::string>{"awake", block, "unblock", "awake off"}),
              std::vector<std::string>(events.begin() + static_cast<std::ptrdiff_t>(before),
                                       events.end()));
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(0, writesBefore(0));
    EXPECT_EQ(1, diagnosticsBefore(1));
}

TEST_F(UpdaterDialog, DrivesDeniedForLackOfPermissionAreExplained) {
    const struct {
        const char* open;
        const char* hint;  // the system's advice; empty on Windows
        const char* message;
        int denied;
    } cases[] = {
        {"denied", "Permission denied: run as root.", "Permission denied: run as root.", 1},
        {"denied", "", "Please close other applications before updating.", 1},
        {"fail", "Permission denied: run as root.",
         "Please close other applications before updating.", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.open) + " / " + c.hint);
        services.driveAccessHint = c.hint;
        services.deniedReported = 0;
        Setup(Drive('D', "1.00", std::string("open = ") + c.open + "\n") + Drive('E', "2.00"));
        Run();
        EXPECT_EQ("Can't find the target drive.", w->Text(IDC_INSTRUCTION));
        EXPECT_EQ(c.message, w->Text(IDC_MESSAGE_AREA));
        EXPECT_EQ(c.denied, services.deniedReported);
        EXPECT_EQ(kExitPending, result);
    }
}

TEST_F(UpdaterDialog, FirstFailsSecondSucceeds) {
    Setup(Drive('D', "1.00", "fault = WRITE_BUFFER 2 check 4 44 00\n") + Drive('E', "1.01"));
    dlg->m_bAllDrives = true;
    Run({[](CHeadlessWindow& win) {
        win.Click(IDC_UPDATE);
        const std::string failed = "Updating was failed. Please repeat that.";
        const std::string& message = win.Text(IDC_MESSAGE_AREA);
        ASSERT_EQ(0u, message.rfind(failed + " (Error data = 70 00 04 ", 0)) << message;
        EXPECT_EQ("\nHARDWARE ERROR: internal target failure", message.substr(failed.size() + 88));
        EXPECT_EQ("UPDATE", win.Text(IDC_UPDATE_CAPTION));
        EXPECT_TRUE(win.Control(IDC_UPDATE).enabled);
        EXPECT_EQ(Label('D', "1.00"), win.Entries(IDC_DRIVE_LIST)[0]);
        EXPECT_EQ(Label('E', "1.05"), win.Entries(IDC_DRIVE_LIST)[1]);
    }});
    EXPECT_EQ(kExitPending, result);
}

TEST_F(UpdaterDialog, RerunWaitsForDriveThatSucceededBefore) {
    // D is slow and succeeds twice; E fails only its first download.
    Setup(Drive('D', "1.00", "delay_ms = 10\n") +
          Drive('E', "1.01", "fault = WRITE_BUFFER 1 check 4 44 00\n"));
    dlg->m_bAllDrives = true;
    int diagnosticsAtReport = 0;
    Run({
        [](CHeadlessWindow& win) { win.Click(IDC_UPDATE); },
        [&](CHeadlessWindow& win) {
            ASSERT_EQ("UPDATE", win.Text(IDC_UPDATE_CAPTION));
            win.Click(IDC_UPDATE);
            diagnosticsAtReport = DownloadsOf("D");
            EXPECT_EQ("REBOOT", win.Text(IDC_UPDATE_CAPTION));
        },
    });
    EXPECT_EQ(2, diagnosticsAtReport);
    EXPECT_EQ(kExitSuccess, result);
    // The report tells each drive's last run: E failed first, then was updated.
    const RunReport report = dlg->Report();
    ASSERT_EQ(2u, report.drives.size());
    for (const ReportDrive& d : report.drives) {
        EXPECT_EQ(DriveOutcome::Updated, d.outcome) << d.drive;
        EXPECT_EQ("", d.error) << d.drive;
        EXPECT_TRUE(d.verified) << d.drive;
    }
    EXPECT_EQ("1.05", report.drives[0].revisionBefore);  // D: updated by the first run
    EXPECT_EQ("1.01", report.drives[1].revisionBefore);
}

// After the run the screen tells a drive that runs the new firmware from one that takes it at
// its next start and from one that failed; the report for scripts tells the same per drive.
TEST_F(UpdaterDialog, VerifiedAfterRestartAndFailedToldApart) {
    UpdaterSpec wanted;
    wanted.onlyNewer = true;
    Setup(Drive('D', "1.00") + Drive('E', "1.01", "activates = restart\n") +
              Drive('F', "1.02", "fault = WRITE_BUFFER 2 check 3 0C 00\n") + Drive('G', "1.05"),
          wanted);
    dlg->m_bAllDrives = true;
    Run({[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); }});
    EXPECT_EQ(kExitPending, result);
    const std::string& message = w->Text(IDC_MESSAGE_AREA);
    EXPECT_EQ(0u,
              message.rfind("Updating was failed. Please repeat that. (Error data = 70 00 03 ", 0))
        << message;
    const std::string restart =
        "\nE: updated, effective after a restart (the drive still reports 1.01).";
    ASSERT_GE(message.size(), restart.size());
    EXPECT_EQ(restart, message.substr(message.size() - restart.size()));
    // The list shows what each drive reports.
    EXPECT_EQ((std::vector<std::string>{Label('D', "1.05"), Label('E', "1.01"), Label('F', "1.02"),
                                        Label('G', "1.05"), "*: All target drives. (4units)"}),
              w->Entries(IDC_DRIVE_LIST));
    const auto& last = w->progress.back();
    ASSERT_EQ(4u, last.size());
    EXPECT_EQ(1, last[0].verified);
    EXPECT_EQ(2, last[1].verified);
    EXPECT_EQ(0, last[2].verified);

    const RunReport report = dlg->Report();
    EXPECT_EQ(FileNamePart(path), report.updater);
    EXPECT_EQ("1.05", report.revision);
    ASSERT_EQ(4u, report.drives.size());
    const struct {
        DriveOutcome outcome;
        const char* before;
        const char* after;
        bool verified;
    } wantedDrives[] = {
        {DriveOutcome::Updated, "1.00", "1.05", true},
        {DriveOutcome::Updated, "1.01", "1.01", false},
        {DriveOutcome::Failed, "1.02", "", false},
        {DriveOutcome::Skipped, "1.05", "", false},
    };
    for (size_t i = 0; i < 4; ++i) {
        const ReportDrive& d = report.drives[i];
        SCOPED_TRACE(d.drive);
        EXPECT_EQ(Label(static_cast<char>('D' + i), wantedDrives[i].before), d.drive);
        EXPECT_EQ("QZEN", d.vendor);
        EXPECT_EQ("DVD-RAM KVS-Q42R", d.product);
        EXPECT_EQ(wantedDrives[i].outcome, d.outcome);
        EXPECT_EQ(wantedDrives[i].before, d.revisionBefore);
        EXPECT_EQ(wantedDrives[i].after, d.revisionAfter);
        EXPECT_EQ(wantedDrives[i].verified, d.verified);
        if (d.outcome != DriveOutcome::Failed) {
            EXPECT_EQ("", d.error);
        }
    }
    EXPECT_EQ(0u, report.drives[2].error.find("MEDIUM ERROR: write error (Error data = 70 00 03 "))
        << report.drives[2].error;

    // Every drive updated, one of them from its next start: success, REBOOT, and the words.
    Setup(Drive('D', "1.00") + Drive('E', "1.01", "activates = restart\n"));
    dlg->m_bAllDrives = true;
    Run({[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); }});
    EXPECT_EQ(kExitSuccess, result);
    EXPECT_EQ("Updating was completed successfully. Please reboot the PC." + restart,
              w->Text(IDC_MESSAGE_AREA));
    EXPECT_EQ("REBOOT", w->Text(IDC_UPDATE_CAPTION));
    EXPECT_EQ("1.01", sim->State()[1].revision);
}

// A run refused before any download: its drives are refused, with why; the others did not run.
TEST_F(UpdaterDialog, RefusedRunInTheReport) {
    Setup(Drive('D', "1.00", "medium = yes\n") + Drive('E', "1.01"));
    Run({[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); }});  // D, the first target
    EXPECT_EQ(kExitPending, result);
    const RunReport report = dlg->Report();
    ASSERT_EQ(2u, report.drives.size());
    EXPECT_EQ(DriveOutcome::Refused, report.drives[0].outcome);
    EXPECT_EQ("Please remove a disc from the drive before updating.", report.drives[0].error);
    EXPECT_EQ("1.00", report.drives[0].revisionBefore);
    EXPECT_EQ(DriveOutcome::NotRun, report.drives[1].outcome);
    EXPECT_EQ("", report.drives[1].error);
    EXPECT_EQ("1.01", report.drives[1].revisionBefore);
    EXPECT_FALSE(AnyWriteBuffer());
}

TEST_F(UpdaterDialog, DiscInDrive) {
    // Not silent: the run is refused before anything is written.
    Setup(Drive('D', "1.00") + Drive('E', "1.01", "medium = yes\n"));
    dlg->m_bAllDrives = true;
    Run({[](CHeadlessWindow& win) {
        win.Click(IDC_UPDATE);
        EXPECT_EQ("Please remove a disc from the drive before updating.",
                  win.Text(IDC_MESSAGE_AREA));
        EXPECT_TRUE(win.Control(IDC_UPDATE).enabled);
        EXPECT_FALSE(win.waitCursorSeen);
    }});
    EXPECT_EQ(kExitPending, result);
    EXPECT_FALSE(AnyWriteBuffer());
    EXPECT_TRUE(services.Sleeps().empty());

    // Silent: the disc is ejected, the run starts 7 s later and the dialog ends by itself.
    Setup(Drive('D', "1.00") + Drive('E', "1.01", "medium = yes\n"));
    dlg->m_bAllDrives = dlg->m_bSilent = dlg->m_bAutoStart = dlg->m_bAutoExit = true;
    Run();
    EXPECT_EQ(kExitSuccess, result);
    EXPECT_FALSE(w->everShown);
    EXPECT_TRUE(w->showRequested);
    const auto cdbsE = sim->Cdbs("E");
    const auto eject = std::find(cdbsE.begin(), cdbsE.end(), kEject);
    ASSERT_NE(cdbsE.end(), eject);
    EXPECT_LT(eject - cdbsE.begin(),
              std::find_if(cdbsE.begin(), cdbsE.end(), IsWriteBuffer) - cdbsE.begin());
    const auto cdbsD = sim->Cdbs("D");
    EXPECT_EQ(0, std::count(cdbsD.begin(), cdbsD.end(), kEject));
    const auto sleeps = services.Sleeps();
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(7000u, sleeps.front());
    EXPECT_FALSE(sim->State()[1].medium);
    EXPECT_EQ(1, DownloadsOf("E"));
}

TEST_F(UpdaterDialog, NoTarget) {
    struct Case {
        const char* customer;
        bool silent;
        int exitCode;
    } cases[] = {
        {"", false, kExitPending}, {"", true, kExitPending}, {"HPDTOCPE", true, kExitNoTargetCpe}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.customer) + (c.silent ? " silent" : ""));
        UpdaterSpec wanted;
        wanted.customer = c.customer;
        Setup(Drive('D', "2.00"), wanted);  // outside the filter 1.0*
        dlg->m_bSilent = dlg->m_bAutoStart = dlg->m_bAutoExit = c.silent;
        Run({[](CHeadlessWindow& win) {
            EXPECT_EQ("Can't find the target drive.", win.Text(IDC_INSTRUCTION));
            EXPECT_FALSE(win.Control(IDC_UPDATE).enabled);
            EXPECT_TRUE(win.Entries(IDC_DRIVE_LIST).empty());
            EXPECT_EQ("", win.Text(IDC_CUR_VERSION));
        }});
        EXPECT_EQ(c.exitCode, result);
        EXPECT_EQ(!c.silent, w->everShown);
        EXPECT_FALSE(w->stuckHidden);
    }
}

TEST_F(UpdaterDialog, DellNoticeShownOnceAfterFirstDisplay) {
    for (bool autoStart : {false, true}) {
        SCOPED_TRACE(autoStart ? "au" : "no switch");
        UpdaterSpec wanted;
        wanted.customer = "DELL";
        Setup(Drive('D', "1.05"), wanted);
        dlg->m_bAutoStart = autoStart;
        Run();
        CHeadlessWindow* notice = windows.Find(IDD_MESSAGE);
        if (autoStart) {
            EXPECT_EQ(nullptr, notice);
            EXPECT_EQ(1, DownloadsOf("D"));  // the automatic start ran the update
        } else {
            ASSERT_NE(nullptr, notice);
            EXPECT_EQ(1, windows.Count(IDD_MESSAGE));
            EXPECT_EQ("The drive will be updated to same or older version.",
                      notice->Text(IDC_MESSAGE_TEXT));
            EXPECT_EQ(w, notice->parent);
            EXPECT_EQ(0, DownloadsOf("D"));  // the notice alone does not start a run
        }
    }
}

TEST_F(UpdaterDialog, RestartOutcomes) {
    struct Case {
        ShutdownPrivilege privilege;
        bool accepted;
        int requests;
        std::string message;
    } cases[] = {
        {ShutdownPrivilege::Enabled, true, 1, "Now the PC is rebooting..."},
        {ShutdownPrivilege::Enabled, false, 1, "Rebooting was failed."},
        {ShutdownPrivilege::NoToken, false, 1, "Rebooting was failed."},
        {ShutdownPrivilege::NoToken, true, 1, LoadText(IDS_UPDATE_OK)},
        {ShutdownPrivilege::NotEnabled, true, 0, LoadText(IDS_UPDATE_OK)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Setup(Drive('D', "1.00"));
        services.privilege = c.privilege;
        services.restartAccepted = c.accepted;
        services.restartRequests = 0;
        Run({[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); },
             [](CHeadlessWindow& win) { win.Click(IDC_UPDATE); }});
        EXPECT_EQ(c.requests, services.restartRequests);
        EXPECT_EQ(c.message, w->Text(IDC_MESSAGE_AREA));
        EXPECT_EQ("REBOOT", w->Text(IDC_UPDATE_CAPTION));
        EXPECT_EQ(kExitSuccess, result);  // EXIT after REBOOT ends with 0
    }
}

TEST_F(UpdaterDialog, BrokenPackageTouchesNoDrive) {
    for (bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent" : "shown");
        UpdaterSpec wanted;
        wanted.breakImage = true;
        Setup(Drive('D', "1.00"), wanted);
        ASSERT_TRUE(data->IsPackageBroken());
        dlg->m_bSilent = dlg->m_bAutoStart = dlg->m_bAutoExit = silent;
        Run({[](CHeadlessWindow& win) {
            EXPECT_EQ("The file may be broken.", win.Text(IDC_MESSAGE_AREA));
            EXPECT_FALSE(win.Control(IDC_UPDATE).enabled);
            win.SelectEntry(IDC_DRIVE_LIST, 0);  // no effect
            EXPECT_FALSE(win.Control(IDC_UPDATE).enabled);
            win.PostCommand(IDC_UPDATE);
        }});
        EXPECT_EQ(kExitPending, result);
        EXPECT_FALSE(w->stuckHidden);  // a silent run ends instead of waiting unseen
        EXPECT_FALSE(AnyWriteBuffer());
        EXPECT_EQ(0, services.threadsStarted);
    }
}

TEST_F(UpdaterDialog, SilentRunWhoseStartCannotRunEnds) {
    UpdaterSpec wanted;
    wanted.onlyNewer = true;
    Setup(Drive('D', "1.05"), wanted);
    dlg->m_bSilent = dlg->m_bAutoStart = dlg->m_bAutoExit = true;
    Run();
    EXPECT_FALSE(w->stuckHidden);
    EXPECT_EQ(kExitPending, result);
}

TEST_F(UpdaterDialog, AboutBoxFollowsHideCopyright) {
    for (bool hide : {false, true}) {
        UpdaterSpec wanted;
        wanted.hideCopyright = hide;
        Setup(Drive('D', "1.00"), wanted);
        Run({[](CHeadlessWindow& win) { win.SysCommand(IDM_ABOUTBOX | 0x3); }});
        CHeadlessWindow* about = windows.Find(IDD_ABOUT);
        ASSERT_NE(nullptr, about);
        EXPECT_EQ(w, about->parent);
        EXPECT_EQ(!hide, about->Control(IDC_COPYRIGHT).shown);
    }
}

TEST_F(UpdaterDialog, QuickBlazeTitleAndIcon) {
    UpdaterSpec wanted;
    wanted.customer = "HPBPC";
    Setup(Drive('D', "1.00"), wanted);
    Run();
    EXPECT_EQ("QUICKBLAZE 1.00", w->title);
    EXPECT_EQ(IDI_QUICKBLAZE, w->bigIcon);
    EXPECT_EQ(IDI_QUICKBLAZE, w->smallIcon);
}

// --- Unattended run and result log ---

TEST_F(UpdaterDialog, UnattendedLogOfOneDrive) {
    Setup(Drive('D', "1.00") + Drive('E', "1.01"));
    dlg->m_bUnattended = true;
    dlg->m_strDriveLetter = "E";
    dlg->m_strExePath = std::string("fw") + kPathSeparator + "upd.exe";
    Run();
    EXPECT_EQ(kExitUnattended, result);
    EXPECT_FALSE(w->everShown);
    EXPECT_TRUE(data->m_bLogMode);
    EXPECT_EQ("FILE=UPD.EXE\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.01\r\nNEW_REV=1.05\r\nSTATUS=OK\r\n",
              Log());
    EXPECT_EQ(0, DownloadsOf("D"));
    EXPECT_EQ(1, DownloadsOf("E"));
    EXPECT_EQ(0, services.threadsStarted);  // on the dialog's own thread
    EXPECT_TRUE(windows.Find(IDD_MESSAGE) == nullptr);
}

TEST_F(UpdaterDialog, UnattendedLogCases) {
    struct Case {
        const char* name;
        std::string drives;
        bool all;
        bool silent;
        std::string letter;  // dl=
        bool onlyNewer;
        int exitCode;
        std::string log;      // after FILE=
        std::string touched;  // drives that got a download; the others got no write at all
    } cases[] = {
        {"no target", Drive('D', "2.00"), false, false, "", false, kExitUnattended,
         "MODEL=NO_DRIVE\r\nOLD_REV=\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n", ""},
        {"no target, silent", Drive('D', "2.00"), false, true, "", false, kExitPending,
         "MODEL=NO_DRIVE\r\nOLD_REV=\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n", ""},
        {"drive already current", Drive('D', "1.05"), false, false, "", false, kExitUnattended,
         "MODEL=NO_DRIVE\r\nOLD_REV=\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n", ""},
        {"download fails", Drive('D', "1.00", "fault = SEND_DIAGNOSTIC 1 check 4 44 00\n"), false,
         false, "", false, kExitUnattended,
         "MODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n", "D"},
        {"all drives", Drive('D', "1.02") + Drive('E', "1.01"), true, false, "", false,
         kExitUnattended, "MODEL=KVS-Q42R\r\nOLD_REV=1.02\r\nNEW_REV=1.05\r\nSTATUS=OK\r\n", "DE"},
        // The log names the drive that was not updated.
        {"all drives, second fails",
         Drive('D', "1.02") + Drive('E', "1.01", "fault = WRITE_BUFFER 1 check 4 44 00\n"), true,
         false, "", false, kExitUnattended,
         "MODEL=KVS-Q42R\r\nOLD_REV=1.01\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n", "DE"},
        // dl= that names no target: nothing is touched, whatever the first target is.
        {"dl= of no drive", Drive('D', "1.00") + Drive('E', "1.01"), false, false, "Z", false,
         kExitUnattended, "MODEL=NO_DRIVE\r\nOLD_REV=\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n", ""},
        {"dl= of a current drive", Drive('D', "1.00") + Drive('E', "1.05"), false, false, "E",
         false, kExitUnattended, "MODEL=NO_DRIVE\r\nOLD_REV=\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n", ""},
        {"dl= of no drive, all", Drive('D', "1.00"), true, false, "Z", false, kExitUnattended,
         "MODEL=NO_DRIVE\r\nOLD_REV=\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n", ""},
        {"dl= of the second", Drive('D', "1.00") + Drive('E', "1.01"), false, false, "E", false,
         kExitUnattended, "MODEL=KVS-Q42R\r\nOLD_REV=1.01\r\nNEW_REV=1.05\r\nSTATUS=OK\r\n", "E"},
        // "Only newer" holds as in the interactive run.
        {"only newer, drive newer", Drive('D', "1.07"), false, false, "", true, kExitUnattended,
         "MODEL=KVS-Q42R\r\nOLD_REV=1.07\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n", ""},
        {"only newer, drive older", Drive('D', "1.00"), false, false, "", true, kExitUnattended,
         "MODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=1.05\r\nSTATUS=OK\r\n", "D"},
        {"only newer, all, second newer", Drive('D', "1.00") + Drive('E', "1.07"), true, false, "",
         true, kExitUnattended, "MODEL=KVS-Q42R\r\nOLD_REV=1.07\r\nNEW_REV=1.05\r\nSTATUS=NG\r\n",
         "D"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdaterSpec wanted;
        wanted.onlyNewer = c.onlyNewer;
        Setup(c.drives, wanted);
        dlg->m_bUnattended = true;
        dlg->m_bAllDrives = c.all;
        dlg->m_bSilent = c.silent;
        dlg->m_strDriveLetter = c.letter;
        Run();
        EXPECT_EQ(c.exitCode, result);
        EXPECT_EQ("FILE=UPD.EXE\r\n" + c.log, Log());
        for (const auto& state : sim->State()) {
            const bool touched = c.touched.find(state.id) != std::string::npos;
            EXPECT_EQ(touched, WritesTo(state.id) > 0) << state.id;
        }
    }
}

TEST_F(UpdaterDialog, UnattendedBrokenPackageLogsWithoutDownload) {
    UpdaterSpec wanted;
    wanted.breakImage = true;
    Setup(Drive('D', "1.00"), wanted);
    dlg->m_bUnattended = true;
    Run();
    EXPECT_EQ(kExitUnattended, result);
    EXPECT_NE(std::string::npos, Log().find("STATUS=NG\r\n"));
    EXPECT_FALSE(AnyWriteBuffer());
    EXPECT_EQ(0, DownloadsOf("D"));
}

// Reads the result log when the first command reaches a drive ("(none)" when there is none).
class LogWatchingTransport : public IScsiTransport {
public:
    LogWatchingTransport(std::unique_ptr<IScsiTransport> inner, std::string log,
                         std::vector<std::string>* seen)
        : m_inner(std::move(inner)), m_log(std::move(log)), m_seen(seen) {}
    DriveTransport Kind() const override { return m_inner->Kind(); }
    std::vector<DriveAddress> Candidates(bool cdromOnly) override {
        return m_inner->Candidates(cdromOnly);
    }
    bool Open(const DriveAddress& addr) override { return m_inner->Open(addr); }
    void Close() override { m_inner->Close(); }
    TransportResult Execute(const ScsiCommand& cmd) override {
        if (m_seen->empty()) {
            std::ifstream in(m_log, std::ios::binary);
            m_seen->push_back(in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)");
        }
        return m_inner->Execute(cmd);
    }
    const uint8_t* Sense() const override { return m_inner->Sense(); }

private:
    std::unique_ptr<IScsiTransport> m_inner;
    std::string m_log;
    std::vector<std::string>* m_seen;
};

TEST_F(UpdaterDialog, UnattendedLogOfAnEarlierRunNeverSpeaksForThisOne) {
    const std::string stale =
        "FILE=UPD.EXE\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=1.05\r\nSTATUS=OK\r\n";
    struct Case {
        const char* name;
        bool folderMissing;
        bool silent;
        int exitCode;
        int downloads;
    } cases[] = {
        {"written anew", false, false, kExitUnattended, 1},
        {"no log can be written", true, false, kExitLogNotWritten, 0},
        {"no log can be written, silent", true, true, kExitLogNotWritten, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Setup(Drive('D', c.silent ? "2.00" : "1.00"));  // silent: no target either
        testsupport::WriteAll(dir.File(kResultLogName),
                              std::vector<uint8_t>(stale.begin(), stale.end()));
        services.windowsFolder = c.folderMissing ? dir.File("missing") : dir.path();
        std::vector<std::string> atFirstCommand;
        const std::string file = sim->DriveFile();
        const std::string log = services.windowsFolder + kPathSeparator + kResultLogName;
        SetTransportFactory([&atFirstCommand, file, log] {
            return std::make_unique<LogWatchingTransport>(CreateSimulatorTransport(file), log,
                                                          &atFirstCommand);
        });
        data = std::make_unique<CUpdateData>();  // its search goes through the watcher too
        data->ReadPackage(path);
        dlg->m_pUpdateData = data.get();
        dlg->m_bUnattended = true;
        dlg->m_bSilent = c.silent;
        Run();
        SetTransportFactory([file] { return CreateSimulatorTransport(file); });
        EXPECT_EQ(c.exitCode, result);
        EXPECT_EQ(c.downloads, DownloadsOf("D"));
        EXPECT_EQ(c.downloads, WritesTo("D") > 0 ? 1 : 0);
        ASSERT_EQ(1u, atFirstCommand.size());
        // Emptied before the first drive command (the search), or never there.
        EXPECT_EQ(c.folderMissing ? "(none)" : "", atFirstCommand[0]);
        if (!c.folderMissing) {
            EXPECT_EQ(0u, Log().find("FILE=UPD.EXE\r\n"));
            EXPECT_NE(std::string::npos, Log().find("OLD_REV=1.00\r\nNEW_REV=1.05\r\nSTATUS=OK"));
        }
    }
    services.windowsFolder = dir.path();
}

// --- Conditions that cannot ruin a drive ---

// Every command a run sent after the search and the revision reads (INQUIRY).
std::vector<std::string> RunCommands(const SimulatedDrives& sim) {
    std::vector<std::string> cdbs;
    for (const std::string& cdb : sim.Cdbs()) {
        if (cdb.rfind("12 ", 0) != 0)
            cdbs.push_back(cdb);
    }
    return cdbs;
}

TEST_F(UpdaterDialog, LowBatteryWithoutExternalPowerStartsNoRun) {
    struct Power {
        bool onBattery;
        int percent;
        bool refused;
    } powers[] = {
        {true, 24, true}, {true, 0, true}, {true, 25, false}, {false, 5, false}, {true, -1, false}};
    enum Start { Click, Silent, Unattended };
    for (const Power& p : powers) {
        for (Start start : {Click, Silent, Unattended}) {
            SCOPED_TRACE(std::to_string(p.percent) + (p.onBattery ? " on battery" : " external") +
                         " start " + std::to_string(start));
            const size_t before = services.Reported().size();
            services.power.onBattery = p.onBattery;
            services.power.batteryPercent = p.percent;
            Setup(Drive('D', "1.00") + Drive('E', "1.01"));
            dlg->m_bAllDrives = true;
            dlg->m_bSilent = dlg->m_bAutoStart = dlg->m_bAutoExit = start == Silent;
            dlg->m_bUnattended = start == Unattended;
            std::string message;
            Run({[&](CHeadlessWindow& win) {
                if (start == Click) {
                    win.Click(IDC_UPDATE);
                    message = win.Text(IDC_MESSAGE_AREA);
                }
            }});
            if (!p.refused) {
                EXPECT_EQ(start == Unattended ? kExitUnattended : kExitSuccess, result);
                EXPECT_EQ(1, DownloadsOf("D"));
                EXPECT_EQ(before, services.Reported().size());
                continue;
            }
            EXPECT_EQ(start == Unattended ? kExitUnattended : kExitPending, result);
            EXPECT_EQ(std::vector<std::string>(), RunCommands(*sim));
            const std::string words = "The PC runs on battery (" + std::to_string(p.percent) +
                                      " % charged) without external power";
            if (start == Click) {
                EXPECT_EQ(0u,
                          message.rfind("Updating was failed. Please repeat that.\n" + words, 0))
                    << message;
                EXPECT_EQ(before, services.Reported().size());  // a window said it
            } else {
                const auto lines = ReportedSince(before);
                ASSERT_EQ(2u, lines.size());
                EXPECT_EQ(0u, lines[0].rfind(Label('D', "1.00") + ": " + words, 0)) << lines[0];
                EXPECT_EQ(0u, lines[1].rfind(Label('E', "1.01") + ": " + words, 0)) << lines[1];
            }
            if (start == Unattended) {
                EXPECT_EQ("FILE=" + ToUpper(FileNamePart(path)) +
                              "\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=1.05\r\n"
                              "STATUS=NG\r\n",
                          Log());
            }
        }
    }
}

TEST_F(UpdaterDialog, PowerLostWhileTheDiscIsEjectedStartsNoRun) {
    // The charger is pulled during the 7 s after the eject of a silent run.
    Setup(Drive('D', "1.00", "medium = yes\n"));
    services.power.batteryPercent = 20;
    services.onSleep = [this](unsigned ms) { services.power.onBattery = ms == 7000; };
    dlg->m_bSilent = dlg->m_bAutoStart = dlg->m_bAutoExit = true;
    Run();
    EXPECT_EQ(kExitPending, result);
    EXPECT_EQ(0, DownloadsOf("D"));
    EXPECT_FALSE(AnyWriteBuffer());
    const auto lines = services.Reported();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("The PC runs on battery (20 % charged)"))
        << lines[0];
}

TEST_F(UpdaterDialog, UnattendedRunEjectsADiscFirstAndNeverWritesADriveThatKeepsIt) {
    // The disc comes out, the drives get 7 s, then the firmware goes in.
    Setup(Drive('D', "1.00", "medium = yes\n"));
    dlg->m_bUnattended = true;
    Run();
    EXPECT_EQ(kExitUnattended, result);
    const auto cdbs = sim->Cdbs("D");
    const auto eject = std::find(cdbs.begin(), cdbs.end(), kEject);
    ASSERT_NE(cdbs.end(), eject);
    EXPECT_LT(eject - cdbs.begin(),
              std::find_if(cdbs.begin(), cdbs.end(), IsWriteBuffer) - cdbs.begin());
    ASSERT_FALSE(services.Sleeps().empty());
    EXPECT_EQ(7000u, services.Sleeps().front());
    EXPECT_EQ(1, DownloadsOf("D"));
    EXPECT_NE(std::string::npos, Log().find("STATUS=OK"));

    // A tray that does not open: that drive gets nothing and the log says NG; the other drive
    // of the run is written. The same in a silent run, whose exit code tells.
    const std::string stuck = "medium = yes\nfault = START_STOP_UNIT 1+ check 5 53 02\n";
    for (bool unattended : {true, false}) {
        SCOPED_TRACE(unattended ? "unattended" : "silent");
        const size_t before = services.Reported().size();
        Setup(Drive('D', "1.00") + Drive('E', "1.01", stuck));
        dlg->m_bAllDrives = dlg->m_bSilent = true;
        dlg->m_bUnattended = unattended;
        dlg->m_bAutoStart = dlg->m_bAutoExit = !unattended;
        Run();
        EXPECT_EQ(unattended ? kExitUnattended : kExitPending, result);
        EXPECT_TRUE(sim->State()[1].medium);
        const auto cdbsE = sim->Cdbs("E");
        EXPECT_EQ(0, std::count_if(cdbsE.begin(), cdbsE.end(), IsWriteBuffer));
        EXPECT_EQ(0, DownloadsOf("E"));
        EXPECT_EQ(1, DownloadsOf("D"));
        if (unattended) {
            EXPECT_NE(std::string::npos, Log().find("STATUS=NG"));
        }
        EXPECT_EQ(std::vector<std::string>{Label('E', "1.01") +
                                           ": A disc is still in the drive after the eject; no "
                                           "firmware was sent to it."},
                  ReportedSince(before));
    }
}

TEST_F(UpdaterDialog, SilentRunSaysWhichDrivesFailedAndWhy) {
    // A successful silent run says nothing.
    Setup(Drive('D', "1.00") + Drive('E', "1.01"));
    dlg->m_bAllDrives = dlg->m_bSilent = dlg->m_bAutoStart = dlg->m_bAutoExit = true;
    Run();
    EXPECT_EQ(kExitSuccess, result);
    EXPECT_TRUE(services.Reported().empty());

    // One line per failed drive, none for the drive that was updated.
    size_t before = services.Reported().size();
    Setup(Drive('D', "1.00", "fault = WRITE_BUFFER 2 gone\n") + Drive('E', "1.01") +
          Drive('F', "1.02", "fault = SEND_DIAGNOSTIC 1 check 4 44 00\n") +
          Drive('G', "1.03", "fault = WRITE_BUFFER 3 check 5 2C 00\n"));
    dlg->m_bAllDrives = dlg->m_bSilent = dlg->m_bAutoStart = dlg->m_bAutoExit = true;
    Run();
    EXPECT_EQ(kExitPending, result);
    const auto lines = ReportedSince(before);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(
        0u, lines[0].rfind(Label('D', "1.00") + ": Updating was failed. Please repeat that. (", 0))
        << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("is gone")) << lines[0];
    EXPECT_EQ(0u, lines[1].rfind(Label('F', "1.02") + ": Updating was failed.", 0)) << lines[1];
    EXPECT_NE(std::string::npos, lines[1].find("44")) << lines[1];
    // Refused by the drive with 2C/00 during the download: a disc, in the run's own words.
    EXPECT_EQ(0u,
              lines[2].rfind(
                  Label('G', "1.03") + ": Please remove a disc from the drive before updating.", 0))
        << lines[2];
    for (const std::string& line : lines)
        EXPECT_EQ(std::string::npos, line.find('\n'));

    // No target, silent: one line that says so.
    before = services.Reported().size();
    Setup(Drive('D', "2.00"));
    dlg->m_bSilent = dlg->m_bAutoStart = dlg->m_bAutoExit = true;
    Run();
    EXPECT_EQ(std::vector<std::string>{"Can't find the target drive."}, ReportedSince(before));
}

}  // namespace
