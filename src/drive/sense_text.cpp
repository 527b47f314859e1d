#include "drive/sense_text.h"

#include "base/text.h"
#include "drive/scsi_commands.h"

namespace {

struct SenseCode {
    uint8_t asc;
    uint8_t ascq;
    const char* words;
};

// The codes an optical drive gives most during a firmware download.
constexpr SenseCode kCodes[] = {
    {0x04, 0x00, "logical unit not ready, cause not reportable"},
    {0x04, 0x01, "logical unit is in process of becoming ready"},
    {0x04, 0x02, "logical unit not ready, initializing command required"},
    {0x04, 0x03, "logical unit not ready, manual intervention required"},
    {0x04, 0x07, "logical unit not ready, operation in progress"},
    {0x04, 0x08, "logical unit not ready, long write in progress"},
    {0x08, 0x00, "logical unit communication failure"},
    {0x0C, 0x00, "write error"},
    {0x11, 0x00, "unrecovered read error"},
    {0x1A, 0x00, "parameter list length error"},
    {0x20, 0x00, "invalid command operation code"},
    {0x21, 0x00, "logical block address out of range"},
    {0x24, 0x00, "invalid field in CDB"},
    {0x25, 0x00, "logical unit not supported"},
    {0x26, 0x00, "invalid field in parameter list"},
    {0x26, 0x01, "parameter not supported"},
    {0x26, 0x02, "parameter value invalid"},
    {0x28, 0x00, "not ready to ready change, medium may have changed"},
    {0x29, 0x00, "power on, reset, or bus device reset occurred"},
    {0x29, 0x01, "power on occurred"},
    {0x29, 0x02, "SCSI bus reset occurred"},
    {0x2C, 0x00, "command sequence error"},
    {0x30, 0x00, "incompatible medium installed"},
    {0x3A, 0x00, "medium not present"},
    {0x3A, 0x01, "medium not present, tray closed"},
    {0x3A, 0x02, "medium not present, tray open"},
    {0x3E, 0x00, "logical unit has not self-configured yet"},
    {0x3F, 0x01, "microcode has been changed"},
    {0x3F, 0x16, "microcode has been changed without reset"},
    {0x44, 0x00, "internal target failure"},
    {0x47, 0x00, "SCSI parity error"},
    {0x4B, 0x00, "data phase error"},
    {0x4B, 0x03, "ACK/NAK timeout"},
    {0x4E, 0x00, "overlapped commands attempted"},
    {0x53, 0x02, "medium removal prevented"},
    {0x5A, 0x01, "operator medium removal request"},
};

constexpr const char* kKeyNames[16] = {
    "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
    "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
    "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
    nullptr,          "VOLUME OVERFLOW", "MISCOMPARE",     nullptr,
};

}  // namespace

std::string SenseKeyName(uint8_t key) {
    const char* name = kKeyNames[key & 0x0F];
    return name != nullptr ? name : "SENSE KEY " + HexByte(key & 0x0F);
}

std::string SenseWords(const uint8_t* sense) {
    if (!scsi::IsFixedSense(sense))
        return std::string();
    const uint8_t key = scsi::SenseKey(sense);
    const uint8_t asc = scsi::SenseAsc(sense), ascq = scsi::SenseAscq(sense);
    if (key == 0 && asc == 0 && ascq == 0)
        return std::string();
    for (const SenseCode& c : kCodes) {
        if (c.asc == asc && c.ascq == ascq)
            return SenseKeyName(key) + ": " + c.words;
    }
    if (asc == 0 && ascq == 0)
        return SenseKeyName(key);
    return SenseKeyName(key) + ": ASC/ASCQ " + HexByte(asc) + "/" + HexByte(ascq);
}

std::string CommandName(uint8_t opcode) {
    switch (opcode) {
        case scsi::kOpTestUnitReady:
            return "TEST UNIT READY";
        case scsi::kOpInquiry:
            return "INQUIRY";
        case scsi::kOpStartStopUnit:
            return "START STOP UNIT";
        case scsi::kOpSendDiagnostic:
            return "SEND DIAGNOSTIC";
        case scsi::kOpWriteBuffer:
            return "WRITE BUFFER";
        case scsi::kOpReadBuffer:
            return "READ BUFFER";
        default:
            return "command " + HexByte(opcode);
    }
}
