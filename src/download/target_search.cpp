// The target search of CUpdateData: which of the machine's drives the package may update.
// It lives here, above the package and the drives, because it needs both: the package's
// rules (package/target_rules.h) asked of the drives its own drive control lists.
#include <cstring>
#include <string>
#include <vector>

#include "drive/drive_report.h"
#include "drive/scsi_commands.h"
#include "package/update_data.h"

namespace {

// The 48-byte INQUIRY of the selected drive of drive; false when it fails.
bool ReadLongInquiry(CDriveControl& drive, uint8_t* data) {
    std::memset(data, 0, scsi::kLongInquiryLength);
    return scsi::Inquiry(drive, data, scsi::kLongInquiryLength) == kStatusGood;
}

}  // namespace

void CUpdateData::SearchDriveDeleter::operator()(CDriveControl* drive) const {
    delete drive;
}

CDriveControl* CUpdateData::NewSearchDrive() {
    return new CDriveControl();
}

uint8_t CUpdateData::GetDriveCustomerCode(uint8_t drive) {
    m_drive.SelectDrive(drive);
    uint8_t inquiry[scsi::kLongInquiryLength];
    if (!ReadLongInquiry(m_drive, inquiry))
        return 0;
    m_drive.SetCustomerCode(drive, scsi::InquiryCustomer(inquiry));
    return scsi::InquiryCustomer(inquiry);
}

void CUpdateData::SearchTargets() {
    m_nTargetCount = 0;
    m_drive.EnumerateDrives(true);
    const unsigned count = m_drive.GetDriveCount();
    const TargetRule rule = GetTargetRule();

    // Drives that pass the product test; the customer bytes of all of them are read at once.
    struct Passed {
        unsigned index;
        TargetCandidate candidate;
    };
    std::vector<Passed> passed;
    for (unsigned i = 0; i < count; ++i) {
        if (auto candidate = MatchTarget(rule, m_drive.GetProduct(i), m_drive.GetRevision(i)))
            passed.push_back({i, *candidate});
    }

    // A failing INQUIRY gives customer byte 0, which never excludes a drive.
    std::vector<int> customers(count, -1);
    if (AsksCustomer(rule)) {
        std::vector<unsigned> indexes;
        for (const Passed& d : passed)
            indexes.push_back(d.index);
        m_drive.ForEachDrive(indexes, [&customers](unsigned index, CDriveControl& drive) {
            uint8_t inquiry[scsi::kLongInquiryLength];
            if (ReadLongInquiry(drive, inquiry))
                customers[index] = scsi::InquiryCustomer(inquiry);
        });
    }
    for (Passed& d : passed) {
        if (customers[d.index] >= 0) {
            const auto b = static_cast<uint8_t>(customers[d.index]);
            m_drive.SetCustomerCode(d.index, b);
            if (CustomerExcludes(rule, b))
                d.candidate.excluded = true;
        }
        if (IsTarget(rule, d.candidate))
            m_byTargets[m_nTargetCount++] = static_cast<uint8_t>(d.index);
    }
}

void CUpdateData::ReadDriveRevision(uint8_t n) {
    const uint8_t d = m_byTargets[n];
    m_drive.SelectDrive(d);
    m_strCurRevision = m_drive.GetRevision(d);
    m_strCurMinorRev.clear();
    uint8_t inquiry[scsi::kLongInquiryLength];
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
        uint8_t inquiry[scsi::kLongInquiryLength];
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
