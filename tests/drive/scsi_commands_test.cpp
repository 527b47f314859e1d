// The named commands: the CDB bytes, data phase and length each one sends, and the decoders
// that read the fields back.
#include "drive/scsi_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

// Keeps the last command it is given.
class RecordingTransport : public IScsiTransport {
public:
    ScsiCommand last;

    DriveTransport Kind() const override { return TransportPassThrough; }
    std::vector<DriveAddress> Candidates(bool) override { return {}; }
    bool Open(const DriveAddress&) override { return true; }
    void Close() override {}
    TransportResult Execute(const ScsiCommand& cmd) override {
        last = cmd;
        return ScsiResult(0, m_sense, 0);
    }
    const uint8_t* Sense() const override { return m_sense; }

private:
    uint8_t m_sense[32] = {};
};

std::string Hex(const uint8_t* bytes, size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

}  // namespace

TEST(ScsiCommands, EachCommandSendsItsBytes) {
    uint8_t buffer[64] = {};
    scsi::DiagnosticCdb finish;
    finish.flags = scsi::kDiagnosticUnitOffline;
    finish.listLength = 6;
    const struct Case {
        const char* name;
        std::function<CommandStatus(CDriveControl&)> send;
        const char* cdb;
        uint8_t direction;
        uint32_t length;
    } cases[] = {
        {"inquiry", [&](CDriveControl& d) { return scsi::Inquiry(d, buffer, 36); },
         "12 00 00 00 24 00", DirectionIn, 36},
        {"long inquiry", [&](CDriveControl& d) { return scsi::Inquiry(d, buffer, 48); },
         "12 00 00 00 30 00", DirectionIn, 48},
        {"test unit ready", [](CDriveControl& d) { return scsi::TestUnitReady(d); },
         "00 00 00 00 00 00", DirectionNone, 0},
        {"eject", [](CDriveControl& d) { return scsi::StartStopUnit(d, false, true); },
         "1B 00 00 00 02 00", DirectionNone, 0},
        {"image chunk",
         [&](CDriveControl& d) {
             return scsi::WriteBuffer(d, scsi::kModeDownloadSave, 0x018000, buffer, 0x10203);
         },
         "3B 05 00 01 80 00 01 02 03 00", DirectionOut, 0x10203},
        {"setting read",
         [&](CDriveControl& d) { return scsi::ReadBuffer(d, scsi::kSettingBlock, buffer); },
         "3C 05 04 00 07 D4 00 00 08 44", DirectionIn, 8},
        {"setting write",
         [&](CDriveControl& d) { return scsi::WriteBuffer(d, scsi::kSettingBlock, buffer); },
         "3B 05 04 00 07 D4 00 00 08 44", DirectionOut, 8},
        {"finish",
         [&](CDriveControl& d) {
             return scsi::SendDiagnostic(d, finish, scsi::kFinishParameters, 8);
         },
         "1D 01 00 00 06 00", DirectionOut, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto transport = std::make_unique<RecordingTransport>();
        RecordingTransport* seen = transport.get();
        CDriveControl drive(std::move(transport));
        EXPECT_EQ(kStatusGood, c.send(drive));
        EXPECT_EQ(c.cdb, Hex(seen->last.cdb, seen->last.cdbLength));
        EXPECT_EQ(c.direction, seen->last.direction);
        EXPECT_EQ(c.length, seen->last.length);
        EXPECT_EQ(c.length == 0, seen->last.buffer == nullptr);
    }
}

TEST(ScsiCommands, DecodersReadWhatTheCommandsCarry) {
    const uint8_t buffer[10] = {0x3B, 0x02, 0x07, 0x12, 0x34, 0x56, 0x00, 0x80, 0x00, 0x44};
    const scsi::BufferCdb b = scsi::DecodeBufferCdb(buffer);
    EXPECT_EQ(0x02, b.mode);
    EXPECT_EQ(0x07, b.bufferId);
    EXPECT_EQ(0x123456u, b.offset);
    EXPECT_EQ(0x8000u, b.length);
    EXPECT_EQ(0x44, b.control);
    const uint8_t diagnostic[6] = {0x1D, 0x01, 0x00, 0x01, 0x06, 0x00};
    EXPECT_EQ(0x106, scsi::DecodeDiagnosticCdb(diagnostic).listLength);

    uint8_t inquiry[48] = {};
    inquiry[1] = 0x80;
    std::memcpy(inquiry + 8, "QZEN    DVD-RAM KVS-Q42R1.05", 28);
    inquiry[36] = 0x22;
    const struct {
        uint8_t first, second;
        const char* minor;
    } minors[] = {
        {'0', 'A', "0A"}, {'z', '9', "z9"}, {' ', '1', ""}, {0, 'A', ""}, {0x80, 'A', ""}};
    for (const auto& m : minors) {
        inquiry[38] = m.first;
        inquiry[39] = m.second;
        EXPECT_EQ(m.minor, scsi::InquiryMinorRevision(inquiry));
    }
    EXPECT_TRUE(scsi::InquiryRemovable(inquiry));
    EXPECT_EQ("QZEN    ", scsi::InquiryVendor(inquiry));
    EXPECT_EQ("DVD-RAM KVS-Q42R", scsi::InquiryProduct(inquiry));
    EXPECT_EQ("1.05", scsi::InquiryRevision(inquiry));
    EXPECT_EQ(0x22, scsi::InquiryCustomer(inquiry));

    uint8_t sense[kSenseLength];
    scsi::SetFixedSense(sense, 0x06, 0x3F, 0x16);
    EXPECT_TRUE(scsi::IsFixedSense(sense));
    EXPECT_EQ(0x06, scsi::SenseKey(sense));
    EXPECT_EQ(0x3F, scsi::SenseAsc(sense));
    EXPECT_EQ(0x16, scsi::SenseAscq(sense));
}
