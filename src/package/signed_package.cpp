// The package of a signed updater: its trailer sits in front of the certificate table.
#include "package/update_data.h"

uint32_t CUpdateData::LocatePackageEnd() {
    const uint32_t size = m_nFileSize;
    m_signature = CertificateTable();
    m_bSigned = FindCertificateTable(m_pFileImage, size, &m_signature);
    PackageTrailer trailer;
    // A file whose last 72 bytes are a trailer is read as it stands.
    if (!m_bSigned ||
        (size >= kTrailerSize && DecodeTrailer(m_pFileImage + size - kTrailerSize, &trailer))) {
        return size;
    }
    for (unsigned n = 0; n < 8; ++n) {
        uint32_t end = 0;
        if (SignedEndCandidate(m_pFileImage, m_signature, n, &end) && end >= kTrailerSize &&
            DecodeTrailer(m_pFileImage + end - kTrailerSize, &trailer)) {
            return end;
        }
    }
    return size;
}
