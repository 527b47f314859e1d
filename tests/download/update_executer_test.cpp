#include "download/update_executer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "support/sim_support.h"

using testsupport::MakeImage;
using testsupport::SimulatedDrives;

namespace {

const std::string kDiagnostic = "1D 01 00 00 06 00";
const std::string kSettingRead = "3C 05 04 00 07 D4 00 00 08 44";
const std::string kSettingWrite = "3B 05 04 00 07 D4 00 00 08 44";
const std::string kUnitReady = "00 00 00 00 00 00";
const std::string kIdentity = "12 00 00 00 24 00";
// After the diagnostic: is the drive back, and what does it run now?
const std::string kLongIdentity = "12 00 00 00 30 00";

std::string Chunk(int mode, uint32_t offset, uint32_t length) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "3B %02X 00 %02X %02X %02X %02X %02X %02X 00", mode,
                  (offset >> 16) & 0xFF, (offset >> 8) & 0xFF, offset & 0xFF, (length >> 16) & 0xFF,
                  (length >> 8) & 0xFF, length & 0xFF);
    return buf;
}

std::vector<uint8_t> Concat(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::vector<uint8_t> out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

// Runs one download into drive 0 of the simulated drives; returns the commands it sent after
// the identity check that opens every download.
struct RunResult {
    uint8_t result = 0;
    std::string error;
    std::vector<std::string> cdbs;
    std::vector<unsigned> sleeps;
    uint32_t sent = 0;
};

RunResult Download(SimulatedDrives& sim, const std::vector<uint8_t>& body) {
    CUpdateExecuter exec;
    std::vector<unsigned> sleeps;
    exec.SetSleep([&](unsigned ms) { sleeps.push_back(ms); });
    exec.SetImage(body.data(), static_cast<uint32_t>(body.size()));
    exec.SelectDrive(0);
    sim.ClearJournal();
    exec.SetResult(ResultPending);
    exec.Download();
    RunResult r;
    r.result = exec.GetResult();
    r.error = exec.GetErrorText();
    r.cdbs = sim.Cdbs();
    if (!r.cdbs.empty()) {
        EXPECT_EQ(r.cdbs.front(), kIdentity);
        r.cdbs.erase(r.cdbs.begin());
    }
    r.sleeps = sleeps;
    r.sent = exec.GetBytesSent();
    return r;
}

const char* kPlainDrive =
    "[drive]\nletter = D\nproduct = \"DVD-RAM KVS-Q42R\"\nrevision = \"1.00\"\n";

}  // namespace

TEST(Download, ChunkSequencesByImageSize) {
    struct Case {
        const char* name;
        std::vector<uint8_t> body;
        std::vector<std::string> cdbs;
    } cases[] = {
        {"one chunk of 32768",
         MakeImage(true, 32768),
         {Chunk(5, 0, 0x8000), kDiagnostic, kUnitReady, kLongIdentity}},
        {"32768 + 1",
         MakeImage(true, 32769),
         {Chunk(2, 0, 0x8000), Chunk(5, 0x8000, 1), kDiagnostic, kUnitReady, kLongIdentity}},
        {"two images",
         Concat(MakeImage(true, 70000, "1.20"), MakeImage(false, 1024)),
         {Chunk(2, 0, 0x8000), Chunk(2, 0x8000, 0x8000), Chunk(5, 0x10000, 70000 - 0x10000),
          Chunk(5, 0, 1024), kDiagnostic, kUnitReady, kLongIdentity}},
    };
    for (const Case& c : cases) {
        SimulatedDrives sim(kPlainDrive);
        const RunResult r = Download(sim, c.body);
        EXPECT_EQ(r.cdbs, c.cdbs) << c.name;
        EXPECT_EQ(r.result, ResultSucceeded) << c.name;
        EXPECT_EQ(r.sleeps, std::vector<unsigned>{3000}) << c.name;
        EXPECT_EQ(r.sent, c.body.size()) << c.name;
        EXPECT_EQ(r.error, "") << c.name;
        // Every chunk carries exactly its slice of the body.
        uint32_t offset = 0;
        for (const auto& e : sim.Journal()) {
            if (e.cdb.rfind("3B", 0) != 0)
                continue;
            EXPECT_EQ(e.hash, testsupport::HexHash(c.body.data() + offset, e.length)) << c.name;
            offset += e.length;
        }
        EXPECT_EQ(offset, c.body.size());
    }
    // The drive installed the MAIN image of the last case.
    SimulatedDrives sim(kPlainDrive);
    Download(sim, Concat(MakeImage(true, 70000, "1.20", "0C"), MakeImage(false, 1024)));
    EXPECT_EQ(sim.State()[0].revision, "1.20");
    EXPECT_EQ(sim.State()[0].minor, "0C");
}

TEST(Download, EmptyBodySendsOnlyTheDiagnosticWhichDecides) {
    SimulatedDrives sim(kPlainDrive);
    const RunResult r = Download(sim, {});
    EXPECT_EQ(r.cdbs, std::vector<std::string>{kDiagnostic});
    // The drive received nothing and answers COMMAND SEQUENCE ERROR: from the diagnostic
    // that is a failure with the sense data as error text, not result 12.
    EXPECT_EQ(r.result, ResultFailed);
    EXPECT_EQ(r.error,
              " (Error data = 70 00 05 00 00 00 00 0A 00 00 00 00 2C 00 00 00 00 00 00 00 00 00 "
              "00 00 )");
    EXPECT_TRUE(r.sleeps.empty());
}

TEST(Download, FailuresOfTheImageTransferAndTheDiagnostic) {
    const auto body = MakeImage(true, 70000);
    struct Case {
        const char* fault;
        uint8_t result;
        std::string error;
        size_t commands;  // sent before stopping
    } cases[] = {
        {"WRITE_BUFFER 2 check 5 2C 00", ResultSequenceError, "", 2},
        {"WRITE_BUFFER 3 check 3 0C 00", ResultFailed,
         " (Error data = 70 00 03 00 00 00 00 0A 00 00 00 00 0C 00 00 00 00 00 00 00 00 00 00 00 )",
         3},
        {"WRITE_BUFFER 1 transport", ResultFailed,
         " (Error data = 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 )",
         1},
        {"SEND_DIAGNOSTIC 1 check 5 2C 00", ResultFailed,
         " (Error data = 70 00 05 00 00 00 00 0A 00 00 00 00 2C 00 00 00 00 00 00 00 00 00 00 00 )",
         4},
    };
    for (const Case& c : cases) {
        SimulatedDrives sim(std::string(kPlainDrive) + "fault = " + c.fault + "\n");
        const RunResult r = Download(sim, body);
        EXPECT_EQ(r.result, c.result) << c.fault;
        EXPECT_EQ(r.error, c.error) << c.fault;
        EXPECT_EQ(r.error.size(), c.error.empty() ? 0u : 88u);
        EXPECT_EQ(r.cdbs.size(), c.commands) << c.fault;
        EXPECT_TRUE(r.sleeps.empty()) << c.fault;
        EXPECT_EQ(sim.State()[0].revision, "1.00") << c.fault;
    }
}

TEST(Download, SpecialModelKeyRule) {
    // Product fields as the drive sends them; "\0" ends a field before its blank padding.
    struct Case {
        const char* field;
        bool special;
    } cases[] = {
        {"DVDRAM KZS-8352R", true},  // the second character of the key never matters
        {"KXS-7270T\\0", true},       {"DVD KQS-6352R\\0", true},
        {"XKXS-7310P\\0", true},  // only the last nine characters count
        {"KXS-7270T", false},     // padded with blanks: the blanks stay in the key
        {"DVD KXS-6352R \\0", false}, {"DVD KXS-6353R\\0", false},
        {"KXS-7310\\0", false},       {"K\\0", false},
    };
    const auto body = MakeImage(true, 2000);
    for (const Case& c : cases) {
        SimulatedDrives sim(std::string("[drive]\nletter = D\nproduct = \"") + c.field +
                            "\"\nsetting = 01 47 02 03 04 05 06 07\nmedium = yes\n");
        const RunResult r = Download(sim, body);
        EXPECT_EQ(r.result, ResultSucceeded) << c.field;
        std::vector<std::string> expected;
        if (c.special)
            expected = {kSettingRead, kSettingWrite};
        expected.push_back(Chunk(5, 0, 2000));
        expected.push_back(kDiagnostic);
        if (c.special)
            expected.insert(expected.end(), {kUnitReady, kSettingRead, kSettingWrite});
        expected.insert(expected.end(), {kUnitReady, kLongIdentity});
        EXPECT_EQ(r.cdbs, expected) << c.field;
        EXPECT_EQ(sim.State()[0].setting[1], 0x47) << c.field;  // restored, or never touched
        if (c.special) {
            const uint8_t cleared[8] = {0x01, 0x07, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
            EXPECT_EQ(sim.Journal()[2].hash, testsupport::HexHash(cleared, 8)) << c.field;
        }
    }
}

TEST(Download, SequenceErrorKeepsTheEarlierErrorText) {
    SimulatedDrives sim(
        std::string(kPlainDrive) +
        "fault = SEND_DIAGNOSTIC 1 check 5 2C 00\nfault = WRITE_BUFFER 2 check 5 2C 00\n");
    const auto body = MakeImage(true, 2000);
    CUpdateExecuter exec;
    exec.SetSleep([](unsigned) {});
    exec.SetImage(body.data(), static_cast<uint32_t>(body.size()));
    exec.SelectDrive(0);
    exec.Download();
    ASSERT_EQ(exec.GetResult(), ResultFailed);
    const std::string first = exec.GetErrorText();
    ASSERT_EQ(first.size(), 88u);
    exec.SetResult(ResultPending);
    exec.Download();
    EXPECT_EQ(exec.GetResult(), ResultSequenceError);
    EXPECT_EQ(exec.GetErrorText(), first);
}

TEST(Download, SpecialModelFailuresLeaveTheBlockAsTheSequenceLeftIt) {
    const auto body = MakeImage(true, 2000);
    const std::string drive =
        "[drive]\nletter = D\nproduct = \"DVDRAM KXS-8310R\"\nsetting = 00 40 00 00 00 00 00 00\n";
    {
        // A failing read: downloaded like any drive, never written back.
        SimulatedDrives sim(drive + "fault = READ_BUFFER 1 check 5 24 00\n");
        const RunResult r = Download(sim, body);
        EXPECT_EQ(r.result, ResultSucceeded);
        EXPECT_EQ(r.cdbs, (std::vector<std::string>{kSettingRead, Chunk(5, 0, 2000), kDiagnostic,
                                                    kUnitReady, kLongIdentity}));
    }
    {
        // A failing diagnostic ends the run with the block still cleared in the drive.
        SimulatedDrives sim(drive + "fault = SEND_DIAGNOSTIC 1 check 4 44 00\n");
        const RunResult r = Download(sim, body);
        EXPECT_EQ(r.result, ResultFailed);
        EXPECT_EQ(r.cdbs, (std::vector<std::string>{kSettingRead, kSettingWrite, Chunk(5, 0, 2000),
                                                    kDiagnostic}));
        EXPECT_EQ(sim.State()[0].setting[1], 0x00);
    }
    {
        // Restore commands do not change a successful result.
        SimulatedDrives sim(drive + "fault = READ_BUFFER 2 transport\n");
        const RunResult r = Download(sim, body);
        EXPECT_EQ(r.result, ResultSucceeded);
        EXPECT_EQ(r.cdbs.end()[-3], kSettingRead);
        EXPECT_EQ(sim.State()[0].setting[1], 0x00);
    }
}

TEST(Download, RefusesBodiesWhoseCodeSizesDoNotWalkThemExactly) {
    auto wraps = MakeImage(true, 2000);
    wraps[68] = 0xFF, wraps[69] = 0xFF, wraps[70] = 0xFC, wraps[71] = 0x00;  // + 1024 wraps to 0
    auto past = MakeImage(true, 2000);
    past[71] += 1;
    const auto shortTail = Concat(MakeImage(true, 2000), std::vector<uint8_t>(100, 0));
    struct Case {
        const char* name;
        std::vector<uint8_t> body;
        const char* why;
    } cases[] = {
        {"wraps", wraps, "code size 0xFFFFFC00 of the image at offset 0x0 runs past"},
        {"past", past, "code size 0x3D1 of the image at offset 0x0 runs past"},
        {"short tail", shortTail, "100 bytes at offset 0x7D0 are too short for an image header"},
    };
    for (const Case& c : cases) {
        // A listed model: not even its setting block is touched.
        SimulatedDrives sim("[drive]\nletter = D\nproduct = \"DVDRAM KXS-8310R\"\n");
        const RunResult r = Download(sim, c.body);
        EXPECT_EQ(r.result, ResultFailed) << c.name;
        EXPECT_NE(r.error.find(c.why), std::string::npos) << r.error;
        EXPECT_TRUE(r.cdbs.empty()) << c.name;
        EXPECT_EQ(r.sent, 0u);
    }
}

TEST(Download, ParallelDownloadsIntoSeveralDrives) {
    SimulatedDrives sim(R"(
[drive]
letter = D
product = "DVDRAM KXS-7350P"
delay_ms = 1
[drive]
letter = E
product = "DVD-RAM KVS-Q42R"
delay_ms = 1
[drive]
letter = F
product = "DVD-RAM KVS-Q42R"
delay_ms = 1
[drive]
letter = G
product = "DVD-RAM KVS-Q42R"
delay_ms = 1
)");
    const auto body = Concat(MakeImage(true, 200000, "2.00", "0D"), MakeImage(false, 40000));
    std::vector<std::unique_ptr<CUpdateExecuter>> execs;
    for (unsigned i = 0; i < 4; ++i) {
        auto e = std::make_unique<CUpdateExecuter>();
        e->SetSleep([](unsigned) {});
        e->SetImage(body.data(), static_cast<uint32_t>(body.size()));
        e->SelectDrive(i);
        execs.push_back(std::move(e));
    }
    sim.ClearJournal();
    std::vector<std::thread> threads;
    for (auto& e : execs)
        threads.emplace_back([&e] { e->Download(); });
    // The user-interface side polls with acquire until no drive is pending.
    bool pending = true;
    while (pending) {
        pending = false;
        for (auto& e : execs)
            pending = pending || e->GetResult() == ResultPending;
        std::this_thread::yield();
    }
    for (auto& t : threads)
        t.join();
    for (auto& e : execs) {
        EXPECT_EQ(e->GetResult(), ResultSucceeded);
        EXPECT_EQ(e->GetBytesSent(), body.size());
    }
    const auto state = sim.State();
    const uint64_t mainHash = Fnv1a64(body.data(), 200000);
    for (const auto& s : state) {
        EXPECT_EQ(s.revision, "2.00") << s.id;
        EXPECT_EQ(s.minor, "0D") << s.id;
        EXPECT_EQ(s.lastInstallHash, mainHash) << s.id;
    }
    // identity, prepare, chunks, diagnostic, restore, verification
    EXPECT_EQ(sim.Cdbs("D").size(), 1u + 2u + 7u + 2u + 1u + 3u + 2u);
    EXPECT_EQ(sim.Cdbs("E").size(), 1u + 7u + 2u + 1u + 2u);
}

// The download object opens the drive it is given and no other: no enumeration of its own,
// one identity check, then the download. An index of no drive leaves it without a drive.
TEST(Download, OpensTheDriveItIsGivenAndNoOther) {
    SimulatedDrives sim(std::string(kPlainDrive) +
                        "[drive]\nletter = E\nproduct = \"DVD-RAM KVS-Q42R\"\nmedium = yes\n");
    CDriveControl search;
    ASSERT_TRUE(search.EnumerateDrives(true));
    ASSERT_EQ(search.GetDriveCount(), 2);
    const auto body = MakeImage(true, 2000);
    sim.ClearJournal();
    CUpdateExecuter exec;
    exec.SetSleep([](unsigned) {});
    exec.SetImage(body.data(), static_cast<uint32_t>(body.size()));
    ASSERT_TRUE(exec.SelectDrive(search.GetDriveInfo(1)));
    EXPECT_TRUE(sim.Journal().empty());
    EXPECT_EQ(exec.GetModelName(), "DVD-RAM KVS-Q42R");
    exec.Download();
    EXPECT_EQ(exec.GetResult(), ResultSucceeded);
    EXPECT_TRUE(sim.Cdbs("D").empty());
    EXPECT_EQ(sim.Cdbs("E"), (std::vector<std::string>{kIdentity, Chunk(5, 0, 2000), kDiagnostic,
                                                       kUnitReady, kLongIdentity}));

    CUpdateExecuter none;
    none.SetImage(body.data(), static_cast<uint32_t>(body.size()));
    EXPECT_FALSE(none.SelectDrive(7u));
    sim.ClearJournal();
    EXPECT_FALSE(none.IsUnitReady());
    EXPECT_FALSE(none.EjectDisc());
    none.Download();
    EXPECT_EQ(none.GetResult(), ResultFailed);
    EXPECT_EQ(none.GetErrorText(), " (No drive selected; nothing was written)");
    EXPECT_TRUE(sim.Journal().empty());
    EXPECT_TRUE(sim.State()[1].medium);
}

// After the diagnostic the drive is asked again: TEST UNIT READY until it answers, then the
// 48-byte INQUIRY. Its revision and minor revision tell a verified drive from one that runs
// the new firmware only after a restart; no answer, or another drive, is a failure.
TEST(Download, DriveAskedAgainAfterTheDownload) {
    const auto body = MakeImage(true, 2000, "1.20", "0C");
    const std::string waitOnce = kUnitReady;
    struct Case {
        const char* name;
        std::string drive;  // keys added to the plain drive
        std::string expectedMinor;
        uint8_t result;
        Verification verification;
        std::string revisionAfter;
        std::vector<std::string> after;  // commands after the diagnostic
        std::vector<unsigned> sleeps;
        std::string error;
    } cases[] = {
        {"runs the new firmware",
         "",
         "0C",
         ResultSucceeded,
         Verification::Verified,
         "1.20",
         {kUnitReady, kLongIdentity},
         {3000},
         ""},
        {"new firmware from the next start",
         "activates = restart\n",
         "0C",
         ResultSucceeded,
         Verification::AfterRestart,
         "1.00",
         {kUnitReady, kLongIdentity},
         {3000},
         ""},
        {"another minor revision than the package's",
         "",
         "0D",
         ResultSucceeded,
         Verification::AfterRestart,
         "1.20",
         {kUnitReady, kLongIdentity},
         {3000},
         ""},
        // Becoming ready, then a drive without a disc: it answers.
        {"restarting drive",
         "tur_failures = 2\n",
         "0C",
         ResultSucceeded,
         Verification::Verified,
         "1.20",
         {kUnitReady, kUnitReady, kUnitReady, kLongIdentity},
         {3000, 1000, 1000},
         ""},
        {"busy, then unit attention",
         "fault = TEST_UNIT_READY 1 status 08\n"
         "fault = TEST_UNIT_READY 2 check 6 29 00\n",
         "0C",
         ResultSucceeded,
         Verification::Verified,
         "1.20",
         // A unit attention is repeated by the drive control itself.
         {kUnitReady, kUnitReady, kUnitReady, kLongIdentity},
         {3000, 1000},
         ""},
        {"INQUIRY not yet",
         "fault = INQUIRY 3 check 2 04 01\n",
         "0C",
         ResultSucceeded,
         Verification::Verified,
         "1.20",
         {kUnitReady, kLongIdentity, kUnitReady, kLongIdentity},
         {3000, 1000},
         ""},
        {"gone",
         "fault = TEST_UNIT_READY 1 gone\n",
         "0C",
         ResultFailed,
         Verification::None,
         "",
         {kUnitReady},
         {3000},
         " (Drive D: is gone after the download; the new firmware is not confirmed)"},
        {"INQUIRY refused",
         "fault = INQUIRY 3 check 5 24 00\n",
         "0C",
         ResultFailed,
         Verification::None,
         "",
         {kUnitReady, kLongIdentity},
         {3000},
         " (Drive D: does not answer INQUIRY after the download; the new firmware is not "
         "confirmed) (Error data = 70 00 05 00 00 00 00 0A 00 00 00 00 24 00 00 00 00 00 00 00 "
         "00 00 00 00 )"},
        {"another drive",
         "replaced = 2 \"OTHER\" \"DRIVE X-1\"\n",
         "0C",
         ResultFailed,
         Verification::None,
         "",
         {kUnitReady, kLongIdentity},
         {3000},
         " (Drive D: answers as OTHER DRIVE X-1, not QZEN DVD-RAM KVS-Q42R, after the download; "
         "the new firmware is not confirmed)"},
    };
    for (const Case& c : cases) {
        SimulatedDrives sim(
            "[drive]\nletter = D\nvendor = \"QZEN\"\nproduct = \"DVD-RAM "
            "KVS-Q42R\"\nrevision = \"1.00\"\n" +
            c.drive);
        CUpdateExecuter exec;
        std::vector<unsigned> sleeps;
        exec.SetSleep([&](unsigned ms) { sleeps.push_back(ms); });
        exec.SetImage(body.data(), static_cast<uint32_t>(body.size()));
        exec.SetExpectedRevision("1.20", c.expectedMinor);
        exec.SelectDrive(0);
        sim.ClearJournal();
        exec.Download();
        EXPECT_EQ(exec.GetResult(), c.result) << c.name;
        EXPECT_EQ(exec.GetVerification(), c.verification) << c.name;
        EXPECT_EQ(exec.GetRevisionAfter(), c.revisionAfter) << c.name;
        EXPECT_EQ(exec.GetErrorText(), c.error) << c.name;
        EXPECT_EQ(sleeps, c.sleeps) << c.name;
        const auto cdbs = sim.Cdbs();
        const auto diagnostic = std::find(cdbs.begin(), cdbs.end(), kDiagnostic);
        ASSERT_NE(diagnostic, cdbs.end()) << c.name;
        EXPECT_EQ(std::vector<std::string>(diagnostic + 1, cdbs.end()), c.after) << c.name;
    }
}

// A drive that never answers is given 60 s: by the clock, or 60 questions a second apart
// when the waits take no time.
TEST(Download, RestartingDriveIsGivenSixtySeconds) {
    const auto body = MakeImage(true, 2000, "1.20");
    for (const bool clocked : {false, true}) {
        SimulatedDrives sim(std::string(kPlainDrive) + "fault = TEST_UNIT_READY 1+ transport\n");
        CUpdateExecuter exec;
        std::vector<unsigned> sleeps;
        uint64_t now = 0;
        exec.SetSleep([&](unsigned ms) { sleeps.push_back(ms); });
        if (clocked)
            exec.SetClock([&] { return now += 25000; });  // every question takes 25 s
        exec.SetImage(body.data(), static_cast<uint32_t>(body.size()));
        exec.SetExpectedRevision("1.20", "");
        exec.SelectDrive(0);
        sim.ClearJournal();
        exec.Download();
        EXPECT_EQ(exec.GetResult(), ResultFailed);
        EXPECT_EQ(exec.GetErrorText(),
                  " (Drive D: did not answer within 60 s after the download; the new firmware is "
                  "not confirmed)");
        const auto cdbs = sim.Cdbs();
        const size_t questions =
            static_cast<size_t>(std::count(cdbs.begin(), cdbs.end(), kUnitReady));
        EXPECT_EQ(questions, clocked ? 3u : 60u);
        EXPECT_EQ(sleeps.size(), questions);  // the 3 s wait and one less than the questions
        EXPECT_EQ(cdbs.back(), kUnitReady);
        EXPECT_EQ(exec.GetFailure().opcode, 0x00);
        // Installed all the same: the failure says the new firmware is not confirmed.
        EXPECT_EQ(sim.State()[0].revision, "1.20");
    }
}
