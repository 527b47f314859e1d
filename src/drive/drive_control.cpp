#include "drive/drive_control.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "drive/simulator.h"

namespace {

std::mutex g_factoryMutex;
TransportFactory g_factory;

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kInquiryLength = 36;
constexpr int kProbeAttempts = 4;

// Copies a fixed INQUIRY field up to its first NUL; trailing blanks stay.
std::string FieldString(const uint8_t* field, size_t width) {
    std::string s;
    for (size_t i = 0; i < width && field[i] != 0; ++i)
        s.push_back(static_cast<char>(field[i]));
    return s;
}

std::unique_ptr<IScsiTransport> CreateDefaultTransport() {
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        if (g_factory)
            return g_factory();
    }
    const char* simulate = std::getenv(kSimulateEnvironment);
    if (simulate != nullptr && simulate[0] != '\0')
        return CreateSimulatorTransport(simulate);
    return CreatePlatformTransport();
}

}  // namespace

CommandStatus StatusFromScsi(bool delivered, uint8_t scsiStatus, const uint8_t* sense) {
    if (!delivered)
        return kStatusTransportFailure;
    if (scsiStatus == 0)
        return kStatusGood;
    return static_cast<CommandStatus>(sense[12] << 8 | sense[13]);
}

void SetTransportFactory(TransportFactory factory) {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}

CDriveControl::CDriveControl() : CDriveControl(CreateDefaultTransport()) {}

CDriveControl::CDriveControl(std::unique_ptr<IScsiTransport> transport)
    : m_pTransport(std::move(transport)) {
    if (m_pTransport) {
        const DriveTransport kind = m_pTransport->Kind();
        if (kind == TransportAspi || kind == TransportPassThrough)
            m_transport = kind;
    }
}

CDriveControl::~CDriveControl() {
    if (m_pTransport)
        m_pTransport->Close();
}

CommandStatus CDriveControl::Execute(ScsiCommand& cmd) {
    if (m_transport != TransportAspi && m_transport != TransportPassThrough) {
        return kStatusTransportFailure;
    }
    return m_pTransport->Execute(cmd);
}

CommandStatus CDriveControl::SendCommand6(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3,
                                          uint8_t c4, uint8_t c5, void* buffer, uint32_t length,
                                          uint8_t direction) {
    ScsiCommand cmd;
    const uint8_t cdb[6] = {c0, c1, c2, c3, c4, c5};
    std::memcpy(cmd.cdb, cdb, sizeof cdb);
    cmd.cdbLength = 6;
    cmd.buffer = buffer;
    cmd.length = length;
    cmd.direction = direction;
    return Execute(cmd);
}

CommandStatus CDriveControl::SendCommand10(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3,
                                           uint8_t c4, uint8_t c5, uint8_t c6, uint8_t c7,
                                           uint8_t c8, uint8_t c9, void* buffer, uint32_t length,
                                           uint8_t direction) {
    ScsiCommand cmd;
    const uint8_t cdb[10] = {c0, c1, c2, c3, c4, c5, c6, c7, c8, c9};
    std::memcpy(cmd.cdb, cdb, sizeof cdb);
    cmd.cdbLength = 10;
    cmd.buffer = buffer;
    cmd.length = length;
    cmd.direction = direction;
    return Execute(cmd);
}

const uint8_t* CDriveControl::GetSenseData() const {
    if (m_pTransport && m_transport != TransportNone)
        return m_pTransport->Sense();
    return m_zeroSense;
}

bool CDriveControl::Probe(const DriveAddress& address) {
    uint8_t inquiry[kInquiryLength];
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        std::memset(inquiry, 0, sizeof inquiry);
        if (SendCommand6(kInquiry, 0, 0, 0, kInquiryLength, 0, inquiry, kInquiryLength,
                         DirectionIn) == kStatusGood) {
            AddDrive(inquiry, address);
            return true;
        }
    }
    return false;
}

void CDriveControl::AddDrive(const uint8_t* inquiry, const DriveAddress& address) {
    if ((inquiry[1] & 0x80) == 0)
        return;
    DriveEntry entry;
    entry.vendor = FieldString(inquiry + 8, 8);
    entry.product = FieldString(inquiry + 16, 16);
    entry.revision = FieldString(inquiry + 32, 4);
    entry.address = address;
    if (m_transport == TransportAspi) {
        entry.address.letter = '-';
    } else {
        entry.address.hostAdapter = 0;
        entry.address.target = 0;
        entry.address.lun = 0;
    }
    m_drives.push_back(std::move(entry));
}

bool CDriveControl::EnumerateDrives(bool cdromOnly) {
    m_drives.clear();
    if (m_transport != TransportAspi && m_transport != TransportPassThrough)
        return false;
    m_pTransport->Close();
    for (const DriveAddress& address : m_pTransport->Candidates(cdromOnly)) {
        if (!m_pTransport->Open(address))
            continue;
        Probe(address);
        m_pTransport->Close();
    }
    SelectDrive(0);
    return true;
}

uint8_t CDriveControl::GetDriveCount() const {
    return static_cast<uint8_t>(m_drives.size());
}

void CDriveControl::SelectDrive(unsigned index) {
    index &= 0xFF;
    if (index >= GetDriveCount() || !m_pTransport)
        return;
    m_pTransport->Close();
    m_pTransport->Open(m_drives[index].address);
}

std::string CDriveControl::GetVendor(unsigned index) const {
    index &= 0xFF;
    return index < GetDriveCount() ? m_drives[index].vendor : std::string();
}

std::string CDriveControl::GetProduct(unsigned index) const {
    index &= 0xFF;
    return index < GetDriveCount() ? m_drives[index].product : std::string();
}

std::string CDriveControl::GetRevision(unsigned index) const {
    index &= 0xFF;
    return index < GetDriveCount() ? m_drives[index].revision : std::string();
}

uint8_t CDriveControl::GetHostAdapter(unsigned index) const {
    index &= 0xFF;
    return index < GetDriveCount() ? m_drives[index].address.hostAdapter : 0;
}

uint8_t CDriveControl::GetTarget(unsigned index) const {
    index &= 0xFF;
    return index < GetDriveCount() ? m_drives[index].address.target : 0;
}

uint8_t CDriveControl::GetLun(unsigned index) const {
    index &= 0xFF;
    return index < GetDriveCount() ? m_drives[index].address.lun : 0;
}

char CDriveControl::GetDriveLetter(unsigned index) const {
    index &= 0xFF;
    return index < GetDriveCount() ? m_drives[index].address.letter : '-';
}

int CDriveControl::GetDeniedDevices() const {
    return m_pTransport ? m_pTransport->DeniedDevices() : 0;
}

std::string CDriveControl::GetTransportProblem() const {
    return m_pTransport ? m_pTransport->Problem() : std::string();
}
