#include "drive/drive_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "download/update_executer.h"
#include "support/sim_support.h"

using testsupport::SimulatedDrives;

namespace {

// Records the commands it receives and answers from a script.
class ScriptedTransport : public IScsiTransport {
public:
    struct Answer {
        bool delivered = true;
        uint8_t scsiStatus = 0;
        uint8_t key = 0, asc = 0, ascq = 0;
        uint8_t senseCode = 0x70;  // response code; 0: no sense data
        uint32_t osError = 0;
    };
    DriveTransport kind = TransportPassThrough;
    std::vector<ScsiCommand> received;
    std::vector<Answer> answers;  // used in order; good status when exhausted

    DriveTransport Kind() const override { return kind; }
    std::vector<DriveAddress> Candidates(bool) override { return {}; }
    bool Open(const DriveAddress&) override { return true; }
    void Close() override {}
    TransportResult Execute(const ScsiCommand& cmd) override {
        received.push_back(cmd);
        Answer a;
        if (received.size() <= answers.size())
            a = answers[received.size() - 1];
        std::memset(m_sense, 0, sizeof m_sense);
        if (!a.delivered)
            return TransportFailed(a.osError);
        if (a.senseCode == 0x72) {  // descriptor format
            m_sense[0] = 0x72;
            m_sense[1] = a.key;
            m_sense[2] = a.asc;
            m_sense[3] = a.ascq;
        } else if (a.senseCode != 0) {
            m_sense[0] = a.senseCode;
            m_sense[2] = a.key;
            m_sense[12] = a.asc;
            m_sense[13] = a.ascq;
        }
        return ScsiResult(a.scsiStatus, m_sense, a.senseCode != 0 ? 18 : 0);
    }
    const uint8_t* Sense() const override { return m_sense; }

private:
    uint8_t m_sense[32] = {};
};

std::unique_ptr<ScriptedTransport> Scripted(std::vector<ScriptedTransport::Answer> answers) {
    auto t = std::make_unique<ScriptedTransport>();
    t->answers = std::move(answers);
    return t;
}

}  // namespace

// What a command's end means: the category, the numeric status and the system's error code.
// Only a good status is 0; a drive that refused without ASC/ASCQ never reads as good.
TEST(CommandStatus, CategoriesAndNumbersOfEveryKindOfEnd) {
    using C = CommandCategory;
    struct Case {
        const char* name;
        ScriptedTransport::Answer answer;
        C category;
        CommandStatus status;
    } cases[] = {
        {"not delivered", {false, 0, 0, 0, 0, 0x70, 5}, C::TransportFailure, 0xFFFF},
        {"good ignores sense", {true, 0, 5, 0x2C, 0}, C::Good, 0},
        {"2C/00", {true, 2, 5, 0x2C, 0}, C::CheckCondition, 0x2C00},
        {"3A/01", {true, 2, 2, 0x3A, 1}, C::CheckCondition, 0x3A01},
        {"ASC only", {true, 2, 3, 0x0C, 0}, C::CheckCondition, 0x0C00},
        {"HARDWARE ERROR 00/00", {true, 2, 4, 0, 0}, C::CheckCondition, kStatusNotCompleted},
        {"ABORTED COMMAND 00/00", {true, 2, 0xB, 0, 0}, C::CheckCondition, kStatusNotCompleted},
        {"CHECK CONDITION without sense",
         {true, 2, 0, 0, 0, 0},
         C::NotExecuted,
         kStatusNotCompleted},
        {"BUSY", {true, 0x08, 0, 0, 0, 0}, C::NotExecuted, kStatusNotCompleted},
        {"RESERVATION CONFLICT", {true, 0x18, 0, 0, 0, 0}, C::NotExecuted, kStatusNotCompleted},
        {"TASK SET FULL", {true, 0x28, 0, 0, 0, 0}, C::NotExecuted, kStatusNotCompleted},
        {"BUSY with stale sense", {true, 0x08, 5, 0x24, 0}, C::NotExecuted, kStatusNotCompleted},
        {"descriptor sense", {true, 2, 3, 0x11, 0x05, 0x72}, C::CheckCondition, 0x1105},
        {"FF/FF reads like a transport failure",
         {true, 2, 5, 0xFF, 0xFF},
         C::CheckCondition,
         0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDriveControl drive(Scripted({c.answer}));
        EXPECT_EQ(drive.SendCommand6(0, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone), c.status);
        EXPECT_EQ(drive.GetLastResult().category, c.category);
        EXPECT_EQ(drive.GetLastResult().osError, c.answer.delivered ? 0u : c.answer.osError);
        if (c.category == C::CheckCondition) {
            // Fixed format for every caller, whatever format the drive used.
            EXPECT_EQ(drive.GetSenseData()[0], 0x70);
            EXPECT_EQ(drive.GetSenseData()[2], c.answer.key);
            EXPECT_EQ(drive.GetSenseData()[12], c.answer.asc);
            EXPECT_EQ(drive.GetSenseData()[13], c.answer.ascq);
        }
    }
}

// UNIT ATTENTION means "not executed": the same command goes out again, at most three times.
// The answer of an SG_IO request as its header tells it. The kernel marks every CHECK
// CONDITION with DRIVER_SENSE (08h), also one without sense data.
TEST(CommandStatus, SgIoHeaderDecoding) {
    constexpr uint16_t kDidNoConnect = 0x01, kDidTimeOut = 0x03, kDidError = 0x07;
    constexpr uint16_t kDriverSense = 0x08, kDriverTimeout = 0x06, kDriverError = 0x04;
    constexpr uint16_t kSuggestRetry = 0x10;
    struct Case {
        const char* name;
        uint8_t status;
        uint16_t host;
        uint16_t driver;
        uint8_t senseWritten;
        CommandStatus want;
        CommandCategory category;
    } cases[] = {
        {"good", 0x00, 0, 0, 0, kStatusGood, CommandCategory::Good},
        {"check with sense", 0x02, 0, kDriverSense, 18, 0x2400, CommandCategory::CheckCondition},
        {"check without sense", 0x02, 0, kDriverSense, 0, kStatusNotCompleted,
         CommandCategory::NotExecuted},
        {"check without sense, suggest bits", 0x02, 0, kDriverSense | kSuggestRetry, 0,
         kStatusNotCompleted, CommandCategory::NotExecuted},
        {"busy", 0x08, 0, 0, 0, kStatusNotCompleted, CommandCategory::NotExecuted},
        {"host gone", 0x00, kDidNoConnect, 0, 0, kStatusTransportFailure,
         CommandCategory::TransportFailure},
        {"host time-out", 0x00, kDidTimeOut, 0, 0, kStatusTransportFailure,
         CommandCategory::TransportFailure},
        {"host error, check without sense", 0x02, kDidError, kDriverSense, 0,
         kStatusTransportFailure, CommandCategory::TransportFailure},
        {"host error, check with sense", 0x02, kDidError, kDriverSense, 18, 0x2400,
         CommandCategory::CheckCondition},
        {"driver time-out", 0x00, 0, kDriverTimeout, 0, kStatusTransportFailure,
         CommandCategory::TransportFailure},
        {"driver error with sense flag", 0x02, 0, kDriverError | kDriverSense, 0,
         kStatusTransportFailure, CommandCategory::TransportFailure},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t sense[kSenseLength] = {};
        if (c.senseWritten > 0) {
            sense[0] = 0x70;
            sense[2] = 0x05;
            sense[7] = 10;
            sense[12] = 0x24;
        }
        const TransportResult r = SgIoResult(c.status, c.host, c.driver, c.senseWritten, sense);
        EXPECT_EQ(c.category, r.category);
        EXPECT_EQ(c.want, StatusOf(r, sense));
        if (r.category != CommandCategory::TransportFailure) {
            EXPECT_EQ(c.status, r.scsiStatus);
        }
    }
}

TEST(CommandStatus, UnitAttentionRepeatsTheCommandUpToThreeTimes) {
    const ScriptedTransport::Answer ua{true, 2, 6, 0x29, 0x00};
    const ScriptedTransport::Answer medium{true, 2, 6, 0x28, 0x00};
    const ScriptedTransport::Answer other{true, 2, 4, 0x44, 0x00};
    struct Case {
        const char* name;
        std::vector<ScriptedTransport::Answer> answers;
        size_t sent;
        CommandStatus status;
    } cases[] = {
        {"none", {}, 1, 0},
        {"one", {ua}, 2, 0},
        {"three of two kinds", {ua, medium, ua}, 4, 0},
        {"four", {ua, ua, ua, ua}, 4, 0x2900},
        {"another check is not repeated", {other}, 1, 0x4400},
        {"after a unit attention, another check", {ua, other}, 2, 0x4400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owned = Scripted(c.answers);
        ScriptedTransport* t = owned.get();
        CDriveControl drive(std::move(owned));
        uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_EQ(drive.SendCommand10(0x3B, 5, 0, 0, 0, 0, 0, 0, 8, 0, data, 8, DirectionOut),
                  c.status);
        ASSERT_EQ(t->received.size(), c.sent);
        for (const ScsiCommand& cmd : t->received) {
            EXPECT_EQ(std::memcmp(cmd.cdb, t->received[0].cdb, sizeof cmd.cdb), 0);
            EXPECT_EQ(cmd.buffer, data);
            EXPECT_EQ(cmd.length, 8u);
        }
    }
}

TEST(CommandStatus, ReadinessAndIdentificationTimeOutAfterThirtySeconds) {
    auto owned = Scripted({});
    ScriptedTransport* t = owned.get();
    CDriveControl drive(std::move(owned));
    uint8_t data[48] = {};
    drive.SendCommand6(0x12, 0, 0, 0, 36, 0, data, 36, DirectionIn);     // INQUIRY
    drive.SendCommand6(0x00, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone);  // TEST UNIT READY
    drive.SendCommand6(0x1B, 0, 0, 0, 2, 0, nullptr, 0, DirectionNone);  // START STOP UNIT
    drive.SendCommand10(0x3B, 2, 0, 0, 0, 0, 0, 0, 8, 0, data, 8, DirectionOut);
    drive.SendCommand10(0x3C, 5, 4, 0, 7, 0xD4, 0, 0, 8, 0x44, data, 8, DirectionIn);
    drive.SendCommand6(0x1D, 1, 0, 0, 6, 0, data, 8, DirectionOut);  // SEND DIAGNOSTIC
    std::vector<uint32_t> timeouts;
    for (const ScsiCommand& cmd : t->received)
        timeouts.push_back(cmd.timeoutSeconds);
    EXPECT_EQ(timeouts, (std::vector<uint32_t>{30, 30, 30, 1800, 1800, 1800}));
}

TEST(CommandRecord, CarriesCdbBufferLengthAndDirectionUnchanged) {
    auto owned = std::make_unique<ScriptedTransport>();
    ScriptedTransport* t = owned.get();
    CDriveControl drive(std::move(owned));
    uint8_t buffer[8] = {};
    drive.SendCommand6(0x12, 1, 2, 3, 0x30, 5, buffer, 48, DirectionIn);
    drive.SendCommand10(0x3B, 2, 0, 1, 2, 3, 4, 5, 6, 0x44, buffer, 8, 7);
    ASSERT_EQ(t->received.size(), 2u);
    const uint8_t cdb6[12] = {0x12, 1, 2, 3, 0x30, 5};
    EXPECT_EQ(std::memcmp(t->received[0].cdb, cdb6, 12), 0);
    EXPECT_EQ(t->received[0].cdbLength, 6);
    EXPECT_EQ(t->received[0].buffer, buffer);
    EXPECT_EQ(t->received[0].length, 48u);
    EXPECT_EQ(t->received[0].direction, DirectionIn);
    const uint8_t cdb10[12] = {0x3B, 2, 0, 1, 2, 3, 4, 5, 6, 0x44};
    EXPECT_EQ(std::memcmp(t->received[1].cdb, cdb10, 12), 0);
    EXPECT_EQ(t->received[1].cdbLength, 10);
    EXPECT_EQ(t->received[1].direction, 7);  // handed on; the transport treats it as no data
}

TEST(CommandRecord, NoTransportFailsWithoutIo) {
    auto owned = std::make_unique<ScriptedTransport>();
    owned->kind = TransportNone;
    ScriptedTransport* t = owned.get();
    CDriveControl drive(std::move(owned));
    EXPECT_EQ(drive.GetTransport(), TransportNone);
    EXPECT_EQ(drive.SendCommand6(0, 0, 0, 0, 0, 0, nullptr, 0, 0), kStatusTransportFailure);
    EXPECT_EQ(drive.GetLastResult().category, CommandCategory::TransportFailure);
    EXPECT_FALSE(drive.EnumerateDrives(true));
    EXPECT_TRUE(t->received.empty());
    const uint8_t zero[kSenseLength] = {};
    EXPECT_EQ(std::memcmp(drive.GetSenseData(), zero, kSenseLength), 0);
}

TEST(Enumeration, PassThroughLettersTypesAndRemovableBit) {
    SimulatedDrives sim(R"(
[drive]
letter = A
product = "FLOPPY OPTICAL"
[drive]
letter = C
product = "SYSTEM OPTICAL"
[drive]
letter = D
vendor = "MAKER"
product = "DVD-RAM KVS-Q42R"
revision = "1.05"
[drive]
letter = E
product = "FIXED DISK"
removable = no
[drive]
letter = F
type = removable
product = "USB STICK"
[drive]
letter = G
product = "CUT\0HERE"
revision = "2\0"
[drive]
letter = H
open = fail
[drive]
letter = B
product = "SECOND"
)");
    CDriveControl drive;
    EXPECT_EQ(drive.GetTransport(), TransportPassThrough);
    ASSERT_TRUE(drive.EnumerateDrives(true));
    ASSERT_EQ(drive.GetDriveCount(), 3);
    EXPECT_EQ(drive.GetDriveLetter(0), 'B');
    EXPECT_EQ(drive.GetDriveLetter(1), 'D');
    EXPECT_EQ(drive.GetVendor(1), "MAKER   ");  // trailing blanks stay
    EXPECT_EQ(drive.GetProduct(1), "DVD-RAM KVS-Q42R");
    EXPECT_EQ(drive.GetRevision(1), "1.05");
    EXPECT_EQ(drive.GetProduct(2), "CUT");  // cut at the NUL
    EXPECT_EQ(drive.GetRevision(2), "2");
    EXPECT_EQ(drive.GetHostAdapter(1), 0);
    for (const auto& e : sim.Journal()) {
        EXPECT_NE(e.drive, "A");
        EXPECT_NE(e.drive, "C");
        EXPECT_NE(e.drive, "F");  // not a CD-ROM drive
    }

    // Without the CD-ROM limit the removable drive F is probed and listed; E is fixed.
    ASSERT_TRUE(drive.EnumerateDrives(false));
    ASSERT_EQ(drive.GetDriveCount(), 4);
    EXPECT_EQ(drive.GetDriveLetter(2), 'F');
    EXPECT_EQ(drive.GetProduct(2), "USB STICK       ");
}

TEST(Enumeration, OutOfRangeAnswersAndLowEightBitsOfIndex) {
    SimulatedDrives sim(R"(
[drive]
letter = D
product = "FIRST"
medium = yes
[drive]
letter = E
product = "SECOND"
)");
    CDriveControl drive;
    ASSERT_TRUE(drive.EnumerateDrives(true));
    ASSERT_EQ(drive.GetDriveCount(), 2);
    EXPECT_EQ(drive.GetVendor(2), "");
    EXPECT_EQ(drive.GetProduct(2), "");
    EXPECT_EQ(drive.GetRevision(2), "");
    EXPECT_EQ(drive.GetHostAdapter(2), 0);
    EXPECT_EQ(drive.GetTarget(2), 0);
    EXPECT_EQ(drive.GetLun(2), 0);
    EXPECT_EQ(drive.GetDriveLetter(2), '-');
    EXPECT_EQ(drive.GetDriveLetter(257), 'E');  // 257 & 0xFF == 1
    EXPECT_EQ(drive.GetProduct(256), drive.GetProduct(0));

    sim.ClearJournal();
    drive.SelectDrive(257);  // drive E
    drive.SelectDrive(2);    // out of range: E stays selected
    drive.SendCommand6(0, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone);
    const auto journal = sim.Journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].drive, "E");
    EXPECT_EQ(journal[0].result, "check 2/3A/00");  // no medium
}

TEST(Enumeration, InquiryProbeTriesFourTimes) {
    SimulatedDrives sim(R"(
[drive]
letter = D
inquiry_failures = 3
[drive]
letter = E
inquiry_failures = 4
)");
    CDriveControl drive;
    ASSERT_TRUE(drive.EnumerateDrives(true));
    ASSERT_EQ(drive.GetDriveCount(), 1);
    EXPECT_EQ(drive.GetDriveLetter(0), 'D');
    const std::string inquiry = "12 00 00 00 24 00";
    EXPECT_EQ(sim.Cdbs("D"), std::vector<std::string>(4, inquiry));
    EXPECT_EQ(sim.Cdbs("E"), std::vector<std::string>(4, inquiry));
    for (const auto& e : sim.Journal()) {
        EXPECT_EQ(e.direction, "in");
        EXPECT_EQ(e.length, 36u);
    }
}

TEST(Enumeration, AspiAddressesInAdapterTargetLunOrder) {
    SimulatedDrives sim(R"(
[drive]
address = 1.0.0
product = "LATER"
[drive]
address = 0.5.1
product = "EARLIER"
[drive]
address = 0.2.0
product = "FIXED"
removable = no
)");
    CDriveControl drive;
    EXPECT_EQ(drive.GetTransport(), TransportAspi);
    ASSERT_TRUE(drive.EnumerateDrives(true));
    ASSERT_EQ(drive.GetDriveCount(), 2);
    EXPECT_EQ(drive.GetProduct(0), "EARLIER         ");
    EXPECT_EQ(drive.GetTarget(0), 5);
    EXPECT_EQ(drive.GetLun(0), 1);
    EXPECT_EQ(drive.GetHostAdapter(1), 1);
    EXPECT_EQ(drive.GetDriveLetter(0), '-');
    EXPECT_EQ(drive.GetDriveLetter(1), '-');
}

namespace {

// Drives D, E, F, ... whose INQUIRY answers only when every drive has been asked: probing
// them one after the other would never get an answer (each waits at most 10 s).
struct Rendezvous {
    std::mutex mutex;
    std::condition_variable arrived;
    int inside = 0;
    int most = 0;
    int expected = 0;
};

class RendezvousTransport : public IScsiTransport {
public:
    explicit RendezvousTransport(std::shared_ptr<Rendezvous> meeting)
        : m_meeting(std::move(meeting)) {}
    DriveTransport Kind() const override { return TransportPassThrough; }
    std::vector<DriveAddress> Candidates(bool) override {
        std::vector<DriveAddress> out;
        for (int i = 0; i < m_meeting->expected; ++i) {
            DriveAddress a;
            a.letter = static_cast<char>('D' + i);
            out.push_back(a);
        }
        return out;
    }
    bool Open(const DriveAddress& addr) override {
        m_letter = addr.letter;
        return true;
    }
    void Close() override {}
    TransportResult Execute(const ScsiCommand& cmd) override {
        std::unique_lock<std::mutex> lock(m_meeting->mutex);
        m_meeting->most = std::max(m_meeting->most, ++m_meeting->inside);
        m_meeting->arrived.notify_all();
        const bool met = m_meeting->arrived.wait_for(lock, std::chrono::seconds(10), [this] {
            return m_meeting->most >= m_meeting->expected;
        });
        --m_meeting->inside;
        if (!met)
            return TransportFailed(0);
        auto* data = static_cast<uint8_t*>(cmd.buffer);
        std::memset(data, ' ', cmd.length);
        data[1] = 0x80;
        data[16] = static_cast<uint8_t>(m_letter);
        return ScsiResult(0, m_sense, kSenseLength);
    }
    const uint8_t* Sense() const override { return m_sense; }
    std::unique_ptr<IScsiTransport> NewChannel() const override {
        return std::make_unique<RendezvousTransport>(m_meeting);
    }

private:
    std::shared_ptr<Rendezvous> m_meeting;
    char m_letter = '-';
    uint8_t m_sense[kSenseLength] = {};
};

}  // namespace

// Every address is probed at the same time on a channel of its own; the list keeps the
// discovery order. The same for commands to several listed drives (ForEachDrive).
TEST(Enumeration, DrivesAreAskedAtOnceAndKeepTheirOrder) {
    auto meeting = std::make_shared<Rendezvous>();
    meeting->expected = 6;
    CDriveControl drive(std::make_unique<RendezvousTransport>(meeting));
    ASSERT_TRUE(drive.EnumerateDrives(true));
    EXPECT_EQ(meeting->most, 6);
    ASSERT_EQ(drive.GetDriveCount(), 6);
    for (unsigned i = 0; i < 6; ++i) {
        EXPECT_EQ(drive.GetDriveLetter(i), 'D' + static_cast<int>(i));
        EXPECT_EQ(drive.GetProduct(i)[0], 'D' + static_cast<int>(i));
    }

    meeting->most = 0;
    meeting->expected = 3;
    std::vector<char> answered(6, '-');
    drive.ForEachDrive({1, 3, 5, 9}, [&](unsigned index, CDriveControl& one) {
        uint8_t data[36];
        if (one.SendCommand6(0x12, 0, 0, 0, 36, 0, data, 36, DirectionIn) == kStatusGood)
            answered[index] = static_cast<char>(data[16]);
    });
    EXPECT_EQ(meeting->most, 3);
    EXPECT_EQ(std::string(answered.begin(), answered.end()), "-E-G-I");  // 9: no such drive
}

TEST(Enumeration, AspiWithoutAdaptersFindsNothing) {
    SimulatedDrives sim("adapters = 0\n[drive]\naddress = 0.1.0\n");
    CDriveControl drive;
    EXPECT_EQ(drive.GetTransport(), TransportAspi);
    EXPECT_TRUE(drive.EnumerateDrives(true));
    EXPECT_EQ(drive.GetDriveCount(), 0);
    EXPECT_TRUE(sim.Journal().empty());
}

TEST(DriveState, UnitReadyTriesThreeTimesAndEjectClearsTheMedium) {
    struct Case {
        int failures;
        bool ready;
        size_t commands;
    } cases[] = {{0, true, 1}, {2, true, 3}, {3, false, 3}};
    for (const Case& c : cases) {
        SimulatedDrives sim("[drive]\nletter = D\nmedium = yes\ntur_failures = " +
                            std::to_string(c.failures) + "\n");
        CUpdateExecuter exec;
        exec.SelectDrive(0);
        sim.ClearJournal();
        EXPECT_EQ(exec.IsUnitReady(), c.ready) << c.failures;
        EXPECT_EQ(sim.Cdbs(), std::vector<std::string>(c.commands, "00 00 00 00 00 00"));
    }

    SimulatedDrives sim("[drive]\nletter = D\nmedium = yes\n");
    CUpdateExecuter exec;
    exec.SelectDrive(0);
    ASSERT_TRUE(exec.IsUnitReady());
    sim.ClearJournal();
    EXPECT_TRUE(exec.EjectDisc());
    ASSERT_EQ(sim.Journal().size(), 1u);
    EXPECT_EQ(sim.Journal()[0].cdb, "1B 00 00 00 02 00");
    EXPECT_EQ(sim.Journal()[0].direction, "none");
    EXPECT_FALSE(exec.IsUnitReady());
    EXPECT_FALSE(sim.State()[0].medium);
}

TEST(PlatformTransport, ChoiceAndCommandsWithoutASelectedDrive) {
    CDriveControl drive(CreatePlatformTransport());
#ifdef _WIN32
    // The NT family (and Wine) never takes ASPI unless VARNEL_FORCE_ASPI=1 asks for it.
    EXPECT_EQ(drive.GetTransport(), TransportPassThrough);
#else
    // SG_IO drives are addressed like ASPI drives: by host, target and LUN.
    EXPECT_EQ(drive.GetTransport(), TransportAspi);
#endif
    // No drive selected: no device is open and every command is a transport failure.
    uint8_t data[36] = {};
    EXPECT_EQ(drive.SendCommand6(0x12, 0, 0, 0, 36, 0, data, 36, DirectionIn),
              kStatusTransportFailure);
}
