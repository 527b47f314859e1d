// Writing an updater: engine image, package block, trailer; checked as updater mode reads
// it before anything is written.
#include <cstring>
#include <memory>

#include "base/file_io.h"
#include "package/update_data.h"

uint8_t CUpdateData::ComposePackage() {
    if (m_nEngineSize == 0)
        return LOAD_NO_ENGINE;
    // A signed engine's signature would not cover the new file: it goes, so that the new
    // updater can be signed cleanly.
    StripCertificateTable(m_pFileImage, &m_nEngineSize);
    const auto t = static_cast<uint32_t>(m_clock());
    const auto seed = static_cast<uint16_t>(t);

    m_nFileSize = m_nEngineSize;
    m_nPackageOffset = m_nFileSize;
    if (!PackFirmware()) {
        m_nFileSize = m_nEngineSize;
        m_nPackageLength = 0;
        return LOAD_OUTPUT_TOO_LARGE;
    }
    uint8_t* block = m_pFileImage + m_nPackageOffset;
    Scramble(block + 2, static_cast<int32_t>(m_nPackageLength - 2), seed);
    block[0] = static_cast<uint8_t>(seed >> 8);
    block[1] = static_cast<uint8_t>(seed);

    m_nPackageLength += kTrailerSize;
    PackageTrailer trailer;
    trailer.packageOffset = m_nPackageOffset;
    trailer.packageLength = m_nPackageLength;
    trailer.product = m_strTargetProduct.substr(0, 16);
    trailer.filter = m_strRevFilter.substr(0, 4);
    trailer.revision = m_strNewRevision.substr(0, 4);
    trailer.minor = m_strNewMinorRev.substr(0, 2);
    trailer.flags = (m_bFilterFreeMinor ? PKGF_FILTER_FREE_MINOR : 0u) |
                    (m_bOnlyNewer ? PKGF_ONLY_NEWER : 0u) |
                    (m_bHideCopyright ? PKGF_HIDE_COPYRIGHT : 0u) |
                    (m_bSameCustomer ? PKGF_SAME_CUSTOMER : 0u) | CustomerFlag(m_strCustomer);
    EncodeTrailer(trailer, seed, m_pFileImage + m_nFileSize);
    m_nFileSize += kTrailerSize;
    return LOAD_OK;
}

uint8_t CUpdateData::CheckUpdaterFile(const uint8_t* file, uint32_t size, const uint8_t* body,
                                      uint32_t bodyLength) {
    // A reader of its own, which never reaches a drive, on a copy of the bytes.
    auto reader = std::make_unique<CUpdateData>(nullptr);
    reader->ReadPackageFromMemory(file, size, std::string());
    if (reader->IsPackageEmpty())
        return LOAD_UPDATER_UNREADABLE;
    if (reader->GetPackageFault() == PackageFault::ImageCheck) {
        switch (reader->m_byImageCheckResult) {
            case CHECK_MAIN_INVALID:
                return LOAD_UPDATER_MAIN_INVALID;
            case CHECK_MAIN_BROKEN:
                return LOAD_UPDATER_MAIN_BROKEN;
            case CHECK_CORE_INVALID:
                return LOAD_UPDATER_CORE_INVALID;
            default:
                return LOAD_UPDATER_CORE_BROKEN;
        }
    }
    if (reader->IsPackageBroken() || reader->GetFirmwareLength() != bodyLength ||
        (bodyLength != 0 && std::memcmp(reader->GetFirmware(), body, bodyLength) != 0)) {
        return LOAD_UPDATER_UNREADABLE;
    }
    return LOAD_OK;
}

uint8_t CUpdateData::WritePackage(const std::string& path) {
    if (const uint8_t r = ComposePackage())
        return r;
    if (const uint8_t r =
            CheckUpdaterFile(m_pFileImage, m_nFileSize, m_pFirmware, m_nFirmwareLength))
        return r;
    switch (WriteFileReplacing(path, m_pFileImage, m_nFileSize)) {
        case WriteStatus::Ok:
            return LOAD_OK;
        case WriteStatus::CannotCreate:
            return LOAD_OUTPUT_OPEN;
        case WriteStatus::WriteFailed:
            return LOAD_OUTPUT_WRITE;
    }
    return LOAD_OUTPUT_WRITE;
}
