// The simulator object of a drive file: reading it, the addresses its drives are found at, and
// the transport over it; one set of drives per file within a process.
#include "drive/simulator.h"

#include <algorithm>

#include "base/file_io.h"
#include "drive/simulator_drive.h"

using namespace simulator;

CDriveSimulator::~CDriveSimulator() {
    if (m_journal != nullptr)
        std::fclose(m_journal);
}

bool CDriveSimulator::Load(const std::string& path, std::string* error) {
    m_path = path;
    std::string text;
    switch (ReadWholeFile(path, &text, kDriveFileLimit)) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::CannotOpen:
            *error = path + ": cannot open the drive file";
            return false;
        case ReadStatus::TooLarge:
            *error = path + ": the drive file is larger than " + std::to_string(kDriveFileLimit) +
                     " bytes";
            return false;
    }
    if (!ParseDriveFile(text, error))
        return false;
    if (m_statePath.empty())
        m_statePath = path + ".state";
    if (!LoadState(error))
        return false;
    if (!m_journalPath.empty()) {
        m_journal = std::fopen(m_journalPath.c_str(), "ab");
        if (m_journal == nullptr) {
            *error = m_journalPath + ": cannot open the journal";
            return false;
        }
    }
    return true;
}

std::vector<DriveAddress> CDriveSimulator::Candidates(bool cdromOnly, int* denied) const {
    std::vector<DriveAddress> out;
    *denied = 0;
    if (m_named) {
        // Like the optical drive devices of a Linux system: sr0, sr1, ..., sr10 in number order.
        std::vector<const SimDrive*> sorted;
        for (const auto& p : m_drives)
            sorted.push_back(p.get());
        std::sort(sorted.begin(), sorted.end(), [](const SimDrive* a, const SimDrive* b) {
            return a->device.size() != b->device.size() ? a->device.size() < b->device.size()
                                                        : a->device < b->device;
        });
        for (const SimDrive* d : sorted) {
            if (d->open == OpenMode::Denied)
                ++*denied;
            DriveAddress a;
            a.hostAdapter = d->host;
            a.target = d->target;
            a.lun = d->lun;
            a.device = d->device;
            a.name = d->device;
            a.fullAddress = d->fullAddress;
            out.push_back(a);
        }
        return out;
    }
    if (m_aspi) {
        out = AspiAddresses(m_adapters);
        for (DriveAddress& a : out) {
            a.device = std::to_string(a.hostAdapter) + "." + std::to_string(a.target) + "." +
                       std::to_string(a.lun);
        }
        return out;
    }
    // Like the system's logical drive strings: in letter order; A and C are never probed.
    std::vector<const SimDrive*> sorted;
    for (const auto& p : m_drives)
        sorted.push_back(p.get());
    std::sort(sorted.begin(), sorted.end(),
              [](const SimDrive* a, const SimDrive* b) { return a->letter < b->letter; });
    for (const SimDrive* d : sorted) {
        if (cdromOnly && d->type != DriveType::Cdrom)
            continue;
        if (d->letter == 'A' || d->letter == 'C')
            continue;
        if (d->open == OpenMode::Denied)
            ++*denied;
        DriveAddress a;
        a.letter = d->letter;
        a.device = d->id;
        out.push_back(a);
    }
    return out;
}

bool CDriveSimulator::Open(const DriveAddress& addr, int* drive, bool* gone) const {
    *drive = -1;
    *gone = false;
    for (size_t i = 0; i < m_drives.size(); ++i) {
        SimDrive& d = *m_drives[i];
        const bool match =
            m_named  ? d.device == addr.device
            : m_aspi ? (d.host == addr.hostAdapter && d.target == addr.target && d.lun == addr.lun)
                     : d.letter == addr.letter;
        if (!match)
            continue;
        {
            std::lock_guard<std::mutex> lock(d.mutex);
            *gone = d.gone;
        }
        if (d.open != OpenMode::Ok || *gone)
            return false;
        *drive = static_cast<int>(i);
        return true;
    }
    // An ASPI address without a device can be addressed; it just never answers.
    return m_aspi;
}

std::vector<SimulatedDriveState> CDriveSimulator::Snapshot() const {
    std::vector<SimulatedDriveState> out;
    for (const auto& p : m_drives) {
        std::lock_guard<std::mutex> lock(p->mutex);
        SimulatedDriveState s;
        s.id = p->id;
        s.revision = FieldText(p->revision, 4);
        s.minor = FieldText(p->minor, 2);
        s.customer = p->customer;
        s.medium = p->medium;
        std::memcpy(s.setting, p->setting, 8);
        s.commands = p->commands;
        s.imagesReceived = static_cast<uint32_t>(p->complete.size());
        s.lastInstallHash = p->lastInstallHash;
        out.push_back(s);
    }
    return out;
}

uint64_t Fnv1a64(const uint8_t* data, size_t length, uint64_t hash) {
    for (size_t i = 0; i < length; ++i) {
        hash ^= data[i];
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

namespace {

std::mutex g_registryMutex;
std::map<std::string, std::shared_ptr<CDriveSimulator>> g_registry;

class SimulatorTransport : public IScsiTransport {
public:
    SimulatorTransport(std::shared_ptr<CDriveSimulator> sim, std::string problem)
        : m_sim(std::move(sim)), m_problem(std::move(problem)) {}

    DriveTransport Kind() const override { return m_sim ? m_sim->Kind() : TransportPassThrough; }
    std::string Name() const override { return m_sim ? m_sim->Name() : IScsiTransport::Name(); }
    bool NeedsPrivilege() const override { return m_sim && m_sim->NeedsPrivilege(); }
    std::vector<DriveAddress> Candidates(bool cdromOnly) override {
        if (!m_sim)
            return {};
        return m_sim->Candidates(cdromOnly, &m_denied);
    }
    bool Open(const DriveAddress& addr) override {
        m_drive = -1;
        m_gone = false;
        return m_sim && m_sim->Open(addr, &m_drive, &m_gone);
    }
    void Close() override {
        m_drive = -1;
        m_gone = false;
    }
    TransportResult Execute(const ScsiCommand& cmd) override {
        if (!m_sim || m_gone) {
            std::memset(m_sense, 0, sizeof m_sense);
            return TransportFailed(0,
                                   m_gone ? TransportFault::DeviceGone : TransportFault::Unknown);
        }
        return m_sim->Execute(m_drive, cmd, m_sense);
    }
    const uint8_t* Sense() const override { return m_sense; }
    int DeniedDevices() const override { return m_denied; }
    std::string Problem() const override { return m_problem; }
    std::unique_ptr<IScsiTransport> NewChannel() const override {
        return std::make_unique<SimulatorTransport>(m_sim, m_problem);
    }

private:
    std::shared_ptr<CDriveSimulator> m_sim;
    std::string m_problem;
    int m_drive = -1;
    bool m_gone = false;  // the open drive was removed
    int m_denied = 0;
    uint8_t m_sense[32] = {};
};

}  // namespace

std::shared_ptr<CDriveSimulator> OpenSimulator(const std::string& path, std::string* error) {
    const std::string key = MakeAbsolutePath(path);
    std::lock_guard<std::mutex> lock(g_registryMutex);
    const auto it = g_registry.find(key);
    if (it != g_registry.end())
        return it->second;
    auto sim = std::make_shared<CDriveSimulator>();
    std::string why;
    if (!sim->Load(path, &why)) {
        if (error)
            *error = why;
        return nullptr;
    }
    g_registry[key] = sim;
    return sim;
}

void ResetSimulators() {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_registry.clear();
}

std::unique_ptr<IScsiTransport> CreateSimulatorTransport(const std::string& path) {
    std::string error;
    auto sim = OpenSimulator(path, &error);
    if (!sim)
        return std::make_unique<SimulatorTransport>(nullptr, "simulated drives: " + error);
    return CreateSimulatorTransport(std::move(sim));
}

std::unique_ptr<IScsiTransport> CreateSimulatorTransport(std::shared_ptr<CDriveSimulator> sim) {
    return std::make_unique<SimulatorTransport>(std::move(sim), std::string());
}

std::vector<SimulatedDriveState> SimulatorSnapshot(const CDriveSimulator& sim) {
    return sim.Snapshot();
}
