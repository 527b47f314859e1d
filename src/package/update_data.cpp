#include "package/update_data.h"

#include <cstring>
#include <ctime>
#include <new>

#include "base/file_io.h"
#include "base/path_rules.h"

CUpdateData::CUpdateData()
    : m_pFileImage(new uint8_t[kBufferSize]()),
      m_pFirmware(new uint8_t[kBufferSize]()),
      m_clock([] { return static_cast<int64_t>(std::time(nullptr)); }) {}

CUpdateData::CUpdateData(std::unique_ptr<IScsiTransport> transport)
    : m_drive(std::move(transport)),
      m_pFileImage(new uint8_t[kBufferSize]()),
      m_pFirmware(new uint8_t[kBufferSize]()),
      m_clock([] { return static_cast<int64_t>(std::time(nullptr)); }) {}

CUpdateData::~CUpdateData() {
    delete[] m_pFileImage;
    delete[] m_pFirmware;
}

bool CUpdateData::HasPackageData() const {
    return m_nPackageLength != 0 || m_nEngineSize > kPackageModeSize;
}

bool CUpdateData::IsPackageEmpty() const {
    return m_nPackageLength == 0;
}

void CUpdateData::DetectPackage(std::string* trailerRevision, std::string* trailerMinor) {
    m_nPackageOffset = m_nPackageLength = 0;

    PackageTrailer trailer;
    if (m_nFileSize < kTrailerSize ||
        !DecodeTrailer(m_pFileImage + m_nFileSize - kTrailerSize, &trailer)) {
        return;
    }
    m_strTargetProduct = trailer.product;
    m_strRevFilter = trailer.filter;
    *trailerRevision = trailer.revision;
    *trailerMinor = trailer.minor;
    m_nPackageOffset = trailer.packageOffset;
    m_nPackageLength = trailer.packageLength;
    if (trailer.flags & PKGF_FILTER_FREE_MINOR)
        m_bFilterFreeMinor = true;
    if (trailer.flags & PKGF_ONLY_NEWER)
        m_bOnlyNewer = true;
    if (trailer.flags & PKGF_HIDE_COPYRIGHT)
        m_bHideCopyright = true;
    if (trailer.flags & PKGF_SAME_CUSTOMER)
        m_bSameCustomer = true;
    const std::string customer = CustomerFromFlags(trailer.flags);
    if (!customer.empty())
        m_strCustomer = customer;
}

void CUpdateData::ReadPackage(const std::string& path) {
    ReadPackage(path, path);
}

void CUpdateData::ReadPackage(const std::string& path, const std::string& name) {
    m_fault = PackageFault::None;
    m_byImageCheckResult = CHECK_OK;
    m_nFirmwareLength = 0;
    const int64_t n = ReadFilePrefix(path, m_pFileImage, kBufferSize);
    if (n < 0) {
        m_nFileSize = m_nEngineSize = 0;
        m_bSigned = false;
        return;
    }
    m_strFileName = FileNamePart(name);
    LoadPackage(static_cast<uint32_t>(n));
}

void CUpdateData::ReadPackageFromMemory(const uint8_t* data, size_t size,
                                        const std::string& fileName) {
    m_fault = PackageFault::None;
    m_byImageCheckResult = CHECK_OK;
    m_nFirmwareLength = 0;
    const auto n = static_cast<uint32_t>(size < kBufferSize ? size : kBufferSize);
    if (n != 0)
        std::memcpy(m_pFileImage, data, n);
    m_strFileName = fileName;
    LoadPackage(n);
}

void CUpdateData::LoadPackage(uint32_t fileSize) {
    std::string trailerRevision, trailerMinor;
    m_nFileSize = m_nEngineSize = fileSize;
    // The package of a signed updater ends in front of its certificate table: the bytes
    // in use end there.
    m_nFileSize = LocatePackageEnd();
    DetectPackage(&trailerRevision, &trailerMinor);
    if (m_nPackageLength == 0)
        return;

    // The block must lie inside the file and end exactly at its end, as every writer
    // makes it; anything else is refused without touching a byte outside the file.
    const uint32_t size = m_nFileSize;
    if (m_nPackageLength < kBlockHeaderSize + kTrailerSize || m_nPackageOffset > size ||
        m_nPackageLength != size - m_nPackageOffset) {
        m_fault = PackageFault::Bounds;
    } else {
        Scramble(m_pFileImage + m_nPackageOffset + 2,
                 static_cast<int32_t>(m_nPackageLength - kTrailerSize - 2),
                 static_cast<uint16_t>((m_pFileImage[m_nPackageOffset] << 8) |
                                       m_pFileImage[m_nPackageOffset + 1]));
        if (!UnpackFirmware()) {
            m_fault = PackageFault::RunTable;
            m_nFirmwareLength = 0;
        }
    }
    if (m_nFirmwareLength < kBufferSize)
        m_pFirmware[m_nFirmwareLength] = 0;

    // Walk the program images by their code sizes.
    uint32_t offset = 0;
    while (offset < m_nFirmwareLength) {
        const uint32_t remaining = m_nFirmwareLength - offset;
        uint8_t r;
        if (remaining < kImageHeaderSize) {
            r = CHECK_CORE_INVALID;
        } else {
            const uint64_t length =
                uint64_t{ReadBE32(m_pFirmware + offset + 68)} + kImageHeaderSize;
            const bool main = length >= kMainImageThreshold;
            // An image running past the body is invalid; nothing past it is read.
            if (length > remaining) {
                r = main ? CHECK_MAIN_INVALID : CHECK_CORE_INVALID;
            } else {
                r = CheckProgramImage(offset, static_cast<uint32_t>(length), main);
            }
            offset += static_cast<uint32_t>(length > remaining ? remaining : length);
        }
        if (r != CHECK_OK) {
            m_byImageCheckResult = r;
            m_fault = PackageFault::ImageCheck;
            break;
        }
    }

    if (!trailerRevision.empty())
        m_strNewRevision = trailerRevision;
    if (!trailerMinor.empty())
        m_strNewMinorRev = trailerMinor;
    if (!m_strNewMinorRev.empty()) {
        const std::string dash = m_strNewRevision + "-" + m_strNewMinorRev;
        const std::string underscore = m_strNewRevision + "_" + m_strNewMinorRev;
        if (m_strFileName.find(dash) != std::string::npos ||
            m_strFileName.find(underscore) != std::string::npos) {
            m_bMinorRevHidden = false;
        }
    }
}
