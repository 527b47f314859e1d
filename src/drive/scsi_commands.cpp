#include "drive/scsi_commands.h"

#include <cstring>

#include "base/bytes.h"
#include "base/text.h"

namespace scsi {

namespace {

void PutBufferCdb(uint8_t* cdb, uint8_t opcode, const BufferCdb& fields) {
    cdb[0] = opcode;
    cdb[1] = fields.mode;
    cdb[2] = fields.bufferId;
    WriteBE24(cdb + 3, fields.offset);
    WriteBE24(cdb + 6, fields.length);
    cdb[9] = fields.control;
}

}  // namespace

CommandStatus Inquiry(CDriveControl& drive, uint8_t* data, uint8_t length) {
    const uint8_t cdb[6] = {kOpInquiry, 0, 0, 0, length, 0};
    return drive.Send(MakeCommand(cdb, 6, data, length, DirectionIn));
}

CommandStatus TestUnitReady(CDriveControl& drive) {
    const uint8_t cdb[6] = {kOpTestUnitReady, 0, 0, 0, 0, 0};
    return drive.Send(MakeCommand(cdb, 6, nullptr, 0, DirectionNone));
}

CommandStatus StartStopUnit(CDriveControl& drive, bool start, bool loadEject) {
    const uint8_t cdb[6] = {kOpStartStopUnit,
                            0,
                            0,
                            0,
                            static_cast<uint8_t>((loadEject ? 0x02 : 0) | (start ? 0x01 : 0)),
                            0};
    return drive.Send(MakeCommand(cdb, 6, nullptr, 0, DirectionNone));
}

CommandStatus WriteBuffer(CDriveControl& drive, const BufferCdb& fields, const uint8_t* data) {
    uint8_t cdb[10];
    PutBufferCdb(cdb, kOpWriteBuffer, fields);
    return drive.Send(MakeCommand(cdb, 10, data, fields.length, DirectionOut));
}

CommandStatus WriteBuffer(CDriveControl& drive, uint8_t mode, uint32_t offset, const uint8_t* data,
                          uint32_t length) {
    BufferCdb fields;
    fields.mode = mode;
    fields.offset = offset;
    fields.length = length;
    return WriteBuffer(drive, fields, data);
}

CommandStatus ReadBuffer(CDriveControl& drive, const BufferCdb& fields, uint8_t* data) {
    uint8_t cdb[10];
    PutBufferCdb(cdb, kOpReadBuffer, fields);
    return drive.Send(MakeCommand(cdb, 10, data, fields.length, DirectionIn));
}

CommandStatus SendDiagnostic(CDriveControl& drive, const DiagnosticCdb& fields,
                             const uint8_t* parameters, uint32_t transferLength) {
    uint8_t cdb[6] = {kOpSendDiagnostic, fields.flags, fields.pageCode, 0, 0, fields.control};
    WriteBE16(cdb + 3, fields.listLength);
    return drive.Send(MakeCommand(cdb, 6, parameters, transferLength, DirectionOut));
}

BufferCdb DecodeBufferCdb(const uint8_t* cdb) {
    BufferCdb fields;
    fields.mode = cdb[1];
    fields.bufferId = cdb[2];
    fields.offset = ReadBE24(cdb + 3);
    fields.length = ReadBE24(cdb + 6);
    fields.control = cdb[9];
    return fields;
}

DiagnosticCdb DecodeDiagnosticCdb(const uint8_t* cdb) {
    DiagnosticCdb fields;
    fields.flags = cdb[1];
    fields.pageCode = cdb[2];
    fields.listLength = static_cast<uint16_t>(ReadBE16(cdb + 3));
    fields.control = cdb[5];
    return fields;
}

bool operator==(const BufferCdb& a, const BufferCdb& b) {
    return a.mode == b.mode && a.bufferId == b.bufferId && a.offset == b.offset &&
           a.length == b.length && a.control == b.control;
}

bool operator==(const DiagnosticCdb& a, const DiagnosticCdb& b) {
    return a.flags == b.flags && a.pageCode == b.pageCode && a.listLength == b.listLength &&
           a.control == b.control;
}

std::string InquiryVendor(const uint8_t* data) {
    return FieldText(data + 8, 8);
}

std::string InquiryProduct(const uint8_t* data) {
    return FieldText(data + 16, 16);
}

std::string InquiryRevision(const uint8_t* data) {
    return FieldText(data + 32, 4);
}

std::string InquiryMinorRevision(const uint8_t* data) {
    const auto first = static_cast<char>(data[38]), second = static_cast<char>(data[39]);
    if (!IsAsciiAlnum(first) || !IsAsciiAlnum(second))
        return std::string();
    return std::string{first, second};
}

void SetFixedSense(uint8_t* sense, uint8_t key, uint8_t asc, uint8_t ascq, bool deferred) {
    std::memset(sense, 0, kSenseLength);
    sense[0] = deferred ? 0x71 : 0x70;
    sense[2] = key;
    sense[7] = 10;  // additional sense length
    sense[12] = asc;
    sense[13] = ascq;
}

}  // namespace scsi
