// Fault runs: every command of the download sequence fails once (sense data, 2C/00, a
// transport failure) or the drive stops answering, while other drives of the same run
// download in parallel. Each run ends bounded, with the right result and error text, and
// leaves the other drives fully updated.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "download/update_executer.h"
#include "package/update_data.h"
#include "support/fake_services.h"
#include "support/headless_window.h"
#include "support/sim_support.h"
#include "support/test_support.h"
#include "support/updater_builder.h"
#include "ui/strings.h"
#include "ui/varnel_dlg.h"

using testsupport::MakeImage;
using testsupport::SimulatedDrives;

namespace {

const std::string kZeroText =
    " (Error data = 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 )";

// The error text of a CHECK CONDITION with fixed-format sense data from the simulator.
std::string SenseText(unsigned key, unsigned asc, unsigned ascq) {
    char buf[100];
    std::snprintf(buf, sizeof buf,
                  " (Error data = 70 00 %02X 00 00 00 00 0A 00 00 00 00 %02X %02X 00 00 00 00 00 "
                  "00 00 00 00 00 )",
                  key, asc, ascq);
    return buf;
}

std::string Chunk(int mode, uint32_t offset, uint32_t length) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "3B %02X 00 %02X %02X %02X %02X %02X %02X 00", mode,
                  (offset >> 16) & 0xFF, (offset >> 8) & 0xFF, offset & 0xFF, (length >> 16) & 0xFF,
                  (length >> 8) & 0xFF, length & 0xFF);
    return buf;
}

// MAIN image of three chunks (first, middle, last) and a CORE image of one.
const uint32_t kMainTotal = 70000;
const uint32_t kCoreTotal = 1024 + 2000;

// The whole sequence for a listed model, one token per command.
const std::map<std::string, std::string> kCommands = {
    {"R", "3C 05 04 00 07 D4 00 00 08 44"},  // setting block read
    {"W", "3B 05 04 00 07 D4 00 00 08 44"},  // setting block write
    {"1", Chunk(2, 0, 0x8000)},
    {"2", Chunk(2, 0x8000, 0x8000)},
    {"3", Chunk(5, 0x10000, kMainTotal - 0x10000)},
    {"4", Chunk(5, 0, kCoreTotal)},
    {"D", "1D 01 00 00 06 00"},
    {"T", "00 00 00 00 00 00"},
};
// ... and the TEST UNIT READY of the check after the download (its INQUIRY is left out with
// the others).
const char* kFullSequence = "R W 1 2 3 4 D T R W T";

std::vector<std::string> Commands(const std::string& tokens) {
    std::vector<std::string> out;
    std::istringstream in(tokens);
    std::string t;
    while (in >> t)
        out.push_back(kCommands.at(t));
    return out;
}

// D is the drive that fails; E (a listed model too) and F must not notice.
std::string Drives(const std::string& faultOfD) {
    return "[drive]\nletter = D\nproduct = \"DVDRAM KXS-7350P\"\nrevision = \"1.00\"\n"
           "medium = yes\ndelay_ms = 1\n" +
           faultOfD +
           "[drive]\nletter = E\nproduct = \"DVDRAM KXS-7350P\"\nrevision = \"1.00\"\n"
           "medium = yes\ndelay_ms = 1\n"
           "[drive]\nletter = F\nproduct = \"DVD-RAM KVS-Q42R\"\nrevision = \"1.00\"\n"
           "medium = yes\ndelay_ms = 1\n";
}

struct DriveOutcome {
    uint8_t result = ResultPending;
    std::string error;
};

// One enumeration, then one download object per drive it listed, as in the updater dialog.
std::vector<std::unique_ptr<CUpdateExecuter>> MakeExecuters(const std::vector<uint8_t>& body) {
    CDriveControl search;
    search.EnumerateDrives(true);
    std::vector<std::unique_ptr<CUpdateExecuter>> execs;
    for (unsigned i = 0; i < 3; ++i) {
        auto e = std::make_unique<CUpdateExecuter>();
        e->SetSleep([](unsigned) {});
        e->SetImage(body.data(), static_cast<uint32_t>(body.size()));
        e->SelectDrive(search.GetDriveInfo(i));
        execs.push_back(std::move(e));
    }
    return execs;
}

// Downloads into all three drives at once, like the update run; gives up (and ends the test
// program, since a stuck worker cannot be joined) when a download does not end in time.
std::vector<DriveOutcome> RunAll(std::vector<std::unique_ptr<CUpdateExecuter>>& execs) {
    std::vector<std::thread> threads;
    for (auto& e : execs) {
        e->SetResult(ResultPending);
        threads.emplace_back([&e] { e->Download(); });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        bool pending = false;
        for (auto& e : execs)
            pending = pending || e->GetResult() == ResultPending;
        if (!pending)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "a download did not end within 30 s\n");
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (auto& t : threads)
        t.join();
    std::vector<DriveOutcome> out;
    for (auto& e : execs)
        out.push_back({e->GetResult(), e->GetErrorText()});
    return out;
}

std::vector<uint8_t> Body() {
    std::vector<uint8_t> body = MakeImage(true, kMainTotal, "1.10");
    const auto core = MakeImage(false, kCoreTotal);
    body.insert(body.end(), core.begin(), core.end());
    return body;
}

// The unaffected drives: a complete, clean download each.
void ExpectCompleteDownloads(const SimulatedDrives& sim, const std::vector<DriveOutcome>& r) {
    const auto state = sim.State();
    for (size_t i : {size_t{1}, size_t{2}}) {
        const std::string id = state[i].id;
        EXPECT_EQ(r[i].result, ResultSucceeded) << id;
        EXPECT_EQ(r[i].error, "") << id;
        EXPECT_EQ(state[i].revision, "1.10") << id;
        EXPECT_EQ(state[i].setting[1], 0x40) << id;
        std::vector<std::string> cdbs, results;
        for (const auto& e : sim.Journal()) {
            if (e.drive == id && e.cdb.rfind("12 ", 0) != 0) {  // INQUIRY: enumeration
                cdbs.push_back(e.cdb);
                results.push_back(e.result);
            }
        }
        EXPECT_EQ(cdbs, Commands(i == 1 ? kFullSequence : "1 2 3 4 D T")) << id;
        EXPECT_EQ(results, std::vector<std::string>(cdbs.size(), "good")) << id;
    }
}

std::vector<std::string> CommandsOfD(const SimulatedDrives& sim) {
    std::vector<std::string> out;
    for (const std::string& cdb : sim.Cdbs("D")) {
        if (cdb.rfind("12 ", 0) != 0)
            out.push_back(cdb);
    }
    return out;
}

}  // namespace

TEST(FaultRuns, EveryCommandOfTheSequenceFails) {
    const auto body = Body();
    struct Kind {
        const char* wanted;
        std::string text;  // error text when the failure is reported
    } kinds[] = {
        {"check 3 0C 00", SenseText(3, 0x0C, 0)},
        {"check 5 2C 00", SenseText(5, 0x2C, 0)},
        {"transport", kZeroText},
        // Refusals without ASC/ASCQ: never good.
        {"check 4 00 00", SenseText(4, 0, 0)},
        {"check B 00 00", SenseText(0xB, 0, 0)},
        {"status 08", kZeroText + " (Status = 08 BUSY)"},
        {"status 18", kZeroText + " (Status = 18 RESERVATION CONFLICT)"},
        {"status 28", kZeroText + " (Status = 28 TASK SET FULL)"},
        {"status 02", kZeroText + " (Status = 02 CHECK CONDITION)"},  // without sense data
    };
    constexpr size_t kKinds = sizeof kinds / sizeof kinds[0];
    struct Case {
        const char* command;      // fault kind and count on drive D
        const char* sent;         // D's commands, last one the failing one
        uint8_t results[kKinds];  // for the kinds above
        uint8_t setting;          // byte 1 of D's setting block afterwards
        bool installed;           // D runs the new firmware
    } cases[] = {
        // Preparation: not reported; no restore without a cleared block.
        {"READ_BUFFER 1", "R 1 2 3 4 D T", {}, 0x40, true},
        {"WRITE_BUFFER 1", "R W 1 2 3 4 D T", {}, 0x40, true},
        // Image chunks: first, middle and last of MAIN, the only one of CORE.
        {"WRITE_BUFFER 2", "R W 1", {11, 12, 11, 11, 11, 11, 11, 11, 11}, 0x00, false},
        {"WRITE_BUFFER 3", "R W 1 2", {11, 12, 11, 11, 11, 11, 11, 11, 11}, 0x00, false},
        {"WRITE_BUFFER 4", "R W 1 2 3", {11, 12, 11, 11, 11, 11, 11, 11, 11}, 0x00, false},
        {"WRITE_BUFFER 5", "R W 1 2 3 4", {11, 12, 11, 11, 11, 11, 11, 11, 11}, 0x00, false},
        // The diagnostic: 2C/00 is a failure like any other here.
        {"SEND_DIAGNOSTIC 1", "R W 1 2 3 4 D", {11, 11, 11, 11, 11, 11, 11, 11, 11}, 0x00, false},
        // Restore: never changes the result of a finished download.
        {"TEST_UNIT_READY 1", kFullSequence, {}, 0x40, true},
        {"READ_BUFFER 2", "R W 1 2 3 4 D T R T", {}, 0x00, true},
        {"WRITE_BUFFER 6", kFullSequence, {}, 0x00, true},
    };
    for (const Case& c : cases) {
        for (size_t k = 0; k < kKinds; ++k) {
            const std::string fault = std::string(c.command) + " " + kinds[k].wanted;
            SCOPED_TRACE(fault);
            SimulatedDrives sim(Drives("fault = " + fault + "\n"));
            auto execs = MakeExecuters(body);
            sim.ClearJournal();
            const auto r = RunAll(execs);
            const uint8_t expected = c.results[k];
            EXPECT_EQ(r[0].result, expected);
            EXPECT_EQ(r[0].error, expected == ResultFailed ? kinds[k].text : "");
            const auto sent = CommandsOfD(sim);
            EXPECT_EQ(sent, Commands(c.sent));
            const auto state = sim.State();
            EXPECT_EQ(state[0].setting[1], c.setting);
            EXPECT_EQ(state[0].revision, c.installed ? "1.10" : "1.00");
            ExpectCompleteDownloads(sim, r);
        }
    }
}

TEST(FaultRuns, DriveStopsAnswering) {
    const auto body = Body();
    // Commands D receives before its download: the enumeration.
    uint32_t before = 0;
    {
        SimulatedDrives probe(Drives(""));
        auto execs = MakeExecuters(body);
        before = probe.State()[0].commands;
    }
    // After the diagnostic the drive is asked once a second for 60 s whether it is back.
    std::string waitForDrive;
    for (int i = 0; i < 60; ++i)
        waitForDrive += " T";
    const std::string lost =
        " (Drive D: did not answer within 60 s after the download; the new firmware is not "
        "confirmed)";
    struct Case {
        uint32_t answered;  // commands of the download D still answers
        std::string sent;
        std::string error;
        bool installed;
    } cases[] = {
        {3, "R W 1 2", kZeroText, false},                        // in the middle of MAIN
        {5, "R W 1 2 3 4", kZeroText, false},                    // in CORE
        {6, "R W 1 2 3 4 D", kZeroText, false},                  // at the diagnostic
        {7, "R W 1 2 3 4 D T R" + waitForDrive, lost, true},     // during the restore
        {10, "R W 1 2 3 4 D T R W" + waitForDrive, lost, true},  // after it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answered);
        // The download opens with the identity check, then the commands of the table.
        SimulatedDrives sim(
            Drives("stop_after = " + std::to_string(before + 1 + c.answered) + "\n"));
        auto execs = MakeExecuters(body);
        ASSERT_EQ(sim.State()[0].commands, before);
        sim.ClearJournal();
        const auto r = RunAll(execs);
        EXPECT_EQ(r[0].result, ResultFailed);
        EXPECT_EQ(r[0].error, c.error);
        EXPECT_EQ(CommandsOfD(sim), Commands(c.sent));
        const auto journal = sim.Journal();
        EXPECT_TRUE(std::any_of(journal.begin(), journal.end(), [](const auto& e) {
            return e.drive == "D" && e.result == "transport";
        }));
        EXPECT_EQ(sim.State()[0].revision, c.installed ? "1.10" : "1.00");
        ExpectCompleteDownloads(sim, r);
    }
}

// A command that the system refuses for lack of privilege, or that finds the drive removed,
// ends the download at once wherever it comes, the preparation of a listed model included:
// nothing more goes to that drive, and the failure tells which of the two it was.
TEST(FaultRuns, RefusedOrRemovedDriveGetsNothingMore) {
    const auto body = Body();
    struct Case {
        const char* command;  // the refused command of drive D (count of its kind)
        const char* sent;     // D's commands, the last one refused
        uint8_t setting;      // byte 1 of D's setting block afterwards
        uint8_t opcode;
    } cases[] = {
        {"READ_BUFFER 1", "R", 0x40, 0x3C},
        {"WRITE_BUFFER 1", "R W", 0x40, 0x3B},
        {"WRITE_BUFFER 3", "R W 1 2", 0x00, 0x3B},
        {"SEND_DIAGNOSTIC 1", "R W 1 2 3 4 D", 0x00, 0x1D},
    };
    const std::pair<const char*, TransportFault> kinds[] = {
        {"denied", TransportFault::NotPermitted},
        {"gone", TransportFault::DeviceGone},
    };
    for (const auto& [kind, fault] : kinds) {
        for (const Case& c : cases) {
            const std::string refusal = std::string(c.command) + " " + kind;
            SCOPED_TRACE(refusal);
            SimulatedDrives sim(Drives("fault = " + refusal + "\n"));
            auto execs = MakeExecuters(body);
            sim.ClearJournal();
            const auto r = RunAll(execs);
            EXPECT_EQ(r[0].result, ResultFailed);
            EXPECT_EQ(r[0].error, kZeroText);
            const CommandFailure& failure = execs[0]->GetFailure();
            EXPECT_TRUE(failure.sent);
            EXPECT_EQ(failure.opcode, c.opcode);
            EXPECT_EQ(failure.result.category, CommandCategory::TransportFailure);
            EXPECT_EQ(failure.result.fault, fault);
            std::vector<std::string> results;
            for (const auto& e : sim.Journal()) {
                if (e.drive == "D" && e.cdb.rfind("12 ", 0) != 0)
                    results.push_back(e.result);
            }
            EXPECT_EQ(CommandsOfD(sim), Commands(c.sent));
            ASSERT_FALSE(results.empty());
            EXPECT_EQ(results.back(), kind);
            results.pop_back();
            EXPECT_EQ(results, std::vector<std::string>(results.size(), "good"));
            EXPECT_EQ(sim.State()[0].setting[1], c.setting);
            EXPECT_EQ(sim.State()[0].revision, "1.00");
            ExpectCompleteDownloads(sim, r);
        }
    }
    // Removed after the search: the download's identity check finds it gone, nothing written.
    SimulatedDrives sim(Drives("fault = INQUIRY 2 gone\n"));
    auto execs = MakeExecuters(body);
    sim.ClearJournal();
    const auto r = RunAll(execs);
    EXPECT_EQ(r[0].result, ResultFailed);
    EXPECT_EQ(r[0].error, " (Drive D: cannot be reached; nothing was written)");
    EXPECT_EQ(execs[0]->GetFailure().opcode, 0x12);
    EXPECT_EQ(execs[0]->GetFailure().result.fault, TransportFault::DeviceGone);
    EXPECT_EQ(sim.Cdbs("D"), std::vector<std::string>{"12 00 00 00 24 00"});
    ExpectCompleteDownloads(sim, r);
}

// UNIT ATTENTION (sense key 6) means the drive did not execute the command: it goes out again,
// byte for byte, at most three times, and the sequence goes on as if nothing had happened.
TEST(FaultRuns, UnitAttentionRepeatsTheCommandAndTheSequenceGoesOn) {
    const auto body = Body();
    const std::map<std::string, std::string> slices = {
        {"1", testsupport::HexHash(body.data(), 0x8000)},
        {"2", testsupport::HexHash(body.data() + 0x8000, 0x8000)},
        {"3", testsupport::HexHash(body.data() + 0x10000, kMainTotal - 0x10000)},
        {"4", testsupport::HexHash(body.data() + kMainTotal, kCoreTotal)},
    };
    const std::string busReset = "check 6/29/00";
    struct Case {
        const char* name;
        std::string faults;                // of drive D
        const char* sent;                  // D's commands, a refused one followed by its repeat
        std::vector<std::string> refused;  // results of the refused commands, in order
        uint8_t result;
    } cases[] = {
        // Like the Linux scsi_debug drive: the command after new microcode reports 3F/16.
        {"microcode changed",
         "ua_after_microcode = yes\n",
         "R W 1 2 3 4 4 D D T R W T",
         {"check 6/3F/16", "check 6/3F/16"},
         ResultSucceeded},
        {"bus reset on a chunk",
         "fault = WRITE_BUFFER 3 check 6 29 00\n",
         "R W 1 2 2 3 4 D T R W T",
         {busReset},
         ResultSucceeded},
        {"medium changed on the diagnostic",
         "fault = SEND_DIAGNOSTIC 1 check 6 28 00\n",
         "R W 1 2 3 4 D D T R W T",
         {"check 6/28/00"},
         ResultSucceeded},
        {"bus reset on the setting block",
         "fault = READ_BUFFER 1 check 6 29 02\n",
         "R R W 1 2 3 4 D T R W T",
         {"check 6/29/02"},
         ResultSucceeded},
        {"three in a row",
         "fault = WRITE_BUFFER 3 check 6 29 00\nfault = WRITE_BUFFER 4 check 6 29 00\n"
         "fault = WRITE_BUFFER 5 check 6 29 00\n",
         "R W 1 2 2 2 2 3 4 D T R W T",
         {busReset, busReset, busReset},
         ResultSucceeded},
        {"four in a row",
         "fault = WRITE_BUFFER 3+ check 6 29 00\n",
         "R W 1 2 2 2 2",
         {busReset, busReset, busReset, busReset},
         ResultFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedDrives sim(Drives(c.faults));
        auto execs = MakeExecuters(body);
        sim.ClearJournal();
        const auto r = RunAll(execs);
        EXPECT_EQ(r[0].result, c.result);
        EXPECT_EQ(r[0].error, c.result == ResultFailed ? SenseText(6, 0x29, 0) : "");
        EXPECT_EQ(sim.State()[0].revision, c.result == ResultSucceeded ? "1.10" : "1.00");

        std::vector<std::string> tokens, refused;
        std::istringstream in(c.sent);
        for (std::string t; in >> t;)
            tokens.push_back(t);
        std::vector<testsupport::JournalEntry> sent;
        for (const auto& e : sim.Journal()) {
            if (e.drive == "D" && e.cdb.rfind("12 ", 0) != 0)
                sent.push_back(e);
        }
        ASSERT_EQ(sent.size(), tokens.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].cdb, kCommands.at(tokens[i])) << i;
            if (slices.count(tokens[i])) {
                EXPECT_EQ(sent[i].hash, slices.at(tokens[i])) << i;  // the same bytes again
            }
            if (sent[i].result != "good")
                refused.push_back(sent[i].result);
        }
        EXPECT_EQ(refused, c.refused);
        ExpectCompleteDownloads(sim, r);
    }
}

namespace {

std::string TargetDrive(char letter, const std::string& extra) {
    return std::string("[drive]\nletter = ") + letter +
           "\nvendor = \"QZEN\"\nproduct = \"DVD-RAM KVS-Q42R\"\nrevision = \"1.00\"\n"
           "delay_ms = 1\n" +
           extra;
}

}  // namespace

// Runs the updater dialog on the all-drives entry and presses UPDATE once.
struct DialogRun {
    int exitCode = 0;
    std::string message;
    std::vector<std::string> entries;
};

DialogRun RunDialog(const std::string& updater, const std::string& folder) {
    CUpdateData data;
    data.ReadPackage(updater);
    testsupport::FakeServices services;
    services.windowsFolder = folder;
    CVarnelDlg dlg(services);
    dlg.m_pUpdateData = &data;
    dlg.m_strExePath = updater;
    dlg.m_bAllDrives = true;
    CHeadlessWindowFactory windows;
    windows.scripts[IDD_VARNEL] = {[](CHeadlessWindow& win) { win.Click(IDC_UPDATE); }};
    DialogRun run;
    run.exitCode = dlg.DoModal(windows);
    if (CHeadlessWindow* w = windows.Find(IDD_VARNEL)) {
        run.message = w->Text(IDC_MESSAGE_AREA);
        run.entries = w->Entries(IDC_DRIVE_LIST);
    }
    return run;
}

// The same faults through the updater dialog: UPDATE on the all-drives entry of three drives.
TEST(FaultRuns, UpdateRunReportsTheFailingDriveAndUpdatesTheOthers) {
    testsupport::TempDir dir;
    // MAIN of 10 chunks, CORE of 2.
    const std::string path = testsupport::BuildUpdater(dir.path(), testsupport::UpdaterSpec());
    const std::string others = TargetDrive('E', "") + TargetDrive('F', "");

    // Commands D receives before its first chunk (search, enumerations, disc check).
    size_t beforeChunks = 0;
    {
        SimulatedDrives probe(TargetDrive('D', "") + others);
        ASSERT_EQ(kExitSuccess, RunDialog(path, dir.path()).exitCode);
        const auto cdbs = probe.Cdbs("D");
        beforeChunks = static_cast<size_t>(std::find(cdbs.begin(), cdbs.end(), kCommands.at("1")) -
                                           cdbs.begin());
        ASSERT_LT(beforeChunks, cdbs.size());
    }

    // The message: the text of the string table, the drive's error data, and under them in
    // words what the drive answered, or why the command did not reach it.
    const std::string failed = "Updating was failed. Please repeat that.";
    const std::string noAnswer =
        "\nWRITE BUFFER got no answer from the drive D: (the request did not reach it, or it "
        "timed out).";
    struct Case {
        std::string fault;  // on drive D
        std::string message;
    } cases[] = {
        {"fault = WRITE_BUFFER 2 check 3 0C 00",
         failed + SenseText(3, 0x0C, 0) + "\nMEDIUM ERROR: write error"},
        {"fault = WRITE_BUFFER 2 check 5 2C 00",
         "Please remove a disc from the drive before updating."},
        {"fault = WRITE_BUFFER 2 transport", failed + kZeroText + noAnswer},
        {"fault = SEND_DIAGNOSTIC 1 check 5 2C 00",
         failed + SenseText(5, 0x2C, 0) + "\nILLEGAL REQUEST: command sequence error"},
        // Refused without ASC/ASCQ: the last CORE chunk, the diagnostic, a busy drive.
        {"fault = WRITE_BUFFER 12 check 4 00 00", failed + SenseText(4, 0, 0) + "\nHARDWARE ERROR"},
        {"fault = SEND_DIAGNOSTIC 1 check B 00 00",
         failed + SenseText(0xB, 0, 0) + "\nABORTED COMMAND"},
        {"fault = WRITE_BUFFER 2 status 08", failed + kZeroText + " (Status = 08 BUSY)"},
        // Answers the first chunk, then nothing more.
        {"stop_after = " + std::to_string(beforeChunks + 1), failed + kZeroText + noAnswer},
        // The system refuses the chunk; the drive is removed: told apart.
        {"fault = WRITE_BUFFER 2 denied",
         failed + kZeroText +
             "\nThe system refused to send WRITE BUFFER to the drive D: for lack of privilege; "
             "nothing more was sent to that drive."},
        {"fault = WRITE_BUFFER 2 gone",
         failed + kZeroText +
             "\nThe drive D: is gone (removed or disconnected); WRITE BUFFER did not reach it, "
             "and nothing more was sent to it."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        SimulatedDrives sim(TargetDrive('D', c.fault + "\n") + others);
        const DialogRun run = RunDialog(path, dir.path());
        EXPECT_EQ(kExitPending, run.exitCode);
        EXPECT_EQ(c.message, run.message);
        const auto journalOfD = sim.Journal();
        const bool refused = std::any_of(journalOfD.begin(), journalOfD.end(), [](const auto& e) {
            return e.result == "denied" || e.result == "gone";
        });
        if (refused) {
            // The refused chunk is the last command D received.
            std::vector<std::string> results;
            for (const auto& e : journalOfD) {
                if (e.drive == "D")
                    results.push_back(e.result);
            }
            EXPECT_EQ(1, std::count_if(results.begin(), results.end(), [](const auto& x) {
                          return x != "good" && x.rfind("check", 0) != 0;
                      }));
            EXPECT_TRUE(results.back() == "denied" || results.back() == "gone") << results.back();
        }
        EXPECT_EQ((std::vector<std::string>{
                      "D: QZEN     DVD-RAM KVS-Q42R 1.00", "E: QZEN     DVD-RAM KVS-Q42R 1.05",
                      "F: QZEN     DVD-RAM KVS-Q42R 1.05", "*: All target drives. (3units)"}),
                  run.entries);
        const auto state = sim.State();
        ASSERT_EQ(3u, state.size());
        EXPECT_EQ("1.00", state[0].revision);
        for (size_t i : {size_t{1}, size_t{2}}) {
            EXPECT_EQ("1.05", state[i].revision) << state[i].id;
            const auto cdbs = sim.Cdbs(state[i].id);
            // Both images, each ending with its mode 5 chunk, then the diagnostic and the
            // check that the drive is back.
            const auto lastChunks = std::count_if(cdbs.begin(), cdbs.end(), [](const auto& cdb) {
                return cdb.rfind("3B 05 00 ", 0) == 0;
            });
            EXPECT_EQ(2, lastChunks) << state[i].id;
            ASSERT_GE(cdbs.size(), 3u);
            EXPECT_EQ((std::vector<std::string>{kCommands.at("D"), kCommands.at("T"),
                                                "12 00 00 00 30 00"}),
                      std::vector<std::string>(cdbs.end() - 3, cdbs.end()))
                << state[i].id;
        }
    }
}
