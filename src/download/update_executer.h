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
class CUpdateExecuter {
public:
    CUpdateExecuter();
    // For tests: a drive control over a given transport.
    explicit CUpdateExecuter(std::unique_ptr<IScsiTransport> transport);
    virtual ~CUpdateExecuter();
    CUpdateExecuter(const CUpdateExecuter&) = delete;
    CUpdateExecuter& operator=(const CUpdateExecuter&) = delete;

    void SetImage(const uint8_t* image, uint32_t length);
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

    // Progress: bytes of the body sent so far and the body length (readable from any thread).
    uint32_t GetBytesSent() const { return m_nBytesSent.load(std::memory_order_relaxed); }
    uint32_t GetBytesTotal() const { return m_nImageLength; }
    // No bytes sent, before a new download starts.
    void ResetProgress() { m_nBytesSent.store(0, std::memory_order_relaxed); }

    const std::string& GetModelName() const { return m_strModel; }
    // The drive this object writes to, as the search saw it.
    const DriveInfo& GetDrive() const { return m_target; }
    CDriveControl& Drive() { return m_drive; }

    // Replaces the 3 s wait after the diagnostic (tests).
    void SetSleep(std::function<void(unsigned ms)> sleep) { m_sleep = std::move(sleep); }

private:
    // False when the download must end at once (the error text is composed).
    bool PrepareSpecialModel();
    CommandStatus Finish();
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
};
