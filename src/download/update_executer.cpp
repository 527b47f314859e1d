#include "download/update_executer.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr uint32_t kChunkSize = 0x8000;
constexpr uint32_t kHeaderSize = 1024;
constexpr uint32_t kCodeSizeOffset = 68;
constexpr unsigned kFinishWaitMs = 3000;
constexpr int kUnitReadyAttempts = 3;
constexpr CommandStatus kSequenceError = 0x2C00;

constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kReadBuffer = 0x3C;

// Models whose setting block is cleared for the download and restored afterwards.
const char* const kSpecialModels[] = {
    "KXS-7310P", "KXS-8310R", "KXS-7350P", "KXS-8350R", "KXS-7353P",
    "KXS-8352R", "KXS-8353R", "KXS-6352R", "KXS-7270T", "END",
};

uint32_t ReadBigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

std::string Hex32(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

}  // namespace

CUpdateExecuter::CUpdateExecuter() {
    m_drive.EnumerateDrives(true);
}

CUpdateExecuter::CUpdateExecuter(std::unique_ptr<IScsiTransport> transport)
    : m_drive(std::move(transport)) {
    m_drive.EnumerateDrives(true);
}

CUpdateExecuter::~CUpdateExecuter() = default;

void CUpdateExecuter::SetImage(const uint8_t* image, uint32_t length) {
    m_pImage = image;
    m_nImageLength = length;
}

void CUpdateExecuter::SelectDrive(unsigned index) {
    m_drive.SelectDrive(index);
    m_strModel = m_drive.GetProduct(index);
}

bool CUpdateExecuter::IsUnitReady() {
    for (int attempt = 0; attempt < kUnitReadyAttempts; ++attempt) {
        if (m_drive.SendCommand6(0x00, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone) == kStatusGood) {
            return true;
        }
    }
    return false;
}

bool CUpdateExecuter::EjectDisc() {
    return m_drive.SendCommand6(0x1B, 0, 0, 0, 0x02, 0, nullptr, 0, DirectionNone) == kStatusGood;
}

// The code sizes of the image headers must walk the body exactly; otherwise the walk would
// read past the body or never advance. Returns an empty string when they do.
std::string CUpdateExecuter::CheckImageWalk() const {
    uint32_t offset = 0;
    if (m_nImageLength > 0 && m_pImage == nullptr)
        return " (No firmware data to send)";
    while (offset < m_nImageLength) {
        const uint32_t left = m_nImageLength - offset;
        if (left < kHeaderSize) {
            return " (Firmware data invalid: " + std::to_string(left) + " bytes at offset " +
                   Hex32(offset) + " are too short for an image header)";
        }
        const uint32_t code = ReadBigEndian32(m_pImage + offset + kCodeSizeOffset);
        if (code > left - kHeaderSize) {
            return " (Firmware data invalid: code size " + Hex32(code) +
                   " of the image at offset " + Hex32(offset) +
                   " runs past the end of the firmware data)";
        }
        offset += code + kHeaderSize;
    }
    return {};
}

void CUpdateExecuter::Download() {
    m_nBytesSent.store(0, std::memory_order_relaxed);
    const std::string walkError = CheckImageWalk();
    if (!walkError.empty()) {
        m_strError = walkError;
        SetResult(ResultFailed);
        return;
    }

    PrepareSpecialModel();

    uint32_t bodyOffset = 0;
    while (bodyOffset < m_nImageLength) {
        const uint32_t total =
            ReadBigEndian32(m_pImage + bodyOffset + kCodeSizeOffset) + kHeaderSize;
        uint32_t imageOffset = 0;
        uint32_t remaining = total;
        while (remaining > 0) {
            const uint32_t chunk = remaining < kChunkSize ? remaining : kChunkSize;
            const uint8_t mode = remaining > kChunkSize ? 0x02 : 0x05;
            // The drive only reads the buffer; the transport interface is not const.
            auto* data = const_cast<uint8_t*>(m_pImage + bodyOffset);
            const CommandStatus status = m_drive.SendCommand10(
                kWriteBuffer, mode, 0x00, static_cast<uint8_t>(imageOffset >> 16),
                static_cast<uint8_t>(imageOffset >> 8), static_cast<uint8_t>(imageOffset),
                static_cast<uint8_t>(chunk >> 16), static_cast<uint8_t>(chunk >> 8),
                static_cast<uint8_t>(chunk), 0x00, data, chunk, DirectionOut);
            if (status != kStatusGood) {
                if (status == kSequenceError) {
                    SetResult(ResultSequenceError);
                } else {
                    ComposeErrorText();
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

    SetResult(Finish() == kStatusGood ? ResultSucceeded : ResultFailed);
}

void CUpdateExecuter::PrepareSpecialModel() {
    // Model key: the last nine characters with the second one replaced by 'X'. A name shorter
    // than two characters has no second character and is never a listed model.
    std::string key = m_strModel.size() > 9 ? m_strModel.substr(m_strModel.size() - 9) : m_strModel;
    if (key.size() < 2)
        return;
    key[1] = 'X';
    for (const char* const* model = kSpecialModels; std::string(*model) != "END"; ++model) {
        if (key == *model) {
            m_bSpecialModel = true;
            break;
        }
    }
    if (!m_bSpecialModel)
        return;

    uint8_t block[8] = {};
    if (ReadSettingBlock(block) != kStatusGood) {
        m_bSpecialModel = false;
        return;
    }
    block[1] &= 0xBF;
    if (WriteSettingBlock(block) != kStatusGood)
        m_bSpecialModel = false;
}

CommandStatus CUpdateExecuter::ReadSettingBlock(uint8_t* block) {
    return m_drive.SendCommand10(kReadBuffer, 0x05, 0x04, 0x00, 0x07, 0xD4, 0x00, 0x00, 0x08, 0x44,
                                 block, 8, DirectionIn);
}

CommandStatus CUpdateExecuter::WriteSettingBlock(uint8_t* block) {
    return m_drive.SendCommand10(kWriteBuffer, 0x05, 0x04, 0x00, 0x07, 0xD4, 0x00, 0x00, 0x08, 0x44,
                                 block, 8, DirectionOut);
}

CommandStatus CUpdateExecuter::Finish() {
    uint8_t parameters[8] = {0x23, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00};
    const CommandStatus status =
        m_drive.SendCommand6(0x1D, 0x01, 0x00, 0x00, 0x06, 0x00, parameters, 8, DirectionOut);
    if (status != kStatusGood) {
        ComposeErrorText();
        return status;
    }
    if (m_sleep) {
        m_sleep(kFinishWaitMs);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(kFinishWaitMs));
    }
    RestoreSpecialModel();
    return kStatusGood;
}

void CUpdateExecuter::RestoreSpecialModel() {
    if (!m_bSpecialModel)
        return;
    m_drive.SendCommand6(0x00, 0, 0, 0, 0, 0, nullptr, 0, DirectionNone);
    uint8_t block[8] = {};
    if (ReadSettingBlock(block) == kStatusGood) {
        block[1] |= 0x40;
        WriteSettingBlock(block);
    }
    m_bSpecialModel = false;
}

void CUpdateExecuter::ComposeErrorText() {
    std::string text = " (Error data = ";
    const uint8_t* sense = m_drive.GetSenseData();
    char byte[4];
    for (int i = 0; i < kSenseLength; ++i) {
        std::snprintf(byte, sizeof byte, "%02X ", sense[i]);
        text += byte;
    }
    text += ")";
    m_strError = text;
}
