// The update run without a window: the merging of drive results into the run result and
// the exit code, the "only newer" comparison, runs it refuses, and a run polled to its end.
#include "download/update_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "package/update_data.h"
#include "support/fake_services.h"
#include "support/sim_support.h"
#include "support/updater_builder.h"

using testsupport::FakeServices;
using testsupport::SimulatedDrives;
using testsupport::TempDir;
using testsupport::UpdaterSpec;

namespace {

const char kReason[] = "Now updating.";

std::string Drive(char letter, const std::string& revision, const std::string& extra = "") {
    return std::string("[drive]\nletter = ") + letter +
           "\nvendor = \"QZEN\"\nproduct = \"DVD-RAM KVS-Q42R\"\nrevision = \"" + revision +
           "\"\n" + extra;
}

// Simulated drives, an updater for them, its package with the targets searched, and a run.
struct RunFixture {
    RunFixture(const std::string& drives, const UpdaterSpec& wanted) : sim(drives) {
        data.ReadPackage(testsupport::BuildUpdater(dir.path(), wanted));
        data.SearchTargets();
        run.CreateExecuters(data);
        sim.ClearJournal();
    }

    TempDir dir;
    SimulatedDrives sim;
    FakeServices services;
    CUpdateData data;
    CUpdateRun run{services, kReason};
};

TEST(UpdateRun, DriveResultsMakeTheRunResultAndTheExitCode) {
    struct Case {
        const char* name;
        std::vector<uint8_t> drives;
        const char* customer;
        uint8_t result;
        int failed;
        int exitCode;
    } cases[] = {
        {"updated", {0}, "", ResultSucceeded, -1, kExitSuccess},
        {"updated, HPDTOCPE", {0, 0}, "HPDTOCPE", ResultSucceeded, -1, kExitRebootRequired},
        {"updated beside skipped", {14, 0, 14}, "", ResultSucceeded, -1, kExitSuccess},
        {"all skipped", {14, 14}, "", ResultSkipped, -1, kExitNotNecessary},
        {"all skipped, HPDTOCPE", {14}, "HPDTOCPE", ResultSkipped, -1, kExitNotNecessary},
        {"failed after a skip", {14, 11}, "", ResultFailed, 1, kExitPending},
        {"failed before a skip", {11, 14}, "", ResultFailed, 0, kExitPending},
        {"the first failure decides", {0, 12, 11}, "", ResultSequenceError, 1, kExitPending},
        {"failed, HPDTOCPE", {0, 11}, "HPDTOCPE", ResultFailed, 1, kExitPending},
        {"a download still running", {0, 255}, "HPDTOCPE", ResultPending, 1, kExitPending},
        {"no drive", {}, "", ResultFailed, -1, kExitPending},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int failed = 7;
        const uint8_t result = CUpdateRun::MergeResults(c.drives, &failed);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.failed, failed);
        EXPECT_EQ(c.exitCode, CUpdateRun::ExitCode(result, c.customer));
    }
    EXPECT_EQ(kExitPending, CUpdateRun::ExitCodeWithoutTarget(""));
    EXPECT_EQ(kExitPending, CUpdateRun::ExitCodeWithoutTarget("HPCPC"));
    EXPECT_EQ(kExitNoTargetCpe, CUpdateRun::ExitCodeWithoutTarget("HPDTOCPE"));
}

TEST(UpdateRun, NewerFirmwareByRevisionAndShownMinorRevision) {
    struct Case {
        const char* current;
        const char* currentMinor;
        const char* next;
        const char* nextMinor;
        bool minorHidden;
        bool newer;
    } cases[] = {
        {"1.00", "", "1.05", "", true, true},      {"1.05", "", "1.05", "", true, false},
        {"1.07", "", "1.05", "", true, false},     {"1.05", "AA", "1.05", "AB", true, false},
        {"1.05", "AA", "1.05", "AB", false, true}, {"1.05", "AB", "1.05", "AB", false, false},
        {"1.05", "", "1.05", "AB", false, true},   {"1.06", "", "1.05", "AB", false, false},
        {"1.04", "ZZ", "1.05", "AA", false, true},
    };
    CUpdateData data;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.current) + "-" + c.currentMinor + " / " + c.next + "-" +
                     c.nextMinor + (c.minorHidden ? ", minor hidden" : ""));
        data.m_strCurRevision = c.current;
        data.m_strCurMinorRev = c.currentMinor;
        data.m_strNewRevision = c.next;
        data.m_strNewMinorRev = c.nextMinor;
        data.m_bMinorRevHidden = c.minorHidden;
        EXPECT_EQ(c.newer, CUpdateRun::IsNewerFirmware(data));
    }
}

// Whatever its caller checked before: a run of no target, of a broken package or without
// the privilege the drives need writes nothing and does not count as a success.
TEST(UpdateRun, RefusedRunsWriteNothing) {
    struct Case {
        const char* name;
        RunSelection targets;
        bool needsPrivilege;
        bool breakImage;
    } cases[] = {
        {"past the targets", {2, 2}, false, false},  {"empty", {1, 0}, false, false},
        {"before the first", {-1, 0}, false, false}, {"privilege lacking", {0, 1}, true, false},
        {"broken package", {0, 1}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdaterSpec wanted;
        wanted.breakImage = c.breakImage;
        RunFixture f((c.needsPrivilege ? "needs_privilege = yes\n" : "") + Drive('D', "1.00") +
                         Drive('E', "1.01"),
                     wanted);
        ASSERT_EQ(2, f.run.TargetCount());
        f.services.drivePrivilege = false;
        const bool selected = c.targets.first == 0;
        EXPECT_EQ(c.needsPrivilege, f.run.LacksDrivePrivilege());

        int ended = 0;
        EXPECT_FALSE(f.run.Start(c.targets, [&ended] { ++ended; }));
        EXPECT_TRUE(f.run.Poll());
        EXPECT_TRUE(f.run.Progress().empty());
        const RunOutcome outcome = f.run.Outcome();
        EXPECT_EQ(ResultFailed, outcome.result);
        EXPECT_TRUE(outcome.updated.empty());
        EXPECT_TRUE(f.sim.Cdbs().empty());
        EXPECT_TRUE(f.services.Events().empty());  // nothing held off
        EXPECT_EQ(0, f.services.threadsStarted);
        EXPECT_EQ(0, ended);

        // The unattended run reads the drives' revisions, and only of a real selection.
        const UnattendedOutcome unattended = f.run.RunUnattended(c.targets);
        EXPECT_FALSE(unattended.ok);
        EXPECT_EQ(selected ? 0 : -1, unattended.target);
        if (!selected) {
            EXPECT_TRUE(f.sim.Cdbs().empty());
        }
        for (const std::string& cdb : f.sim.Cdbs())
            EXPECT_EQ("12", cdb.substr(0, 2)) << cdb;
    }
}

TEST(UpdateRun, PolledToItsEndWithoutAWindow) {
    // D updates, E fails at its first chunk, F is current and skipped ("only newer").
    UpdaterSpec wanted;
    wanted.onlyNewer = true;
    RunFixture f(Drive('D', "1.00", "delay_ms = 5\n") +
                     Drive('E', "1.01", "fault = WRITE_BUFFER 1 check 4 44 00\n") +
                     Drive('F', "1.05"),
                 wanted);
    std::atomic<int> ended{0};
    ASSERT_TRUE(f.run.Start(RunSelection{0, 2}, [&ended] { ++ended; }));
    while (!f.run.Poll())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    EXPECT_EQ(2, ended.load());  // one call per worker; the skipped drive has none
    EXPECT_EQ(2, f.services.threadsStarted.load());
    const RunOutcome outcome = f.run.Outcome();
    EXPECT_EQ(ResultFailed, outcome.result);
    EXPECT_EQ(1, outcome.failedTarget);
    EXPECT_EQ(std::vector<int>{0}, outcome.updated);
    EXPECT_EQ(0u, f.run.Executer(1).GetErrorText().find(" (Error data = 70 00 04 "));

    const std::vector<DriveProgress> drives = f.run.Progress();
    ASSERT_EQ(3u, drives.size());
    const uint8_t results[] = {ResultSucceeded, ResultFailed, ResultSkipped};
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(j, drives[static_cast<size_t>(j)].target);
        EXPECT_EQ(results[j], drives[static_cast<size_t>(j)].result);
    }
    EXPECT_EQ(f.data.GetFirmwareLength(), drives[0].bytesSent);
    EXPECT_EQ(0u, drives[1].bytesSent);
    EXPECT_EQ(50, CUpdateRun::Percent(drives));  // F does not count

    // Sleep and shutdown were held off from the start until Poll saw the end.
    const std::vector<std::string> events = f.services.Events();
    ASSERT_EQ(8u, events.size());
    EXPECT_EQ("awake", events[0]);
    EXPECT_EQ(std::string("block ") + kReason, events[1]);
    EXPECT_EQ("unblock", events[6]);
    EXPECT_EQ("awake off", events[7]);
}

}  // namespace
