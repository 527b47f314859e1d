#include "package/update_data.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "base/clock.h"
#include "base/file_io.h"
#include "base/path_rules.h"
#include "base/text.h"
#include "package/customers.h"

namespace {

// A 4 MiB buffer that reads as zero. calloc takes fresh pages from the system: they are zero
// already and cost memory only once written, so the bytes a run never uses cost nothing.
uint8_t* ZeroBuffer() {
    void* p = std::calloc(kBufferSize, 1);
    if (p == nullptr)
        throw std::bad_alloc();
    return static_cast<uint8_t*>(p);
}

}  // namespace

CUpdateData::CUpdateData()
    : m_pSearchDrive(NewSearchDrive()),
      m_drive(*m_pSearchDrive),
      m_pFileImage(ZeroBuffer()),
      m_pFirmware(ZeroBuffer()),
      m_clock(SecondsSince1970) {}

CUpdateData::~CUpdateData() {
    std::free(m_pFileImage);
    std::free(m_pFirmware);
}

TargetRule CUpdateData::GetTargetRule() const {
    TargetRule rule;
    rule.packageName = m_strTargetProduct.empty() ? m_strImageModel : m_strTargetProduct;
    rule.package = ClassifyProductName(rule.packageName);
    rule.filter = ToUpper(m_strRevFilter);
    rule.filterFree = m_bFilterFreeMinor && !m_bMinorRevHidden;
    rule.anyFilterForFirstRevisions = CustomerRuleOf(m_strCustomer).anyFilterForFirstRevisions;
    rule.logMode = m_bLogMode;
    rule.newRevision = m_strNewRevision;
    rule.requiredCustomer = rule.filterFree ? 0 : m_byImageCustomer;
    rule.sameCustomer = m_bSameCustomer;
    return rule;
}

bool CUpdateData::HasPackageData() const {
    return m_nPackageLength != 0 || m_nEngineSize > kPackageModeSize;
}

bool CUpdateData::IsPackageEmpty() const {
    return m_nPackageLength == 0;
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
    m_nEngineSize = fileSize;
    // The body is unpacked straight into m_pFirmware; the file's bytes stay as read.
    uint32_t bodyLength = 0;
    const UpdatePackage p =
        ParsePackage({m_pFileImage, fileSize}, {m_pFirmware, kBufferSize}, &bodyLength);
    // The package of a signed updater ends in front of its certificate table: the bytes
    // in use end there.
    m_nFileSize = p.usedSize;
    m_bSigned = p.isSigned;
    m_signature = p.signature;
    m_nPackageOffset = m_nPackageLength = 0;
    if (!p.trailerFound)
        return;

    const PackageTrailer& trailer = p.trailer;
    m_strTargetProduct = trailer.product;
    m_strRevFilter = trailer.filter;
    m_nPackageOffset = trailer.packageOffset;
    m_nPackageLength = trailer.packageLength;
    // Flags only ever set the option members.
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
    if (!p.HasPackage())
        return;

    m_fault = p.fault;
    m_byImageCheckResult = p.imageCheck;
    m_nFirmwareLength = bodyLength;
    // What follows the body reads as zero (the word sum of an odd image at its end).
    if (m_nFirmwareLength < kBufferSize)
        m_pFirmware[m_nFirmwareLength] = 0;
    for (const ImageFacts& facts : p.images)
        TakeImageFacts(facts);

    if (!trailer.revision.empty())
        m_strNewRevision = trailer.revision;
    if (!trailer.minor.empty())
        m_strNewMinorRev = trailer.minor;
    if (!m_strNewMinorRev.empty()) {
        const std::string dash = m_strNewRevision + "-" + m_strNewMinorRev;
        const std::string underscore = m_strNewRevision + "_" + m_strNewMinorRev;
        if (m_strFileName.find(dash) != std::string::npos ||
            m_strFileName.find(underscore) != std::string::npos) {
            m_bMinorRevHidden = false;
        }
    }
}
