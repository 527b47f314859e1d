// Writing an updater: engine image, package block, trailer; checked as updater mode reads
// it before anything is written.
#include <cstring>

#include "base/file_io.h"
#include "package/update_data.h"

LoadResult CUpdateData::ComposePackage() {
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

LoadResult CUpdateData::CheckUpdaterFile(const uint8_t* file, uint32_t size, const uint8_t* body,
                                         uint32_t bodyLength) {
    // The body read back is compared with body a piece at a time; once they are equal, the
    // image walk over body is the walk over what the updater will read.
    UpdatePackage reader;
    if (!PackageBodyEquals({file, size}, {body, bodyLength}, &reader) || !reader.HasPackage())
        return LOAD_UPDATER_UNREADABLE;
    const std::vector<ImageFacts> images = InspectImages({body, bodyLength});
    if (images.empty() || images.back().result == CHECK_OK)
        return LOAD_OK;
    switch (images.back().result) {
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

LoadResult CUpdateData::WritePackage(const std::string& path) {
    if (const LoadResult r = ComposePackage())
        return r;
    if (const LoadResult r =
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
