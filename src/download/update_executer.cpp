#include "download/update_executer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "base/text.h"
#include "drive/scsi_commands.h"
#include "package/program_image.h"

namespace {

constexpr uint32_t kChunkSize = 0x8000;
constexpr unsigned kFinishWaitMs = 3000;
// A drive restarts with its new microcode: it is asked every second, for at most 60 s.
constexpr unsigned kRestartPollMs = 1000;
constexpr uint64_t kRestartLimitMs = 60000;
constexpr unsigned kRestartAttempts = kRestartLimitMs / kRestartPollMs;
constexpr uint8_t kStatusBusy = 0x08;
constexpr uint8_t kStatusTaskSetFull = 0x28;
constexpr int kUnitReadyAttempts = 3;
constexpr CommandStatus kSequenceError = 0x2C00;

// Models whose setting block is cleared for the download and restored afterwards.
const char* const kSpecialModels[] = {
    "KXS-7310P", "KXS-8310R", "KXS-7350P", "KXS-8350R", "KXS-7353P",
    "KXS-8352R", "KXS-8353R", "KXS-6352R", "KXS-7270T", "END",
};

std::string Hex32(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

// The code sizes of the image headers must walk the body exactly; otherwise the walk would
// read past the body or never advance. Empty when they do.
std::string WalkError(const std::vector<ImageSlot>& images) {
    for (const ImageSlot& image : images) {
        switch (image.fit) {
            case ImageSlot::Fit::Whole:
                break;
            case ImageSlot::Fit::HeaderCut:
                return " (Firmware data invalid: " + std::to_string(image.length) +
                       " bytes at offset " + Hex32(image.offset) +
                       " are too short for an image header)";
            case ImageSlot::Fit::RunsPast:
                return " (Firmware data invalid: code size " + Hex32(image.codeSize) +
                       " of the image at offset " + Hex32(image.offset) +
                       " runs past the end of the firmware data)";
        }
    }
    return {};
}

// " (Status = 08 BUSY)"
std::string StatusText(uint8_t status) {
    const std::string name = ScsiStatusName(status);
    return " (Status = " + HexByte(status) + (name.empty() ? "" : " " + name) + ")";
}

// "QZEN DVD-RAM KVS-Q42R": vendor and product as a person reads them.
std::string Identity(const std::string& vendor, const std::string& product) {
    return TrimRight(vendor, " ") + " " + TrimRight(product, " ");
}

}  // namespace

CUpdateExecuter::CUpdateExecuter() = default;

CUpdateExecuter::CUpdateExecuter(std::unique_ptr<IScsiTransport> transport)
    : m_drive(std::move(transport)) {}

CUpdateExecuter::~CUpdateExecuter() = default;

void CUpdateExecuter::SetImage(const uint8_t* image, uint32_t length) {
    m_pImage = image;
    m_nImageLength = length;
}

void CUpdateExecuter::SetExpectedRevision(const std::string& revision, const std::string& minor) {
    m_strExpectedRevision = TrimRight(revision, " ");
    m_strExpectedMinor = minor;
}

bool CUpdateExecuter::SelectDrive(const DriveInfo& drive) {
    m_target = drive;
    m_strModel = drive.product;
    m_bDriveChosen = true;
    return m_drive.AttachDrive(drive);
}

bool CUpdateExecuter::SelectDrive(unsigned index) {
    m_drive.EnumerateDrives(true);
    if ((index & 0xFF) < m_drive.GetDriveCount())
        return SelectDrive(m_drive.GetDriveInfo(index));
    m_target = DriveInfo();
    m_strModel.clear();
    m_bDriveChosen = false;  // no command goes anywhere
    return false;
}

bool CUpdateExecuter::IsUnitReady() {
    if (!m_bDriveChosen)
        return false;
    for (int attempt = 0; attempt < kUnitReadyAttempts; ++attempt) {
        if (scsi::TestUnitReady(m_drive) == kStatusGood)
            return true;
    }
    return false;
}

bool CUpdateExecuter::EjectDisc() {
    if (!m_bDriveChosen)
        return false;
    return scsi::StartStopUnit(m_drive, false, true) == kStatusGood;
}

void CUpdateExecuter::Download() {
    m_nBytesSent.store(0, std::memory_order_relaxed);
    m_failure = CommandFailure();
    m_verification = Verification::None;
    m_strRevisionAfter.clear();
    m_strMinorAfter.clear();
    std::vector<ImageSlot> images;
    std::string walkError = " (No firmware data to send)";
    if (m_pImage != nullptr || m_nImageLength == 0) {
        images = LayOutImages({m_pImage, m_nImageLength});
        walkError = WalkError(images);
    }
    if (!walkError.empty()) {
        m_strError = walkError;
        SetResult(ResultFailed);
        return;
    }

    if (!CheckDriveIdentity()) {
        SetResult(ResultFailed);
        return;
    }

    if (!PrepareSpecialModel()) {
        SetResult(ResultFailed);
        return;
    }

    for (const ImageSlot& image : images) {
        uint32_t bodyOffset = image.offset;
        uint32_t imageOffset = 0;
        uint32_t remaining = image.length;
        while (remaining > 0) {
            const uint32_t chunk = remaining < kChunkSize ? remaining : kChunkSize;
            const uint8_t mode =
                remaining > kChunkSize ? scsi::kModeWriteData : scsi::kModeDownloadSave;
            const CommandStatus status =
                scsi::WriteBuffer(m_drive, mode, imageOffset, m_pImage + bodyOffset, chunk);
            if (status != kStatusGood) {
                if (status == kSequenceError) {
                    SetResult(ResultSequenceError);
                } else {
                    ComposeErrorText(scsi::kOpWriteBuffer);
                    SetResult(ResultFailed);
                }
                return;
            }
            remaining -= chunk;
            imageOffset += chunk;
            bodyOffset += chunk;
            m_nBytesSent.store(bodyOffset, std::memory_order_relaxed);
        }
    }

    if (Finish() != kStatusGood || !VerifyDrive()) {
        SetResult(ResultFailed);
        return;
    }
    SetResult(ResultSucceeded);
}

bool CUpdateExecuter::StillStarting() const {
    const TransportResult& last = m_drive.GetLastResult();
    switch (last.category) {
        case CommandCategory::TransportFailure:
            return last.fault == TransportFault::Unknown;  // no answer (yet)
        case CommandCategory::NotExecuted:
            return last.scsiStatus == kStatusBusy || last.scsiStatus == kStatusTaskSetFull;
        case CommandCategory::CheckCondition: {
            const uint8_t* sense = m_drive.GetSenseData();
            const uint8_t key = scsi::SenseKey(sense);
            const uint8_t asc = scsi::SenseAsc(sense);
            const uint8_t ascq = scsi::SenseAscq(sense);
            // Unit attention (power on, microcode changed); not ready: cause not reportable,
            // becoming ready, operation in progress.
            return key == scsi::kSenseUnitAttention ||
                   (key == 0x02 && asc == 0x04 && (ascq == 0x00 || ascq == 0x01 || ascq == 0x07));
        }
        default:
            return false;
    }
}

// TEST UNIT READY until the drive answers (any status but one of a drive still starting),
// then the 48-byte INQUIRY; both are asked again while the drive is starting, for at most
// 60 s. The drive must still be the one written: same vendor, same product.
bool CUpdateExecuter::VerifyDrive() {
    const std::string where = "Drive " + AddressText(m_target.address);
    const std::string unconfirmed = "; the new firmware is not confirmed)";
    uint8_t inquiry[scsi::kLongInquiryLength] = {};
    const uint64_t start = NowMs();
    for (unsigned attempt = 1;; ++attempt) {
        uint8_t opcode = scsi::kOpTestUnitReady;
        scsi::TestUnitReady(m_drive);
        bool answered = false;
        if (!MustStop() && !StillStarting()) {
            opcode = scsi::kOpInquiry;
            std::memset(inquiry, 0, sizeof inquiry);
            answered = scsi::Inquiry(m_drive, inquiry, scsi::kLongInquiryLength) == kStatusGood;
        }
        if (answered)
            break;
        if (MustStop()) {
            RecordFailure(opcode);
            m_strError = " (" + where + " is gone after the download" + unconfirmed;
            return false;
        }
        if (!StillStarting()) {
            // The drive answers, but not to INQUIRY.
            const TransportResult last = m_drive.GetLastResult();
            const std::string words =
                " (" + where + " does not answer INQUIRY after the download" + unconfirmed;
            if (last.category == CommandCategory::CheckCondition) {
                ComposeErrorText(opcode);
                m_strError = words + m_strError;
            } else {
                RecordFailure(opcode);
                m_strError = words + StatusText(last.scsiStatus);
            }
            return false;
        }
        if (attempt >= kRestartAttempts || NowMs() - start >= kRestartLimitMs) {
            RecordFailure(opcode);
            m_strError = " (" + where + " did not answer within " +
                         std::to_string(kRestartLimitMs / 1000) + " s after the download" +
                         unconfirmed;
            return false;
        }
        Sleep(kRestartPollMs);
    }

    const std::string vendor = scsi::InquiryVendor(inquiry);
    const std::string product = scsi::InquiryProduct(inquiry);
    if (vendor != m_target.vendor || product != m_target.product) {
        m_strError = " (" + where + " answers as " + Identity(vendor, product) + ", not " +
                     Identity(m_target.vendor, m_target.product) + ", after the download" +
                     unconfirmed;
        return false;
    }
    m_strRevisionAfter = TrimRight(scsi::InquiryRevision(inquiry), " ");
    m_strMinorAfter = scsi::InquiryMinorRevision(inquiry);
    const bool same = !m_strExpectedRevision.empty() &&
                      m_strRevisionAfter == m_strExpectedRevision &&
                      (m_strExpectedMinor.empty() || m_strMinorAfter == m_strExpectedMinor);
    m_verification = same ? Verification::Verified : Verification::AfterRestart;
    return true;
}

void CUpdateExecuter::Sleep(unsigned ms) {
    if (m_sleep) {
        m_sleep(ms);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

uint64_t CUpdateExecuter::NowMs() const {
    if (m_clock)
        return m_clock();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// The drive at the address must still be the drive the search saw: same vendor, same product
// (the revision may have changed with an earlier download). Sets the error text otherwise.
bool CUpdateExecuter::CheckDriveIdentity() {
    if (!m_bDriveChosen) {
        m_strError = " (No drive selected; nothing was written)";
        return false;
    }
    const std::string where = "Drive " + AddressText(m_target.address);
    uint8_t inquiry[scsi::kInquiryLength] = {};
    if (scsi::Inquiry(m_drive, inquiry, scsi::kInquiryLength) != kStatusGood) {
        const CommandCategory category = m_drive.GetLastResult().category;
        RecordFailure(scsi::kOpInquiry);
        if (category == CommandCategory::TransportFailure) {
            m_strError = " (" + where + " cannot be reached; nothing was written)";
            return false;
        }
        const std::string words = " (" + where + " does not answer; nothing was written)";
        if (category == CommandCategory::CheckCondition) {
            ComposeErrorText(scsi::kOpInquiry);
            m_strError = words + m_strError;
        } else {
            m_strError = words + StatusText(m_drive.GetLastResult().scsiStatus);
        }
        return false;
    }
    const std::string vendor = scsi::InquiryVendor(inquiry);
    const std::string product = scsi::InquiryProduct(inquiry);
    if (vendor != m_target.vendor || product != m_target.product) {
        m_strError = " (" + where + " is now " + Identity(vendor, product) + ", not " +
                     Identity(m_target.vendor, m_target.product) + "; nothing was written)";
        return false;
    }
    return true;
}

// A failed read or write of the setting block leaves the block alone and the download goes
// on; a refusal by the system, or a drive that is gone, ends it.
bool CUpdateExecuter::PrepareSpecialModel() {
    // Model key: the last nine characters with the second one replaced by 'X'. A name shorter
    // than two characters has no second character and is never a listed model.
    std::string key = m_strModel.size() > 9 ? m_strModel.substr(m_strModel.size() - 9) : m_strModel;
    if (key.size() < 2)
        return true;
    key[1] = 'X';
    for (const char* const* model = kSpecialModels; std::string(*model) != "END"; ++model) {
        if (key == *model) {
            m_bSpecialModel = true;
            break;
        }
    }
    if (!m_bSpecialModel)
        return true;

    uint8_t block[8] = {};
    if (ReadSettingBlock(block) != kStatusGood) {
        m_bSpecialModel = false;
        if (MustStop()) {
            ComposeErrorText(scsi::kOpReadBuffer);
            return false;
        }
        return true;
    }
    block[1] &= 0xBF;
    if (WriteSettingBlock(block) != kStatusGood) {
        m_bSpecialModel = false;
        if (MustStop()) {
            ComposeErrorText(scsi::kOpWriteBuffer);
            return false;
        }
    }
    return true;
}

bool CUpdateExecuter::MustStop() const {
    const TransportResult& last = m_drive.GetLastResult();
    return last.category == CommandCategory::TransportFailure &&
           last.fault != TransportFault::Unknown;
}

CommandStatus CUpdateExecuter::ReadSettingBlock(uint8_t* block) {
    return scsi::ReadBuffer(m_drive, scsi::kSettingBlock, block);
}

CommandStatus CUpdateExecuter::WriteSettingBlock(uint8_t* block) {
    return scsi::WriteBuffer(m_drive, scsi::kSettingBlock, block);
}

CommandStatus CUpdateExecuter::Finish() {
    // A parameter list length of 6 in the CDB; the transport sends the 8 bytes of the list.
    scsi::DiagnosticCdb cdb;
    cdb.flags = scsi::kDiagnosticUnitOffline;
    cdb.listLength = 6;
    const CommandStatus status =
        scsi::SendDiagnostic(m_drive, cdb, scsi::kFinishParameters, sizeof scsi::kFinishParameters);
    if (status != kStatusGood) {
        ComposeErrorText(scsi::kOpSendDiagnostic);
        return status;
    }
    Sleep(kFinishWaitMs);
    RestoreSpecialModel();
    return kStatusGood;
}

void CUpdateExecuter::RestoreSpecialModel() {
    if (!m_bSpecialModel)
        return;
    scsi::TestUnitReady(m_drive);
    uint8_t block[8] = {};
    if (ReadSettingBlock(block) == kStatusGood) {
        block[1] |= 0x40;
        WriteSettingBlock(block);
    }
    m_bSpecialModel = false;
}

void CUpdateExecuter::RecordFailure(uint8_t opcode) {
    m_failure.sent = true;
    m_failure.opcode = opcode;
    m_failure.result = m_drive.GetLastResult();
    std::memcpy(m_failure.sense, m_drive.GetSenseData(), kSenseLength);
}

void CUpdateExecuter::ComposeErrorText(uint8_t opcode) {
    RecordFailure(opcode);
    std::string text = " (Error data = ";
    const uint8_t* sense = m_drive.GetSenseData();
    for (int i = 0; i < kSenseLength; ++i)
        text += HexByte(sense[i]) + " ";
    text += ")";
    // A drive that refused without sense data: its status says why.
    const TransportResult& last = m_drive.GetLastResult();
    if (last.category == CommandCategory::NotExecuted)
        text += StatusText(last.scsiStatus);
    m_strError = text;
}
