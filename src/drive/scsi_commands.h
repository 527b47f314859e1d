// The SCSI commands the program sends, one function each over the drive selected in a
// CDriveControl, and the decoders of the fields it reads: INQUIRY data, sense data and the
// CDB fields the simulated drives look at. Multi-byte CDB fields are big-endian.
#pragma once

#include <cstdint>
#include <string>

#include "drive/drive_control.h"

namespace scsi {

inline constexpr uint8_t kOpTestUnitReady = 0x00;
inline constexpr uint8_t kOpInquiry = 0x12;
inline constexpr uint8_t kOpStartStopUnit = 0x1B;
inline constexpr uint8_t kOpSendDiagnostic = 0x1D;
inline constexpr uint8_t kOpWriteBuffer = 0x3B;
inline constexpr uint8_t kOpReadBuffer = 0x3C;

// WRITE BUFFER modes: data, and microcode to download and save.
inline constexpr uint8_t kModeWriteData = 0x02;
inline constexpr uint8_t kModeDownloadSave = 0x05;

// INQUIRY: the standard data, and with the vendor bytes 36 to 47.
inline constexpr uint8_t kInquiryLength = 36;
inline constexpr uint8_t kLongInquiryLength = 48;

// SEND DIAGNOSTIC byte 1: UnitOffL.
inline constexpr uint8_t kDiagnosticUnitOffline = 0x01;

// The fields of a WRITE BUFFER or READ BUFFER CDB.
struct BufferCdb {
    uint8_t mode = 0;
    uint8_t bufferId = 0;
    uint32_t offset = 0;  // 24 bits
    uint32_t length = 0;  // 24 bits
    uint8_t control = 0;
};

// The fields of a SEND DIAGNOSTIC CDB.
struct DiagnosticCdb {
    uint8_t flags = 0;  // byte 1
    uint8_t pageCode = 0;
    uint16_t listLength = 0;
    uint8_t control = 0;
};

// Vendor-specific: the 8-byte setting block of the listed models, and the parameter list
// of the diagnostic that finishes a download.
inline constexpr BufferCdb kSettingBlock = {0x05, 0x04, 0x0007D4, 8, 0x44};
inline constexpr uint8_t kFinishParameters[8] = {0x23, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00};

// INQUIRY of length bytes of standard data into data.
CommandStatus Inquiry(CDriveControl& drive, uint8_t* data, uint8_t length);
CommandStatus TestUnitReady(CDriveControl& drive);
// START STOP UNIT without Immed: the status comes when the drive has done it. Eject: start
// false, loadEject true.
CommandStatus StartStopUnit(CDriveControl& drive, bool start, bool loadEject);
// WRITE BUFFER of cdb.length bytes of data (the drive only reads them).
CommandStatus WriteBuffer(CDriveControl& drive, const BufferCdb& cdb, const uint8_t* data);
// WRITE BUFFER with buffer id 0 and control 0, as firmware images go out.
CommandStatus WriteBuffer(CDriveControl& drive, uint8_t mode, uint32_t offset, const uint8_t* data,
                          uint32_t length);
// READ BUFFER of cdb.length bytes into data.
CommandStatus ReadBuffer(CDriveControl& drive, const BufferCdb& cdb, uint8_t* data);
// SEND DIAGNOSTIC whose parameter list of cdb.listLength bytes the transport sends as
// transferLength bytes of parameters.
CommandStatus SendDiagnostic(CDriveControl& drive, const DiagnosticCdb& cdb,
                             const uint8_t* parameters, uint32_t transferLength);

BufferCdb DecodeBufferCdb(const uint8_t* cdb);
DiagnosticCdb DecodeDiagnosticCdb(const uint8_t* cdb);
bool operator==(const BufferCdb& a, const BufferCdb& b);
bool operator==(const DiagnosticCdb& a, const DiagnosticCdb& b);

// Standard INQUIRY data: the removable-medium bit and the identity fields, each up to its
// first zero byte (trailing blanks stay).
inline bool InquiryRemovable(const uint8_t* data) {
    return (data[1] & 0x80) != 0;
}
std::string InquiryVendor(const uint8_t* data);
std::string InquiryProduct(const uint8_t* data);
std::string InquiryRevision(const uint8_t* data);
// Vendor bytes of the 48-byte INQUIRY: the drive's customer code (byte 36), and its minor
// revision (bytes 38 and 39) when both are ASCII letters or digits, else empty.
inline uint8_t InquiryCustomer(const uint8_t* data) {
    return data[36];
}
std::string InquiryMinorRevision(const uint8_t* data);

// Sense data. Fixed format (response code 70h/71h) carries the key in byte 2 and ASC/ASCQ
// in bytes 12 and 13; descriptor format (72h/73h) in bytes 1 to 3.
inline constexpr uint8_t kSenseUnitAttention = 0x06;
inline uint8_t SenseResponseCode(const uint8_t* sense) {
    return sense[0] & 0x7F;
}
inline bool IsFixedSense(const uint8_t* sense) {
    return SenseResponseCode(sense) == 0x70 || SenseResponseCode(sense) == 0x71;
}
inline bool IsDescriptorSense(const uint8_t* sense) {
    return SenseResponseCode(sense) == 0x72 || SenseResponseCode(sense) == 0x73;
}
inline uint8_t SenseKey(const uint8_t* sense) {
    return sense[2] & 0x0F;
}
inline uint8_t SenseAsc(const uint8_t* sense) {
    return sense[12];
}
inline uint8_t SenseAscq(const uint8_t* sense) {
    return sense[13];
}
// Writes kSenseLength bytes of fixed-format sense data (response code 70h, or 71h for
// deferred errors).
void SetFixedSense(uint8_t* sense, uint8_t key, uint8_t asc, uint8_t ascq, bool deferred = false);

}  // namespace scsi
