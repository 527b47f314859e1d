#include "drive/drive_control.h"

#include <gtest/gtest.h>

#include <cstring>

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
        uint8_t asc = 0, ascq = 0;
    };
    DriveTransport kind = TransportPassThrough;
    std::vector<ScsiCommand> received;
    std::vector<Answer> answers;  // used in order; good status when exhausted

    DriveTransport Kind() const override { return kind; }
    std::vector<DriveAddress> Candidates(bool) override { return {}; }
    bool Open(const DriveAddress&) override { return true; }
    void Close() override {}
    CommandStatus Execute(const ScsiCommand& cmd) override {
        received.push_back(cmd);
        Answer a;
        if (received.size() <= answers.size())
            a = answers[received.size() - 1];
        std::memset(m_sense, 0, sizeof m_sense);
        if (a.scsiStatus != 0) {
            m_sense[0] = 0x70;
            m_sense[12] = a.asc;
            m_sense[13] = a.ascq;
        }
        return StatusFromScsi(a.delivered, a.scsiStatus, m_sense);
    }
    const uint8_t* Sense() const override { return m_sense; }

private:
    uint8_t m_sense[32] = {};
};

}  // namespace

TEST(CommandStatus, MapsDeliveryScsiStatusAndSense) {
    struct Case {
        bool delivered;
        uint8_t status, asc, ascq;
        CommandStatus expected;
    } cases[] = {
        {false, 0, 0, 0, 0xFFFF},
        {true, 0, 0x2C, 0x00, 0},  // good status ignores sense
        {true, 2, 0x2C, 0x00, 0x2C00},
        {true, 2, 0x3A, 0x01, 0x3A01},
        {true, 2, 0, 0, 0},  // non-good status without ASC/ASCQ reads as good
        {true, 2, 0xFF, 0xFF, 0xFFFF},
    };
    for (const Case& c : cases) {
        uint8_t sense[24] = {};
        sense[12] = c.asc;
        sense[13] = c.ascq;
        EXPECT_EQ(StatusFromScsi(c.delivered, c.status, sense), c.expected)
            << int(c.status) << " " << int(c.asc);
    }
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
