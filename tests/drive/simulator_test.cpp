#include "drive/simulator.h"
#include "base/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "support/sim_support.h"

using testsupport::MakeImage;
using testsupport::SimulatedDrives;
using testsupport::TempDir;

namespace {

CommandStatus WriteChunk(CDriveControl& d, uint8_t mode, uint32_t offset, const uint8_t* data,
                         uint32_t length) {
    return d.SendCommand10(0x3B, mode, 0, static_cast<uint8_t>(offset >> 16),
                           static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
                           static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 8),
                           static_cast<uint8_t>(length), 0, const_cast<uint8_t*>(data), length,
                           DirectionOut);
}

CommandStatus Diagnostic(CDriveControl& d) {
    uint8_t list[8] = {0x23, 0, 0, 0, 0, 0x80, 0, 0};
    return d.SendCommand6(0x1D, 0x01, 0, 0, 0x06, 0, list, 8, DirectionOut);
}

std::string Inquiry48(CDriveControl& d, uint8_t* data) {
    std::memset(data, 0, 48);
    const CommandStatus s = d.SendCommand6(0x12, 0, 0, 0, 0x30, 0, data, 48, DirectionIn);
    if (s != 0)
        return "failed";
    return std::string(reinterpret_cast<char*>(data + 32), 4) + "-" +
           std::string(reinterpret_cast<char*>(data + 38), 2);
}

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    if (value[0] == '\0') {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
#endif
}

}  // namespace

TEST(SimulatorFile, BadFilesGiveALineNumberedReasonAndNoDrives) {
    struct Case {
        const char* text;
        const char* reason;
    } cases[] = {
        {"[drive]\nletter = D\nproduct = \"SEVENTEEN CHARS!!\"\n", ":3: product: longer than 16"},
        {"[drive]\nletter = D\nvendor = MAKER\n", ":3: vendor: expected one quoted string"},
        {"[drive]\nletter = D\nproduct = \"OPEN\n", ":3: unterminated quoted string"},
        {"[drive]\nletter = D\ncolour = blue\n", ":3: colour: unknown key"},
        {"speed = 4\n", ":1: unknown key 'speed' before the first [drive]"},
        {"[drive]\nletter = D\n[drive]\naddress = 0.1.0\n", "both letters and addresses"},
        {"[drive]\nletter = D\n[drive]\nletter = d\n", "two drives at D"},
        {"[drive]\nproduct = \"X\"\n", "drive 1 has no letter or address"},
        {"[drive]\naddress = 0.9.0\n", ":2: address"},
        {"[drive]\nletter = D\nfault = WRITE_BUFFER 0 transport\n", "must be a number from 1"},
        {"[drive]\nletter = D\nfault = FORMAT 1 transport\n", "unknown command kind"},
        {"[drive]\nletter = D\nfault = WRITE_BUFFER 1 check 5 2C\n", "expected 'KIND N check"},
        {"[drive]\nletter = D\nfault = WRITE_BUFFER 1 status 00\n", "non-zero hexadecimal"},
        {"[drive]\nletter = D\nreplaced = 1 \"OTHER\"\n", "expected 'N \"VENDOR\" \"PRODUCT\"'"},
        {"[drive]\nletter = D\nreplaced = x \"A\" \"B\"\n", "expected 'N \"VENDOR\""},
        {"[drive]\nletter = D\nua_after_microcode = 3\n", "yes or no expected"},
        {"[drive]\nletter = D\nactivates = later\n", ":3: activates: now or restart expected"},
        {"[drive]\nletter = D\nsetting = 00 40 00\n", "expected 8 hexadecimal bytes"},
        {"[drive]\nletter = D\nmedium = perhaps\n", "yes or no expected"},
        {"[drive]\nletter = D\ndelay_ms = -5\n", "a decimal number expected"},
        {"[drive]\nletter = D\nproduct\n", ":3: expected 'key = value'"},
        {"[tape]\n", "unknown section [tape]"},
        {"[drive]\ndevice = sr1\n[drive]\nletter = D\n", "drive 2: with device names every"},
        {"[drive]\ndevice = cdrom\n", ":2: device: one device name sr0, sr1"},
        {"[drive]\ndevice = sr1\naddress = 0.1.0\n", "the address of a named drive is host:"},
        {"[drive]\naddress = 0:0:1:0\n", "drive 1: a host:channel:target:lun address needs"},
        {"[drive]\ndevice = sr1\naddress = 4294967296:0:0:0\n", ":3: address: host:channel"},
        {"[drive]\ndevice = sr1\n[drive]\ndevice = sr1\n", "two drives at sr1"},
        {"needs_privilege = often\n", ":1: needs_privilege: yes or no expected"},
        {"[drive]\nletter = D\nfault = WRITE_BUFFER 1 refused\n", "transport|denied|gone"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string file = dir.File("drives.txt");
        std::ofstream(file) << c.text;
        ResetSimulators();
        std::string error;
        EXPECT_EQ(OpenSimulator(file, &error), nullptr) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(error.rfind(file, 0), 0u) << error;

        CDriveControl drive(CreateSimulatorTransport(file));
        EXPECT_TRUE(drive.EnumerateDrives(true));
        EXPECT_EQ(drive.GetDriveCount(), 0);
        EXPECT_NE(drive.GetTransportProblem().find(c.reason), std::string::npos);
    }
    ResetSimulators();
    std::string error;
    EXPECT_EQ(OpenSimulator("/no/such/folder/drives.txt", &error), nullptr);
    EXPECT_NE(error.find("cannot open the drive file"), std::string::npos);
}

TEST(SimulatorFile, EnvironmentVariableSelectsTheSimulator) {
    TempDir dir;
    const std::string file = dir.File("drives.txt");
    std::ofstream(file)
        << "# a drive\n[drive]\nletter = E   # the only one\nproduct = \"ENV # DRIVE\"\n";
    ResetSimulators();
    SetEnv(kSimulateEnvironment, file.c_str());
    CDriveControl drive;
    SetEnv(kSimulateEnvironment, "");
    ASSERT_TRUE(drive.EnumerateDrives(true));
    ASSERT_EQ(drive.GetDriveCount(), 1);
    EXPECT_EQ(drive.GetProduct(0), "ENV # DRIVE     ");
    EXPECT_EQ(drive.GetDriveLetter(0), 'E');
    ResetSimulators();
}

// A program with more privilege than its user (file capabilities, set-user-ID) does not let
// that user pick its drives.
TEST(SimulatorFile, PrivilegedProcessIgnoresTheEnvironmentVariable) {
    TempDir dir;
    const std::string file = dir.File("drives.txt");
    std::ofstream(file) << "[drive]\nletter = E\nproduct = \"ENV DRIVE\"\n";
    ResetSimulators();
    SetEnv(kSimulateEnvironment, file.c_str());
    SetMorePrivilegeForTest(1);
    CDriveControl drive;
    SetMorePrivilegeForTest(-1);
    CDriveControl unprivileged;
    SetEnv(kSimulateEnvironment, "");
    drive.EnumerateDrives(true);
    for (int i = 0; i < drive.GetDriveCount(); ++i)
        EXPECT_NE(drive.GetProduct(static_cast<uint8_t>(i)), "ENV DRIVE       ");
    ASSERT_TRUE(unprivileged.EnumerateDrives(true));
    ASSERT_EQ(unprivileged.GetDriveCount(), 1);
    EXPECT_EQ(unprivileged.GetProduct(0), "ENV DRIVE       ");
    ResetSimulators();
}

TEST(Simulator, InquiryFieldsMinorAndCustomerBytes) {
    SimulatedDrives sim(R"(
[drive]
letter = D
vendor = "MAKER   "
product = "DVDRAM_KVS-Q42R"
revision = "1.05"
customer = 0x2A
minor = "0A"
)");
    CDriveControl drive;
    ASSERT_TRUE(drive.EnumerateDrives(true));
    uint8_t data[48];
    EXPECT_EQ(Inquiry48(drive, data), "1.05-0A");
    EXPECT_EQ(data[1], 0x80);
    EXPECT_EQ(data[36], 0x2A);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 16), 16), "DVDRAM_KVS-Q42R ");
    // The allocation length limits the data even when the buffer is larger.
    std::memset(data, 0xEE, sizeof data);
    ASSERT_EQ(drive.SendCommand6(0x12, 0, 0, 0, 36, 0, data, 48, DirectionIn), 0);
    EXPECT_EQ(data[35], '5');
    EXPECT_EQ(data[36], 0xEE);
}

TEST(Simulator, ImageChunksInstallRevisionAndPersistAcrossRuns) {
    SimulatedDrives sim(R"(
[drive]
letter = D
revision = "1.00"
minor = "AA"
)");
    const auto main = MakeImage(true, 40000, "1.10", "0B", 3);
    const auto core = MakeImage(false, 5000);
    {
        CDriveControl drive;
        ASSERT_TRUE(drive.EnumerateDrives(true));
        // Out of order: an image must start at offset 0.
        EXPECT_EQ(WriteChunk(drive, 2, 0x8000, main.data(), 100), 0x2C00);
        EXPECT_EQ(drive.GetSenseData()[2], 5);
        EXPECT_EQ(drive.GetSenseData()[12], 0x2C);
        // Nothing received yet: the diagnostic has nothing to install.
        EXPECT_EQ(Diagnostic(drive), 0x2C00);
        ASSERT_EQ(WriteChunk(drive, 2, 0, main.data(), 0x8000), 0);
        EXPECT_EQ(WriteChunk(drive, 5, 0x8001, main.data() + 0x8001, 40000 - 0x8001), 0x2C00);
        ASSERT_EQ(WriteChunk(drive, 5, 0x8000, main.data() + 0x8000, 40000 - 0x8000), 0);
        ASSERT_EQ(WriteChunk(drive, 5, 0, core.data(), 5000), 0);
        uint8_t data[48];
        EXPECT_EQ(Inquiry48(drive, data), "1.00-AA");  // nothing installed before the diagnostic
        ASSERT_EQ(Diagnostic(drive), 0);
        EXPECT_EQ(Inquiry48(drive, data), "1.10-0B");
        EXPECT_EQ(sim.State()[0].lastInstallHash, Fnv1a64(main.data(), main.size()));
    }
    const auto journal = sim.Journal();
    ASSERT_GE(journal.size(), 3u);
    EXPECT_EQ(journal[0].cdb, "12 00 00 00 24 00");
    EXPECT_EQ(journal[1].cdb, "3B 02 00 00 80 00 00 00 64 00");
    EXPECT_EQ(journal[1].direction, "out");
    EXPECT_EQ(journal[1].length, 100u);
    EXPECT_EQ(journal[1].result, "check 5/2C/00");
    EXPECT_EQ(journal[1].hash, testsupport::HexHash(main.data(), 100));
    EXPECT_EQ(journal[3].result, "good");

    sim.Restart();  // a new run reads the drive file and its state
    CDriveControl again;
    ASSERT_TRUE(again.EnumerateDrives(true));
    EXPECT_EQ(again.GetRevision(0), "1.10");
    uint8_t data[48];
    EXPECT_EQ(Inquiry48(again, data), "1.10-0B");
}

// activates = restart: the images are installed (their hash is kept), but the drive reports
// its old revision and minor revision, also to the next run.
TEST(Simulator, MicrocodeActivatedAtRestartKeepsTheOldRevision) {
    SimulatedDrives sim(
        "[drive]\nletter = D\nrevision = \"1.00\"\nminor = \"AA\"\nactivates = restart\n");
    const auto main = MakeImage(true, 2000, "1.10", "0B", 3);
    {
        CDriveControl drive;
        ASSERT_TRUE(drive.EnumerateDrives(true));
        ASSERT_EQ(WriteChunk(drive, 5, 0, main.data(), 2000), 0);
        ASSERT_EQ(Diagnostic(drive), 0);
        uint8_t data[48];
        EXPECT_EQ(Inquiry48(drive, data), "1.00-AA");
        EXPECT_EQ(sim.State()[0].lastInstallHash, Fnv1a64(main.data(), main.size()));
    }
    sim.Restart();
    CDriveControl again;
    ASSERT_TRUE(again.EnumerateDrives(true));
    EXPECT_EQ(again.GetRevision(0), "1.00");
}

TEST(Simulator, RefusesImagesWithWrongLengthOrSum) {
    SimulatedDrives sim("[drive]\nletter = D\n");
    CDriveControl drive;
    ASSERT_TRUE(drive.EnumerateDrives(true));
    auto image = MakeImage(true, 2000);
    EXPECT_EQ(WriteChunk(drive, 5, 0, image.data(), 1999), 0x2600);  // shorter than its header says
    image[1500] ^= 1;
    EXPECT_EQ(WriteChunk(drive, 5, 0, image.data(), 2000), 0x2602);  // word sum broken
    EXPECT_EQ(Diagnostic(drive), 0x2C00);
    EXPECT_EQ(sim.State()[0].revision, "    ");
}

TEST(Simulator, SettingBlockEjectAndIllegalRequests) {
    SimulatedDrives sim("[drive]\nletter = D\nmedium = yes\nsetting = 11 40 22 33 44 55 66 77\n");
    {
        CDriveControl drive;
        ASSERT_TRUE(drive.EnumerateDrives(true));
        uint8_t block[8] = {};
        ASSERT_EQ(drive.SendCommand10(0x3C, 5, 4, 0, 7, 0xD4, 0, 0, 8, 0x44, block, 8, DirectionIn),
                  0);
        EXPECT_EQ(block[0], 0x11);
        EXPECT_EQ(block[1], 0x40);
        block[1] = 0x00;
        ASSERT_EQ(
            drive.SendCommand10(0x3B, 5, 4, 0, 7, 0xD4, 0, 0, 8, 0x44, block, 8, DirectionOut), 0);
        // Another buffer id or offset of READ BUFFER is not known to the drive.
        EXPECT_EQ(drive.SendCommand10(0x3C, 5, 4, 0, 7, 0xD0, 0, 0, 8, 0x44, block, 8, DirectionIn),
                  0x2400);
        // Unknown operation code: ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
        EXPECT_EQ(drive.SendCommand10(0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0, block, 8, DirectionIn),
                  0x2000);
        EXPECT_EQ(drive.GetSenseData()[0], 0x70);
        EXPECT_EQ(drive.GetSenseData()[2], 5);
        // A diagnostic with another parameter list installs nothing.
        uint8_t list[8] = {0x23, 0, 0, 0, 0, 0x81, 0, 0};
        EXPECT_EQ(drive.SendCommand6(0x1D, 1, 0, 0, 6, 0, list, 8, DirectionOut), 0x2600);
        EXPECT_EQ(drive.SendCommand6(0x00, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone), 0);
        EXPECT_EQ(drive.SendCommand6(0x1B, 0, 0, 0, 2, 0, nullptr, 0, DirectionNone), 0);
        EXPECT_EQ(drive.SendCommand6(0x00, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone), 0x3A00);
    }
    sim.Restart();
    const auto state = sim.State();
    ASSERT_EQ(state.size(), 1u);
    EXPECT_FALSE(state[0].medium);
    EXPECT_EQ(state[0].setting[1], 0x00);
    EXPECT_EQ(state[0].setting[7], 0x77);
}

TEST(Simulator, FaultsByKindCountTransportAndStop) {
    SimulatedDrives sim(R"(
[drive]
letter = D
medium = yes
fault = TEST_UNIT_READY 2 check 2 04 01
fault = TEST_UNIT_READY 4+ transport
[drive]
letter = E
medium = yes
stop_after = 3
)");
    CDriveControl drive;
    ASSERT_TRUE(drive.EnumerateDrives(true));
    auto tur = [&] { return drive.SendCommand6(0, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone); };
    EXPECT_EQ(tur(), 0);
    EXPECT_EQ(tur(), 0x0401);
    EXPECT_EQ(drive.GetSenseData()[2], 2);
    EXPECT_EQ(tur(), 0);
    EXPECT_EQ(tur(), 0xFFFF);
    const uint8_t zero[kSenseLength] = {};
    EXPECT_EQ(std::memcmp(drive.GetSenseData(), zero, kSenseLength), 0);
    EXPECT_EQ(tur(), 0xFFFF);

    drive.SelectDrive(1);  // E: one INQUIRY during enumeration, then two more answers
    EXPECT_EQ(tur(), 0);
    EXPECT_EQ(tur(), 0);
    EXPECT_EQ(tur(), 0xFFFF);
    EXPECT_EQ(sim.Journal().back().result, "transport");
}

// The system refuses a command (no privilege): this command fails, the drive stays. A drive
// that is gone stays gone: every later command fails the same way, and it cannot be opened.
TEST(Simulator, DeniedAndGoneCommandsAreTransportFailuresWithTheirReason) {
    SimulatedDrives sim(R"(
[drive]
device = sr0
medium = yes
fault = TEST_UNIT_READY 2 denied
fault = TEST_UNIT_READY 4 gone
)");
    CDriveControl drive;
    ASSERT_TRUE(drive.EnumerateDrives(true));
    ASSERT_EQ(drive.GetDriveCount(), 1);
    EXPECT_EQ(drive.GetTransportName(), "sg_io");
    EXPECT_EQ(drive.GetDriveLetter(0), '-');
    EXPECT_EQ(drive.GetDriveInfo(0).address.name, "sr0");
    EXPECT_EQ(drive.GetDriveInfo(0).address.fullAddress, "0:0:0:0");  // the default
    auto tur = [&] { return drive.SendCommand6(0, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone); };
    const struct {
        CommandStatus status;
        CommandCategory category;
        TransportFault fault;
        const char* journal;
    } expected[] = {
        {0, CommandCategory::Good, TransportFault::Unknown, "good"},
        {0xFFFF, CommandCategory::TransportFailure, TransportFault::NotPermitted, "denied"},
        {0, CommandCategory::Good, TransportFault::Unknown, "good"},
        {0xFFFF, CommandCategory::TransportFailure, TransportFault::DeviceGone, "gone"},
        {0xFFFF, CommandCategory::TransportFailure, TransportFault::DeviceGone, "gone"},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(tur(), e.status);
        EXPECT_EQ(drive.GetLastResult().category, e.category);
        EXPECT_EQ(drive.GetLastResult().fault, e.fault);
        EXPECT_EQ(sim.Journal().back().result, e.journal);
    }
    // Opened again (a new download object): the device is gone, nothing reaches it.
    const size_t lines = sim.Journal().size();
    CDriveControl again;
    EXPECT_FALSE(again.AttachDrive(drive.GetDriveInfo(0)));
    EXPECT_EQ(again.SendCommand6(0, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone), 0xFFFF);
    EXPECT_EQ(again.GetLastResult().fault, TransportFault::DeviceGone);
    EXPECT_EQ(sim.Journal().size(), lines);
}
