// CUpdateRun: the update run of the updater. Owns one download object per target of the
// package's search, starts a worker thread per drive of a run, reports the progress, merges
// the drives' results into one run result and maps it to the updater's exit code. It knows
// no window: the caller shows the progress and the outcome, and pumps its messages between
// calls of Poll().
//
// Use, on one thread (the user-interface thread):
//   CreateExecuters(data) once, after the target search;
//   per run: LacksDrivePrivilege() and AnyDiscPresent(targets) / EjectDiscs(targets) to
//   decide whether it may start; Start(targets, workerEnded); Progress() and Poll() until
//   Poll() returns true; then Outcome().
// RunUnattended(targets) is the unattended run: the same decisions, downloads on this thread.
//
// Threads: a worker touches only its own CUpdateExecuter (and reads the package's firmware
// body, which nobody writes during a run). The result code of each download is the one value
// that crosses threads: the worker writes its error text first and its result last
// (release); the caller reads the result (acquire) and, only after Poll() has joined every
// worker, the error text.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/update_executer.h"

class CUpdateData;
class CRunProtection;
class ISystemServices;

// Exit codes of the updater after a run, or without one.
inline constexpr int kExitPending = 259;
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRebootRequired = 3010;
inline constexpr int kExitNotNecessary = 1638;
inline constexpr int kExitNoTargetCpe = 8;

// Below this charge, on battery without external power, no run starts: a machine that
// switches off half-way through a download leaves a drive without firmware.
inline constexpr int kMinBatteryPercent = 25;

// The targets of a run: target numbers first to last.
struct RunSelection {
    int first = 0;
    int last = -1;
};

// One drive of the run in progress.
struct DriveProgress {
    int target = 0;
    uint32_t bytesSent = 0;   // firmware bytes written into the drive so far
    uint32_t bytesTotal = 0;  // firmware bytes to write
    uint8_t result = ResultPending;
};

// The merged result of a finished run.
struct RunOutcome {
    // 0: every drive updated, or some updated and the others skipped; 14: every drive
    // skipped; otherwise the result of the first drive that failed (11, 12).
    uint8_t result = ResultFailed;
    int failedTarget = -1;     // that drive; -1 when none failed
    std::vector<int> updated;  // the drives that got the new firmware, in target order
};

// How a target drive fared in the last run of this process that included it.
enum class DriveOutcome : uint8_t { NotRun, Updated, Skipped, Failed, Refused };

struct DriveRecord {
    DriveOutcome outcome = DriveOutcome::NotRun;
    // Why the run was refused before the drive's download (set by RefuseRun); a failed
    // download's words are its download object's.
    std::string refusal;
    std::string revisionBefore;  // the drive's revision and minor revision before that run
    std::string minorBefore;
    // Of an updated drive: what it reported after its download.
    Verification verification = Verification::None;
    std::string revisionAfter;
    std::string minorAfter;
};

// What the result log of an unattended run reports: the first drive that was not updated
// (skipped or failed), otherwise the first drive of the run; -1 when the selection names no
// target.
struct UnattendedOutcome {
    int target = -1;
    std::string revision;  // that drive's revision and minor revision before the run
    std::string minor;
    bool ok = false;  // every drive of the run was updated
};

class CUpdateRun {
public:
    // reason: what the system shows for the held-off shutdown while a run writes firmware.
    CUpdateRun(ISystemServices& services, std::string reason);
    ~CUpdateRun();  // joins the workers
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // One download object per target of data's search, each opened on the drive the search
    // found; before any run.
    void CreateExecuters(CUpdateData& data);
    int TargetCount() const { return static_cast<int>(m_executers.size()); }
    const CUpdateExecuter& Executer(int target) const;

    // The drives need a privilege for the firmware commands that the process lacks: the
    // system would refuse them, so no run starts.
    bool LacksDrivePrivilege() const;
    // The machine runs on battery below kMinBatteryPercent without external power: no run
    // starts. percent: the charge then.
    bool BatteryTooLow(int* percent = nullptr) const;
    // Some drive of targets holds a medium (asked all at once).
    bool AnyDiscPresent(RunSelection targets);
    // Ejects the media of targets, then waits 7 s for the drives to settle and asks each
    // ejected drive again: one that still holds a medium gets no firmware in the next run
    // (result 12).
    void EjectDiscs(RunSelection targets);
    // Target got no firmware in the last run because it kept its medium through the eject.
    bool KeptDisc(int target) const;

    // Starts the run: reads every drive's revision, marks a drive that "only newer" forbids
    // as skipped (14) and starts a worker for each other one; the system is kept from
    // sleeping and shutting down until Poll() sees the run ended. workerEnded is called on
    // a worker's thread when its download has ended. False, with no drive touched, when
    // targets names no target, the package is broken or the privilege is lacking.
    bool Start(RunSelection targets, std::function<void()> workerEnded);
    // The drives of the run in target order. The result is read before the counter, so a
    // final result comes with its final count.
    std::vector<DriveProgress> Progress() const;
    // True when every download of the run has ended; the workers are joined then.
    bool Poll();
    // The merged result of the run, once Poll() returned true.
    RunOutcome Outcome() const;

    // The unattended run: the downloads of targets one after the other on this thread,
    // under the same rules as Start; like a silent run it first ejects the media of targets.
    UnattendedOutcome RunUnattended(RunSelection targets);

    // How target fared in the last run that included it.
    const DriveRecord& Record(int target) const;
    // A run of targets that was refused before any download (a disc, the privilege, no
    // log): each drive's record says so, with why in words.
    void RefuseRun(RunSelection targets, const std::string& why);

    // Bytes sent of the whole run over its total, 0 to 100; skipped drives do not count.
    static int Percent(const std::vector<DriveProgress>& drives);
    // The run result of per-drive results in target order: a failure outranks a skip
    // wherever it stands, every drive skipped is 14, updated and skipped drives are 0; no
    // drive is a failure. firstFailed: index of the deciding failure, -1 when none.
    static uint8_t MergeResults(const std::vector<uint8_t>& results, int* firstFailed = nullptr);
    // The updater's exit code after a run with this result, and when the search found no
    // target.
    static int ExitCode(uint8_t runResult, const std::string& customer);
    static int ExitCodeWithoutTarget(const std::string& customer);
    // The package's revision is newer than the drive's (m_strCurRevision), minor revisions
    // included when they are shown.
    static bool IsNewerFirmware(const CUpdateData& data);

private:
    bool IsValid(RunSelection targets) const;
    bool MayWrite() const;
    // The drives that kept their medium through the last EjectDiscs, one per target; the
    // marks are used up.
    std::vector<char> TakeDiscMarks();
    // "Only newer" forbids the drive whose revision data holds now.
    bool MustSkip() const;
    void StartWorker(int target, const std::function<void()>& workerEnded);
    // A new run of target: its record starts over with the revision read before it.
    void BeginRecord(int target, const std::string& revision, const std::string& minor);
    // The record of target from its download object's final result.
    void EndRecord(int target);
    void JoinWorkers();

    ISystemServices& m_services;
    const std::string m_reason;
    CUpdateData* m_pData = nullptr;
    std::vector<std::unique_ptr<CUpdateExecuter>> m_executers;
    std::vector<DriveRecord> m_records;  // per target
    // Per target (the target count is one byte): its worker has not ended yet.
    std::array<std::atomic<bool>, 256> m_running{};
    std::vector<std::thread> m_workers;
    RunSelection m_selection;
    // Per target: still held a medium after EjectDiscs; for the next run only (empty: none).
    std::vector<char> m_discStays;
    // The same marks as the last run used them.
    std::vector<char> m_discKept;
    // Sleep and shutdown held off from the start of a run's downloads to their end.
    std::unique_ptr<CRunProtection> m_protection;
};
