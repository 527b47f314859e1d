#include "drive/drive_control.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/environment.h"
#include "base/text.h"
#include "drive/concurrent.h"
#include "drive/scsi_commands.h"
#include "drive/simulator.h"

namespace {

std::mutex g_factoryMutex;
TransportFactory g_factory;

constexpr int kProbeAttempts = 4;

constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kStatusCommandTerminated = 0x22;

uint32_t TimeoutOf(uint8_t opcode) {
    return opcode == scsi::kOpInquiry || opcode == scsi::kOpTestUnitReady ||
                   opcode == scsi::kOpStartStopUnit
               ? kShortTimeoutSeconds
               : kLongTimeoutSeconds;
}

// Descriptor-format sense (72h/73h) rewritten as fixed format (70h/71h).
void NormaliseSense(uint8_t* sense) {
    if (!scsi::IsDescriptorSense(sense))
        return;
    scsi::SetFixedSense(sense, sense[1] & 0x0F, sense[2], sense[3],
                        scsi::SenseResponseCode(sense) == 0x73);
}

std::unique_ptr<IScsiTransport> CreateDefaultTransport() {
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        if (g_factory)
            return g_factory();
    }
    // A program with more privilege than its user never takes its drives from the environment.
    const std::string simulate = EnvironmentSetting(kSimulateEnvironment);
    if (!simulate.empty())
        return CreateSimulatorTransport(simulate);
    return CreatePlatformTransport();
}

}  // namespace

TransportResult ScsiResult(uint8_t scsiStatus, uint8_t* sense, size_t senseValid) {
    TransportResult r;
    r.scsiStatus = scsiStatus;
    if (scsiStatus == 0) {
        r.category = CommandCategory::Good;
        return r;
    }
    const bool fixed = scsi::IsFixedSense(sense) && senseValid >= 14;
    const bool descriptor = scsi::IsDescriptorSense(sense) && senseValid >= 4;
    const bool withSense = fixed || descriptor;
    if (descriptor)
        NormaliseSense(sense);
    const bool check =
        scsiStatus == kStatusCheckCondition || scsiStatus == kStatusCommandTerminated;
    r.category =
        check && withSense ? CommandCategory::CheckCondition : CommandCategory::NotExecuted;
    return r;
}

TransportResult TransportFailed(uint32_t osError, TransportFault fault) {
    TransportResult r;
    r.category = CommandCategory::TransportFailure;
    r.osError = osError;
    r.fault = fault;
    return r;
}

TransportResult SgIoResult(uint8_t status, uint16_t hostStatus, uint16_t driverStatus,
                           uint8_t senseWritten, uint8_t* sense) {
    // The low three bits of driver_status name a driver failure; 08h only says that sense
    // was asked for.
    const bool lost = hostStatus != 0 || (driverStatus & 0x07) != 0;
    if (lost && (status == 0 || senseWritten == 0))
        return TransportFailed(0);
    return ScsiResult(status, sense, senseWritten);
}

CommandStatus StatusOf(const TransportResult& result, const uint8_t* sense) {
    switch (result.category) {
        case CommandCategory::Good:
            return kStatusGood;
        case CommandCategory::TransportFailure:
            return kStatusTransportFailure;
        case CommandCategory::CheckCondition: {
            const auto code =
                static_cast<CommandStatus>(scsi::SenseAsc(sense) << 8 | scsi::SenseAscq(sense));
            return code != 0 ? code : kStatusNotCompleted;
        }
        case CommandCategory::NotExecuted:
            break;
    }
    return kStatusNotCompleted;
}

ScsiCommand MakeCommand(const uint8_t* cdb, uint8_t cdbLength, const void* buffer, uint32_t length,
                        uint8_t direction) {
    ScsiCommand cmd;
    std::memcpy(cmd.cdb, cdb, cdbLength < sizeof cmd.cdb ? cdbLength : sizeof cmd.cdb);
    cmd.cdbLength = cdbLength;
    // The transport interface is not const: the buffer of data going out is only read.
    cmd.buffer = const_cast<void*>(buffer);
    cmd.length = length;
    cmd.direction = direction;
    return cmd;
}

std::string ScsiStatusName(uint8_t status) {
    switch (status) {
        case 0x00:
            return "GOOD";
        case 0x02:
            return "CHECK CONDITION";
        case 0x04:
            return "CONDITION MET";
        case 0x08:
            return "BUSY";
        case 0x18:
            return "RESERVATION CONFLICT";
        case 0x22:
            return "COMMAND TERMINATED";
        case 0x28:
            return "TASK SET FULL";
        case 0x30:
            return "ACA ACTIVE";
        case 0x40:
            return "TASK ABORTED";
        default:
            return std::string();
    }
}

std::vector<DriveAddress> AspiAddresses(unsigned adapters) {
    std::vector<DriveAddress> out;
    for (unsigned h = 0; h < adapters; ++h) {
        for (uint8_t t = 0; t < 8; ++t) {
            for (uint8_t l = 0; l < 4; ++l) {
                DriveAddress a;
                a.hostAdapter = static_cast<uint8_t>(h);
                a.target = t;
                a.lun = l;
                out.push_back(a);
            }
        }
    }
    return out;
}

std::string AddressText(const DriveAddress& address) {
    if (address.letter != '-')
        return std::string(1, address.letter) + ":";
    if (!address.name.empty())
        return address.name + (address.fullAddress.empty() ? "" : " [" + address.fullAddress + "]");
    return "[" + std::to_string(address.hostAdapter) + "." + std::to_string(address.target) + "." +
           std::to_string(address.lun) + "]";
}

bool NamesDevice(const std::string& text, const DriveAddress& address) {
    if (address.name.empty())
        return false;
    std::string given = ToLower(text);
    if (StartsWith(given, "/dev/"))
        given.erase(0, 5);
    return given == ToLower(address.name);
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

CommandStatus CDriveControl::Send(ScsiCommand cmd) {
    if (m_transport != TransportAspi && m_transport != TransportPassThrough) {
        m_lastResult = TransportFailed(0);
        return kStatusTransportFailure;
    }
    cmd.timeoutSeconds = TimeoutOf(cmd.cdb[0]);
    for (int repeat = 0;; ++repeat) {
        m_lastResult = m_pTransport->Execute(cmd);
        const bool unitAttention =
            m_lastResult.category == CommandCategory::CheckCondition &&
            scsi::SenseKey(m_pTransport->Sense()) == scsi::kSenseUnitAttention;
        if (!unitAttention || repeat == kUnitAttentionRepeats)
            break;
    }
    return StatusOf(m_lastResult, m_pTransport->Sense());
}

CommandStatus CDriveControl::SendCommand6(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3,
                                          uint8_t c4, uint8_t c5, void* buffer, uint32_t length,
                                          uint8_t direction) {
    const uint8_t cdb[6] = {c0, c1, c2, c3, c4, c5};
    return Send(MakeCommand(cdb, sizeof cdb, buffer, length, direction));
}

CommandStatus CDriveControl::SendCommand10(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3,
                                           uint8_t c4, uint8_t c5, uint8_t c6, uint8_t c7,
                                           uint8_t c8, uint8_t c9, void* buffer, uint32_t length,
                                           uint8_t direction) {
    const uint8_t cdb[10] = {c0, c1, c2, c3, c4, c5, c6, c7, c8, c9};
    return Send(MakeCommand(cdb, sizeof cdb, buffer, length, direction));
}

const uint8_t* CDriveControl::GetSenseData() const {
    if (m_pTransport && m_transport != TransportNone)
        return m_pTransport->Sense();
    return m_zeroSense;
}

bool CDriveControl::Probe(uint8_t* inquiry) {
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        std::memset(inquiry, 0, scsi::kInquiryLength);
        if (scsi::Inquiry(*this, inquiry, scsi::kInquiryLength) == kStatusGood) {
            return true;
        }
    }
    return false;
}

void CDriveControl::AddDrive(const uint8_t* inquiry, const DriveAddress& address) {
    if (!scsi::InquiryRemovable(inquiry))
        return;
    DriveInfo entry;
    entry.vendor = scsi::InquiryVendor(inquiry);
    entry.product = scsi::InquiryProduct(inquiry);
    entry.revision = scsi::InquiryRevision(inquiry);
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

std::unique_ptr<CDriveControl> CDriveControl::NewChannel() const {
    std::unique_ptr<IScsiTransport> channel = m_pTransport ? m_pTransport->NewChannel() : nullptr;
    if (!channel)
        return nullptr;
    return std::make_unique<CDriveControl>(std::move(channel));
}

bool CDriveControl::EnumerateDrives(bool cdromOnly) {
    m_drives.clear();
    if (m_transport != TransportAspi && m_transport != TransportPassThrough)
        return false;
    m_pTransport->Close();
    const std::vector<DriveAddress> candidates = m_pTransport->Candidates(cdromOnly);

    // Every address is probed on a channel of its own thread when the transport has channels
    // (a drive that is slow to answer no longer holds up the others); the list keeps the
    // discovery order either way.
    std::vector<std::unique_ptr<CDriveControl>> channels;
    const size_t workers = std::min(candidates.size(), kMaxDriveThreads);
    for (size_t w = 0; w < workers && workers > 1; ++w) {
        auto channel = NewChannel();
        if (!channel) {
            channels.clear();
            break;
        }
        channels.push_back(std::move(channel));
    }
    std::vector<uint8_t> answers(candidates.size() * scsi::kInquiryLength);
    std::vector<char> answered(candidates.size(), 0);
    RunConcurrently(candidates.size(), channels.empty() ? 1 : channels.size(),
                    [&](size_t k, size_t worker) {
                        CDriveControl& drive = channels.empty() ? *this : *channels[worker];
                        if (!drive.m_pTransport->Open(candidates[k]))
                            return;
                        answered[k] = drive.Probe(&answers[k * scsi::kInquiryLength]) ? 1 : 0;
                        drive.m_pTransport->Close();
                    });
    for (size_t k = 0; k < candidates.size(); ++k) {
        if (answered[k])
            AddDrive(&answers[k * scsi::kInquiryLength], candidates[k]);
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

DriveInfo CDriveControl::GetDriveInfo(unsigned index) const {
    index &= 0xFF;
    return index < GetDriveCount() ? m_drives[index] : DriveInfo();
}

void CDriveControl::SetCustomerCode(unsigned index, uint8_t customer) {
    index &= 0xFF;
    if (index >= GetDriveCount())
        return;
    m_drives[index].customer = customer;
    m_drives[index].customerKnown = true;
}

bool CDriveControl::AttachDrive(const DriveInfo& drive) {
    m_drives.clear();
    if (m_transport != TransportAspi && m_transport != TransportPassThrough)
        return false;
    m_drives.push_back(drive);
    m_pTransport->Close();
    return m_pTransport->Open(drive.address);
}

void CDriveControl::ForEachDrive(
    const std::vector<unsigned>& indexes,
    const std::function<void(unsigned index, CDriveControl& drive)>& job) {
    std::vector<unsigned> listed;
    for (unsigned index : indexes) {
        if ((index & 0xFF) < GetDriveCount())
            listed.push_back(index & 0xFF);
    }
    std::vector<std::unique_ptr<CDriveControl>> channels;
    for (size_t k = 0; k < listed.size() && listed.size() > 1; ++k) {
        auto channel = NewChannel();
        if (!channel) {
            channels.clear();
            break;
        }
        channels.push_back(std::move(channel));
    }
    if (channels.empty()) {
        for (unsigned index : listed) {
            SelectDrive(index);
            job(index, *this);
        }
        return;
    }
    RunConcurrently(listed.size(), kMaxDriveThreads, [&](size_t k, size_t) {
        channels[k]->AttachDrive(m_drives[listed[k]]);
        job(listed[k], *channels[k]);
    });
}

int CDriveControl::GetDeniedDevices() const {
    return m_pTransport ? m_pTransport->DeniedDevices() : 0;
}

std::string CDriveControl::GetTransportProblem() const {
    return m_pTransport ? m_pTransport->Problem() : std::string();
}

std::string CDriveControl::GetTransportName() const {
    return m_pTransport && m_transport != TransportNone ? m_pTransport->Name() : "none";
}

bool CDriveControl::NeedsPrivilege() const {
    return m_pTransport && m_pTransport->NeedsPrivilege();
}
