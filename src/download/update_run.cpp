#include "download/update_run.h"

#include "base/system_services.h"
#include "drive/concurrent.h"
#include "package/customers.h"
#include "package/update_data.h"

namespace {

// Time the drives get after an eject before the run goes on.
constexpr unsigned kEjectWaitMs = 7000;

}  // namespace

CUpdateRun::CUpdateRun(ISystemServices& services, std::string reason)
    : m_services(services), m_reason(std::move(reason)) {}

CUpdateRun::~CUpdateRun() {
    JoinWorkers();
}

void CUpdateRun::CreateExecuters(CUpdateData& data) {
    JoinWorkers();
    m_pData = &data;
    m_selection = RunSelection();
    m_executers.clear();
    m_records.assign(static_cast<size_t>(data.GetTargetCount()), DriveRecord());
    // Until a run reads them again: the revisions the search saw.
    for (int i = 0; i < data.GetTargetCount(); ++i) {
        m_records[static_cast<size_t>(i)].revisionBefore =
            data.GetTargetDriveInfo(static_cast<uint8_t>(i)).revision;
    }
    for (int i = 0; i < data.GetTargetCount(); ++i) {
        auto executer = std::make_unique<CUpdateExecuter>();
        executer->SetSleep([this](unsigned ms) { m_services.SleepMs(ms); });
        executer->SetImage(data.GetFirmware(), data.GetFirmwareLength());
        executer->SetExpectedRevision(data.m_strNewRevision, data.m_strNewMinorRev);
        // The drive the search found, by its address and identity (never by a list position).
        executer->SelectDrive(data.GetTargetDriveInfo(static_cast<uint8_t>(i)));
        m_executers.push_back(std::move(executer));
    }
}

const CUpdateExecuter& CUpdateRun::Executer(int target) const {
    return *m_executers[static_cast<size_t>(target)];
}

const DriveRecord& CUpdateRun::Record(int target) const {
    return m_records[static_cast<size_t>(target)];
}

void CUpdateRun::RefuseRun(RunSelection targets, const std::string& why) {
    if (!IsValid(targets))
        return;
    for (int j = targets.first; j <= targets.last; ++j) {
        DriveRecord& r = m_records[static_cast<size_t>(j)];
        DriveRecord refused;
        refused.outcome = DriveOutcome::Refused;
        refused.refusal = why;
        refused.revisionBefore = r.revisionBefore;
        refused.minorBefore = r.minorBefore;
        r = refused;
    }
}

void CUpdateRun::BeginRecord(int target, const std::string& revision, const std::string& minor) {
    DriveRecord& r = m_records[static_cast<size_t>(target)];
    // The drive list keeps the revision the search saw; a drive updated by an earlier run of
    // this process reported its revision since.
    const bool updated = r.outcome == DriveOutcome::Updated;
    DriveRecord next;
    next.revisionBefore = updated ? r.revisionAfter : revision;
    next.minorBefore = updated ? r.minorAfter : minor;
    r = next;
}

void CUpdateRun::EndRecord(int target) {
    const CUpdateExecuter& e = Executer(target);
    DriveRecord& r = m_records[static_cast<size_t>(target)];
    switch (e.GetResult()) {
        case ResultSucceeded:
            r.outcome = DriveOutcome::Updated;
            r.verification = e.GetVerification();
            r.revisionAfter = e.GetRevisionAfter();
            r.minorAfter = e.GetMinorAfter();
            break;
        case ResultSkipped:
            r.outcome = DriveOutcome::Skipped;
            break;
        case ResultSequenceError:
            r.outcome = DriveOutcome::Refused;
            break;
        case ResultPending:
            r.outcome = DriveOutcome::NotRun;
            break;
        default:
            r.outcome = DriveOutcome::Failed;
            break;
    }
}

bool CUpdateRun::LacksDrivePrivilege() const {
    return m_pData != nullptr && m_pData->m_drive.NeedsPrivilege() &&
           !m_services.HasDrivePrivilege();
}

bool CUpdateRun::BatteryTooLow(int* percent) const {
    const PowerSource power = m_services.Power();
    if (percent != nullptr)
        *percent = power.batteryPercent;
    return power.onBattery && power.batteryPercent >= 0 &&
           power.batteryPercent < kMinBatteryPercent;
}

bool CUpdateRun::IsValid(RunSelection targets) const {
    return targets.first >= 0 && targets.first <= targets.last && targets.last < TargetCount();
}

// A package that is missing, or whose images failed their check, is never written,
// commands that the system would refuse are not sent, and nothing starts on a battery that
// may not last the run.
bool CUpdateRun::MayWrite() const {
    return m_pData != nullptr && !m_pData->IsPackageEmpty() && !m_pData->IsPackageBroken() &&
           !LacksDrivePrivilege() && !BatteryTooLow();
}

bool CUpdateRun::MustSkip() const {
    return m_pData->m_bOnlyNewer && !IsNewerFirmware(*m_pData);
}

// Every drive of the run is asked at the same time, each through its own download object.
bool CUpdateRun::AnyDiscPresent(RunSelection targets) {
    if (!IsValid(targets))
        return false;
    const size_t count = static_cast<size_t>(targets.last - targets.first + 1);
    std::vector<char> ready(count, 0);
    RunConcurrently(count, kMaxDriveThreads, [&](size_t k, size_t) {
        ready[k] = m_executers[static_cast<size_t>(targets.first) + k]->IsUnitReady() ? 1 : 0;
    });
    for (char r : ready) {
        if (r)
            return true;
    }
    return false;
}

void CUpdateRun::EjectDiscs(RunSelection targets) {
    if (!IsValid(targets))
        return;
    const size_t count = static_cast<size_t>(targets.last - targets.first + 1);
    std::vector<char> ejected(count, 0);
    RunConcurrently(count, kMaxDriveThreads, [&](size_t k, size_t) {
        CUpdateExecuter& e = *m_executers[static_cast<size_t>(targets.first) + k];
        if (e.IsUnitReady()) {
            e.EjectDisc();
            ejected[k] = 1;
        }
    });
    m_services.SleepMs(kEjectWaitMs);
    // A tray that stayed shut (locked, jammed, or the eject refused) still holds its disc.
    m_discStays.assign(m_executers.size(), 0);
    RunConcurrently(count, kMaxDriveThreads, [&](size_t k, size_t) {
        const size_t j = static_cast<size_t>(targets.first) + k;
        if (ejected[k] && m_executers[j]->IsUnitReady())
            m_discStays[j] = 1;
    });
}

std::vector<char> CUpdateRun::TakeDiscMarks() {
    std::vector<char> marks;
    marks.swap(m_discStays);
    marks.resize(m_executers.size(), 0);
    m_discKept = marks;
    return marks;
}

bool CUpdateRun::KeptDisc(int target) const {
    const size_t j = static_cast<size_t>(target);
    return j < m_discKept.size() && m_discKept[j] != 0;
}

bool CUpdateRun::Start(RunSelection targets, std::function<void()> workerEnded) {
    JoinWorkers();
    const std::vector<char> discStays = TakeDiscMarks();
    m_selection = RunSelection();
    if (!IsValid(targets) || !MayWrite())
        return false;
    m_selection = targets;
    CUpdateData& data = *m_pData;
    // Nothing may interrupt the downloads: no sleep, no shutdown until they have ended.
    m_protection = std::make_unique<CRunProtection>(m_services, m_reason);
    // A download object still counts the bytes of an earlier run until its new download begins.
    for (int j = targets.first; j <= targets.last; ++j)
        m_executers[static_cast<size_t>(j)]->ResetProgress();

    // Every drive's revision at once, then the same decision per drive as with one read each.
    const std::vector<DriveRevision> revisions = data.ReadDriveRevisions(
        static_cast<uint8_t>(targets.first), static_cast<uint8_t>(targets.last));
    for (int j = targets.first; j <= targets.last; ++j) {
        data.m_strCurRevision = revisions[static_cast<size_t>(j - targets.first)].revision;
        data.m_strCurMinorRev = revisions[static_cast<size_t>(j - targets.first)].minor;
        BeginRecord(j, data.m_strCurRevision, data.m_strCurMinorRev);
        if (discStays[static_cast<size_t>(j)]) {
            m_executers[static_cast<size_t>(j)]->SetResult(ResultSequenceError);
        } else if (MustSkip()) {
            m_executers[static_cast<size_t>(j)]->SetResult(ResultSkipped);
        } else {
            StartWorker(j, workerEnded);
        }
    }
    return true;
}

void CUpdateRun::StartWorker(int target, const std::function<void()>& workerEnded) {
    CUpdateExecuter* executer = m_executers[static_cast<size_t>(target)].get();
    std::atomic<bool>* running = &m_running[static_cast<size_t>(target)];
    // A drive that succeeded in an earlier run still reads 0: mark it pending too, so that
    // the run waits for this download.
    executer->SetResult(ResultPending);
    running->store(true, std::memory_order_release);
    m_workers.push_back(m_services.StartThread([executer, running, workerEnded] {
        executer->Download();
        if (executer->GetResult() == ResultPending)
            executer->SetResult(ResultFailed);
        running->store(false, std::memory_order_release);
        if (workerEnded)
            workerEnded();
    }));
}

void CUpdateRun::JoinWorkers() {
    for (std::thread& t : m_workers) {
        if (t.joinable())
            t.join();
    }
    m_workers.clear();
}

std::vector<DriveProgress> CUpdateRun::Progress() const {
    std::vector<DriveProgress> drives;
    for (int j = m_selection.first; j <= m_selection.last; ++j) {
        const CUpdateExecuter& e = Executer(j);
        DriveProgress p;
        p.target = j;
        // The result first: once it is final, the counter read after it is final too.
        p.result = e.GetResult();
        p.bytesSent = e.GetBytesSent();
        p.bytesTotal = e.GetBytesTotal();
        drives.push_back(p);
    }
    return drives;
}

bool CUpdateRun::Poll() {
    for (int j = m_selection.first; j <= m_selection.last; ++j) {
        if (m_running[static_cast<size_t>(j)].load(std::memory_order_acquire))
            return false;
        if (Executer(j).GetResult() == ResultPending)
            return false;
    }
    JoinWorkers();
    m_protection.reset();
    for (int j = m_selection.first; j <= m_selection.last; ++j)
        EndRecord(j);
    return true;
}

RunOutcome CUpdateRun::Outcome() const {
    RunOutcome outcome;
    std::vector<uint8_t> results;
    for (int j = m_selection.first; j <= m_selection.last; ++j) {
        results.push_back(Executer(j).GetResult());
        if (results.back() == ResultSucceeded)
            outcome.updated.push_back(j);
    }
    int failed = -1;
    outcome.result = MergeResults(results, &failed);
    if (failed >= 0)
        outcome.failedTarget = m_selection.first + failed;
    return outcome;
}

UnattendedOutcome CUpdateRun::RunUnattended(RunSelection targets) {
    UnattendedOutcome outcome;
    if (!IsValid(targets))
        return outcome;
    CUpdateData& data = *m_pData;
    const bool write = MayWrite();
    // As in a silent run: the media come out first, and the drives get time to settle.
    if (write && AnyDiscPresent(targets))
        EjectDiscs(targets);
    const std::vector<char> discStays = TakeDiscMarks();
    const CRunProtection protection(m_services, m_reason);
    outcome.ok = true;
    for (int j = targets.first; j <= targets.last; ++j) {
        CUpdateExecuter& e = *m_executers[static_cast<size_t>(j)];
        data.ReadDriveRevision(static_cast<uint8_t>(j));
        bool updated = false;
        if (!write) {
            // Nothing is written; the drive is reported as not updated.
        } else if (discStays[static_cast<size_t>(j)]) {
            BeginRecord(j, data.m_strCurRevision, data.m_strCurMinorRev);
            e.SetResult(ResultSequenceError);
            EndRecord(j);
        } else if (MustSkip()) {
            BeginRecord(j, data.m_strCurRevision, data.m_strCurMinorRev);
            e.SetResult(ResultSkipped);
            EndRecord(j);
        } else {
            BeginRecord(j, data.m_strCurRevision, data.m_strCurMinorRev);
            e.Download();
            if (e.GetResult() == ResultPending)
                e.SetResult(ResultFailed);
            EndRecord(j);
            updated = e.GetResult() == ResultSucceeded;
        }
        if (outcome.target < 0 || (outcome.ok && !updated)) {
            outcome.target = j;
            outcome.revision = data.m_strCurRevision;
            outcome.minor = data.m_strCurMinorRev;
        }
        outcome.ok = outcome.ok && updated;
    }
    return outcome;
}

int CUpdateRun::Percent(const std::vector<DriveProgress>& drives) {
    uint64_t sent = 0;
    uint64_t total = 0;
    for (const DriveProgress& p : drives) {
        if (p.result == ResultSkipped)
            continue;
        sent += p.bytesSent < p.bytesTotal ? p.bytesSent : p.bytesTotal;
        total += p.bytesTotal;
    }
    return total == 0 ? 0 : static_cast<int>(sent * 100 / total);
}

uint8_t CUpdateRun::MergeResults(const std::vector<uint8_t>& results, int* firstFailed) {
    if (firstFailed != nullptr)
        *firstFailed = -1;
    if (results.empty())
        return ResultFailed;
    bool updated = false;
    for (size_t k = 0; k < results.size(); ++k) {
        if (results[k] == ResultSucceeded) {
            updated = true;
        } else if (results[k] != ResultSkipped) {
            if (firstFailed != nullptr)
                *firstFailed = static_cast<int>(k);
            return results[k];
        }
    }
    return updated ? ResultSucceeded : ResultSkipped;
}

int CUpdateRun::ExitCode(uint8_t runResult, const std::string& customer) {
    if (runResult == ResultSucceeded)
        return CustomerRuleOf(customer).rebootExitCodes ? kExitRebootRequired : kExitSuccess;
    return runResult == ResultSkipped ? kExitNotNecessary : kExitPending;
}

int CUpdateRun::ExitCodeWithoutTarget(const std::string& customer) {
    return CustomerRuleOf(customer).rebootExitCodes ? kExitNoTargetCpe : kExitPending;
}

bool CUpdateRun::IsNewerFirmware(const CUpdateData& data) {
    std::string current = data.m_strCurRevision;
    std::string next = data.m_strNewRevision;
    if (!data.m_bMinorRevHidden) {
        current += "-" + data.m_strCurMinorRev;
        next += "-" + data.m_strNewMinorRev;
    }
    return current.compare(next) < 0;
}
