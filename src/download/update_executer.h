// CUpdateExecuter: writes the firmware body into one drive.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "drive/drive_control.h"

enum DownloadResult : uint8_t {
    ResultSucceeded = 0,
    ResultFailed = 11,
    ResultSequenceError = 12,
    ResultSkipped = 14,
    ResultPending = 255,
};

// What the drive said after a download that ended well: the new firmware runs, or the drive
// still reports its old revision and takes the new firmware at its next start.
enum class Verification : uint8_t {
    None,          // no download ended well (yet)
    Verified,      // the drive reports the package's revision (and minor revision)
    AfterRestart,  // updated, effective after a restart: the drive still reports another one
};

// The command that ended a failed download, and how it ended: for the words under the
// failure message.
struct CommandFailure {
    bool sent = false;  // false: the download failed before any command (no drive, bad data)
    uint8_t opcode = 0;
    TransportResult result;
    uint8_t sense[kSenseLength] = {};
};

// The drive is the one the target search found (SelectDrive with its DriveInfo): the object
// opens exactly that drive, without an enumeration of its own, and before the download writes
// anything it asks the drive again who it is. A drive that does not answer, or answers with
// another vendor or product, is not written (result 11, the error text says why). A command
// that the system refuses for lack of privilege, or that finds the drive gone, ends the
// download at once: nothing more goes to that drive.
// After the diagnostic (and the restore of a listed model's setting block) the drive is asked
// again: TEST UNIT READY until it answers (it restarts with the new microcode; at most 60 s),
// then the 48-byte INQUIRY. Its revision tells Verified from AfterRestart; no answer, or
// another drive, is a failure (result 11, the error text says why).
class CUpdateExecuter {
public:
    CUpdateExecuter();
    // For tests: a drive control over a given transport.
    explicit CUpdateExecuter(std::unique_ptr<IScsiTransport> transport);
    virtual ~CUpdateExecuter();
    CUpdateExecuter(const CUpdateExecuter&) = delete;
    CUpdateExecuter& operator=(const CUpdateExecuter&) = delete;

    void SetImage(const uint8_t* image, uint32_t length);
    // The package's revision and minor revision (empty when it has none): what the drive
    // reports after a download when the new firmware runs.
    void SetExpectedRevision(const std::string& revision, const std::string& minor);
    // The drive a search found; false when its device cannot be opened.
    bool SelectDrive(const DriveInfo& drive);
    // By its index in an enumeration of this object's own drive control (tools and tests that
    // have no search); an index of no drive leaves the object without a drive.
    bool SelectDrive(unsigned index);
    bool IsUnitReady();
    bool EjectDisc();
    void Download();

    // Written with release, read with acquire: the only value that crosses threads.
    uint8_t GetResult() const { return m_byResult.load(std::memory_order_acquire); }
    void SetResult(uint8_t result) { m_byResult.store(result, std::memory_order_release); }
    // Read only after GetResult() returned a final value.
    const std::string& GetErrorText() const { return m_strError; }
    // The command that ended the last failed download (read like the error text).
    const CommandFailure& GetFailure() const { return m_failure; }
    // After a download that ended well (read like the error text): what the drive reported
    // then, its revision (trailing blanks removed) and minor revision (empty when none).
    Verification GetVerification() const { return m_verification; }
    const std::string& GetRevisionAfter() const { return m_strRevisionAfter; }
    const std::string& GetMinorAfter() const { return m_strMinorAfter; }

    // Progress: bytes of the body sent so far and the body length (readable from any thread).
    uint32_t GetBytesSent() const { return m_nBytesSent.load(std::memory_order_relaxed); }
    uint32_t GetBytesTotal() const { return m_nImageLength; }
    // No bytes sent, before a new download starts.
    void ResetProgress() { m_nBytesSent.store(0, std::memory_order_relaxed); }

    const std::string& GetModelName() const { return m_strModel; }
    // The drive this object writes to, as the search saw it.
    const DriveInfo& GetDrive() const { return m_target; }
    CDriveControl& Drive() { return m_drive; }

    // Replace the waits after the diagnostic (tests) and the clock, in milliseconds, that
    // ends the wait for the restarting drive.
    void SetSleep(std::function<void(unsigned ms)> sleep) { m_sleep = std::move(sleep); }
    void SetClock(std::function<uint64_t()> nowMs) { m_clock = std::move(nowMs); }

private:
    // False when the download must end at once (the error text is composed).
    bool PrepareSpecialModel();
    CommandStatus Finish();
    // Asks the drive again after the finish; false with the error text composed when it
    // does not answer or is another drive.
    bool VerifyDrive();
    // The last command met a drive that is still restarting (no answer, busy, becoming
    // ready, unit attention): ask again.
    bool StillStarting() const;
    void Sleep(unsigned ms);
    uint64_t NowMs() const;
    void RestoreSpecialModel();
    // The error text from the last command's answer; opcode: that command.
    void ComposeErrorText(uint8_t opcode);
    void RecordFailure(uint8_t opcode);
    // The last command was refused by the system or found the drive gone.
    bool MustStop() const;
    bool CheckDriveIdentity();
    CommandStatus ReadSettingBlock(uint8_t* block);
    CommandStatus WriteSettingBlock(uint8_t* block);

    std::string m_strError;
    CommandFailure m_failure;
    std::atomic<uint8_t> m_byResult{ResultPending};
    CDriveControl m_drive;
    std::string m_strModel;
    DriveInfo m_target;
    bool m_bDriveChosen = false;
    const uint8_t* m_pImage = nullptr;
    uint32_t m_nImageLength = 0;
    bool m_bSpecialModel = false;
    std::atomic<uint32_t> m_nBytesSent{0};
    std::function<void(unsigned ms)> m_sleep;
    std::function<uint64_t()> m_clock;
    std::string m_strExpectedRevision;
    std::string m_strExpectedMinor;
    Verification m_verification = Verification::None;
    std::string m_strRevisionAfter;
    std::string m_strMinorAfter;
};
