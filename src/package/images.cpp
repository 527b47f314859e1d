// Program images in m_pFirmware: the word sum and the image check, through InspectImage.
#include "package/update_data.h"

namespace {

// The byte after an image: the low half of an odd length's last word (zero past the buffer).
uint8_t ByteAfter(const uint8_t* buffer, uint32_t offset, uint32_t length) {
    const uint32_t after = offset + length;
    return after < kBufferSize ? buffer[after] : 0;
}

}  // namespace

bool CUpdateData::VerifyChecksum(uint32_t offset, uint32_t length) const {
    if (offset > kBufferSize || length > kBufferSize - offset)
        return false;
    return WordSumValid(m_pFirmware + offset, length, ByteAfter(m_pFirmware, offset, length));
}

CheckResult CUpdateData::CheckProgramImage(uint32_t offset, uint32_t length, bool main) {
    if (length < kImageHeaderSize || offset > kBufferSize || length > kBufferSize - offset)
        return main ? CHECK_MAIN_INVALID : CHECK_CORE_INVALID;
    const ImageFacts facts =
        InspectImage({m_pFirmware + offset, length}, main, ByteAfter(m_pFirmware, offset, length));
    TakeImageFacts(facts);
    return facts.result;
}

void CUpdateData::TakeImageFacts(const ImageFacts& facts) {
    if (facts.modelRead)
        m_strImageModel = facts.model;
    if (facts.revisionRead) {
        m_strNewRevision = facts.revision;
        m_strNewMinorRev = facts.minor;
    }
    if (facts.customerRead)
        m_byImageCustomer = facts.customer;
    if (facts.result == CHECK_OK)
        (facts.main ? m_strMainSize : m_strCoreSize) = facts.sizeText;
}
