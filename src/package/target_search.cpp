// Target-drive search: which of the machine's drives the package may update.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "drive/drive_report.h"
#include "drive/scsi_commands.h"
#include "package/customers.h"
#include "package/update_data.h"

namespace {

constexpr uint8_t kLongInquiryLength = scsi::kLongInquiryLength;

// The 48-byte INQUIRY of the selected drive of drive; false when it fails.
bool ReadLongInquiry(CDriveControl& drive, uint8_t* data) {
    std::memset(data, 0, kLongInquiryLength);
    return scsi::Inquiry(drive, data, kLongInquiryLength) == kStatusGood;
}

// The drive's product without a leading type word: "DVD-RAM KVS-Q42R" and
// "DVDRAM_KVS-Q42R" both give "KVS-Q42R".
std::string DriveProductName(const std::string& field) {
    std::string p = Trim(field);
    if (!p.empty() && p.find(' ') != std::string::npos) {
        p.erase(0, p.find(' ') + 1);
    } else if (p.find('_') != std::string::npos) {
        p.erase(0, p.find('_') + 1);
    }
    return Trim(p);
}

}  // namespace

ProductClass CUpdateData::ClassifyProductName(const std::string& name) {
    const std::string n = ToUpper(Trim(name));
    ProductClass pc;
    if (n == "ALL") {
        pc.kind = 9;
        return pc;
    }
    if (n.size() >= 5 && (StartsWith(n, "KW") || StartsWith(n, "KY"))) {
        if (n.size() == 5 && IsAsciiDigit(n[2]) && IsAsciiDigit(n[3]) && IsAsciiUpper(n[4])) {
            pc.kind = 2;
            pc.series = n[2];
        } else if (n.size() == 8 && IsAsciiDigit(n[2]) && IsAsciiDigit(n[3]) &&
                   IsAsciiUpper(n[4]) && IsAsciiUpper(n[5]) && IsAsciiDigit(n[6]) &&
                   IsAsciiDigit(n[7])) {
            pc.kind = 3;
            pc.series = n[6];
        }
        return pc;
    }
    if (n.size() >= 8 && StartsWith(n, "KVS") && n[3] == '-' && IsAsciiUpper(n[4]) &&
        IsAsciiDigit(n[5]) && IsAsciiDigit(n[6]) && IsAsciiUpper(n[7])) {
        pc.kind = 1;
        pc.series = n[5] == '8' ? '1' : 0;
    }
    return pc;
}

uint8_t CUpdateData::GetDriveCustomerCode(uint8_t drive) {
    m_drive.SelectDrive(drive);
    uint8_t inquiry[kLongInquiryLength];
    if (!ReadLongInquiry(m_drive, inquiry))
        return 0;
    m_drive.SetCustomerCode(drive, scsi::InquiryCustomer(inquiry));
    return scsi::InquiryCustomer(inquiry);
}

void CUpdateData::SearchTargets() {
    m_nTargetCount = 0;
    m_drive.EnumerateDrives(true);
    const unsigned count = m_drive.GetDriveCount();

    const std::string filter = ToUpper(m_strRevFilter);
    const bool filterFree = m_bFilterFreeMinor && !m_bMinorRevHidden;
    const uint8_t requiredCustomer = filterFree ? 0 : m_byImageCustomer;
    const std::string packageName =
        m_strTargetProduct.empty() ? m_strImageModel : m_strTargetProduct;
    const ProductClass package = ClassifyProductName(packageName);
    const bool anyFilter1x = CustomerRuleOf(m_strCustomer).anyFilterForFirstRevisions;

    // Drives that pass the product test, with their compare revision and whether they are
    // already excluded; the customer bytes of all of them are read at once.
    struct Passed {
        unsigned index;
        std::string r;
        bool excluded;
    };
    std::vector<Passed> passed;
    for (unsigned i = 0; i < count; ++i) {
        const std::string p = DriveProductName(m_drive.GetProduct(i));
        std::string r = ToUpper(m_drive.GetRevision(i));
        const ProductClass drive = ClassifyProductName(p);
        if (package.kind == 0 || drive.kind == 0)
            continue;

        std::string match = packageName;
        if (package.kind == 9 || StartsWith(r, "COR"))
            match = p;
        if (StartsWith(p, "KW8") || EndsWith(p, "80"))
            match = p;
        if (filterFree && package.series != 0 && package.series == drive.series)
            match = p;
        if (p != match)
            continue;

        if (StartsWith(r, "COR") || filterFree || (anyFilter1x && StartsWith(r, "1."))) {
            r = filter;
        } else {
            for (size_t k = 0; k < 4 && k < r.size() && k < filter.size(); ++k) {
                if (filter[k] == '*')
                    r[k] = '*';
            }
        }

        // An excluded drive is marked apart from its revision, so that no filter text can
        // match it.
        const bool excluded = m_bLogMode && m_drive.GetRevision(i) == m_strNewRevision;
        passed.push_back({i, r, excluded});
    }

    // A failing INQUIRY gives customer byte 0, which never excludes a drive.
    std::vector<int> customers(count, -1);
    if (m_bSameCustomer && requiredCustomer != 0) {
        std::vector<unsigned> indexes;
        for (const Passed& d : passed)
            indexes.push_back(d.index);
        m_drive.ForEachDrive(indexes, [&customers](unsigned index, CDriveControl& drive) {
            uint8_t inquiry[kLongInquiryLength];
            if (ReadLongInquiry(drive, inquiry))
                customers[index] = scsi::InquiryCustomer(inquiry);
        });
    }
    for (const Passed& d : passed) {
        bool excluded = d.excluded;
        if (customers[d.index] >= 0) {
            const auto b = static_cast<uint8_t>(customers[d.index]);
            m_drive.SetCustomerCode(d.index, b);
            if (b != 0 && b != requiredCustomer)
                excluded = true;
        }
        if (!excluded && d.r == filter)
            m_byTargets[m_nTargetCount++] = static_cast<uint8_t>(d.index);
    }
}

void CUpdateData::ReadDriveRevision(uint8_t n) {
    const uint8_t d = m_byTargets[n];
    m_drive.SelectDrive(d);
    m_strCurRevision = m_drive.GetRevision(d);
    m_strCurMinorRev.clear();
    uint8_t inquiry[kLongInquiryLength];
    if (ReadLongInquiry(m_drive, inquiry)) {
        m_drive.SetCustomerCode(d, scsi::InquiryCustomer(inquiry));
        m_strCurMinorRev = scsi::InquiryMinorRevision(inquiry);
    }
}

std::vector<DriveRevision> CUpdateData::ReadDriveRevisions(uint8_t first, uint8_t last) {
    std::vector<DriveRevision> out;
    std::vector<unsigned> indexes;
    for (unsigned n = first; n <= last && n < m_nTargetCount; ++n) {
        DriveRevision rev;
        rev.revision = m_drive.GetRevision(m_byTargets[n]);
        out.push_back(rev);
        indexes.push_back(m_byTargets[n]);
    }
    // Targets are distinct drives: each job fills the entry of its own drive.
    m_drive.ForEachDrive(indexes, [&](unsigned index, CDriveControl& drive) {
        uint8_t inquiry[kLongInquiryLength];
        if (!ReadLongInquiry(drive, inquiry))
            return;
        for (size_t k = 0; k < indexes.size(); ++k) {
            if (indexes[k] == index)
                out[k].minor = scsi::InquiryMinorRevision(inquiry);
        }
    });
    return out;
}

DriveInfo CUpdateData::GetTargetDriveInfo(uint8_t n) const {
    return n < m_nTargetCount ? m_drive.GetDriveInfo(m_byTargets[n]) : DriveInfo();
}

std::string CUpdateData::GetTargetLabel(uint8_t n) {
    return DriveLabel(m_drive, m_byTargets[n]);
}

int CUpdateData::FindTargetByLetter(const std::string& letter) {
    if (letter.empty())
        return 0;
    // A drive that the system names (Linux: sr1, /dev/sr1) is found by its name.
    for (int n = 0; n < m_nTargetCount; ++n) {
        if (NamesDevice(letter, m_drive.GetDriveInfo(m_byTargets[n]).address))
            return n;
    }
    for (int n = 0; n < m_nTargetCount; ++n) {
        if (m_drive.GetDriveLetter(m_byTargets[n]) == letter[0])
            return n;
    }
    return -1;
}
