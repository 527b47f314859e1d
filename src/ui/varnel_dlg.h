// CVarnelDlg: the updater dialog (template 102). Lists the target drives of the package,
// shows the selected drive's revision beside the package's, runs the update (one worker
// thread per drive), the restart and the unattended run with its result log.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog_base.h"

class CUpdateData;
class CRunProtection;
class CUpdateExecuter;
class ISystemServices;

inline constexpr int IDD_VARNEL = 102;
inline constexpr int IDC_UPDATE = 1011;
inline constexpr int IDC_INSTRUCTION = 1012;
inline constexpr int IDC_DRIVE_LIST = 1013;
inline constexpr int IDC_CUR_LABEL = 1014;
inline constexpr int IDC_NEW_LABEL = 1015;
inline constexpr int IDC_CUR_VERSION = 1016;
inline constexpr int IDC_NEW_VERSION = 1017;
inline constexpr int IDC_UPDATE_CAPTION = 1018;
inline constexpr int IDC_EXIT_CAPTION = 1019;
inline constexpr int IDC_MESSAGE_AREA = 1020;
inline constexpr int IDC_HEADLINE = 1021;
inline constexpr int IDC_ARROW = 1022;
inline constexpr int IDC_PROGRESS = 1035;

inline constexpr unsigned IDM_ABOUTBOX = 16;
inline constexpr int IDI_MAIN = 128;
inline constexpr int IDI_ARROW = 133;
inline constexpr int IDI_QUICKBLAZE = 138;
inline constexpr int IDB_EXIT = 132;
inline constexpr int IDB_REBOOT = 133;
inline constexpr int IDB_UPDATE = 134;

// Exit codes of the updater dialog.
inline constexpr int kExitPending = 259;
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRebootRequired = 3010;
inline constexpr int kExitNotNecessary = 1638;
inline constexpr int kExitNoTargetCpe = 8;
inline constexpr int kExitUnattended = 1;
// Unattended run whose result log could not be written: no log speaks for this run (and
// when that was clear before the run, no drive was touched). 29 is the system's "cannot
// write" code and the same 8-bit status on Linux.
inline constexpr int kExitLogNotWritten = 29;

inline constexpr char kResultLogName[] = "qzfwup.txt";

class CVarnelDlg : public CDialogBase {
public:
    explicit CVarnelDlg(ISystemServices& services);
    ~CVarnelDlg() override;

    // IDialogEvents
    bool OnInitDialog() override;
    void OnCommand(int id, int notify) override;
    bool OnSysCommand(unsigned id) override;
    void OnShowWindow() override;
    bool OnWindowPosChanging(bool show) override;

    void SelectTarget(int index);
    bool IsNewerFirmware() const;
    void CreateExecuters();
    void ShowMessage(const std::string& text);

    // Update run and restart.
    void OnUpdateButton();
    uint8_t StartUpdate();
    bool AllWorkersDone() const;
    // Progress of the downloads of the current run (drives m_nFirst to m_nLast); read
    // from the download objects' counters and result codes without a lock.
    std::vector<DownloadProgress> RunProgress();
    // Bytes sent of the whole run over its total, 0 to 100; drives skipped by the "only
    // newer" rule do not count.
    static int RunPercent(const std::vector<DownloadProgress>& drives);
    bool AnyDiscPresent();
    void EjectDiscs();
    uint8_t CollectResults(std::string* errorText);
    void RefreshDriveEntry(int j);
    void EndBusy();
    void RebootSystem();
    // Unattended run with the result log; false when the log could not be written.
    bool RunUnattended();

    // Set by the start-up before the dialog runs.
    CUpdateData* m_pUpdateData = nullptr;
    bool m_bUnattended = false;
    bool m_bAutoStart = false;
    bool m_bAutoExit = false;
    bool m_bAllDrives = false;
    std::string m_strExePath;
    std::string m_strDriveLetter;
    bool m_bSilent = false;
    int m_nExitCode = kExitPending;

    // Control texts.
    std::string m_strInstruction;    // 1012
    std::string m_strExitCaption;    // 1019
    std::string m_strMessage;        // 1020
    std::string m_strNewLabel;       // 1015
    std::string m_strNewVersion;     // 1017
    std::string m_strCurLabel;       // 1014
    std::string m_strCurVersion;     // 1016
    std::string m_strUpdateCaption;  // 1018
    std::string m_strHeadline;       // 1021

    std::string m_strVersionWarning;
    int m_nSelection = 0;
    int m_nAllIndex = -1;
    int m_nFirst = 0;
    int m_nLast = -1;
    std::array<std::unique_ptr<CUpdateExecuter>, 256> m_pExecuters;
    bool m_bNoticePending = false;
    bool m_bShowNotice = false;
    bool m_bFileBroken = false;
    bool m_bMinorHidden = true;
    bool m_bBusy = false;
    bool m_bUpdated = false;

protected:
    void OnOK() override;
    void OnCancel() override;

private:
    const std::string& Text(unsigned id) const;
    std::string VersionText(const std::string& revision, const std::string& minor) const;
    bool IsRunnableSelection() const;
    // The drives need a privilege for the firmware commands that the process lacks: the
    // system would refuse them, so no run starts.
    bool LacksDrivePrivilege() const;
    // What the privilege means and how to get it; afterRun: the run was refused.
    std::string PrivilegeWords(bool afterRun) const;
    // Words under the failure text for target j's failed download; empty when there are none.
    std::string FailureWords(int j) const;
    void StartWorker(int j);
    void JoinWorkers();
    std::string ResultLogPath();
    // Empties (creates) the log before the run; false when no log can be written there.
    bool ClearResultLog();
    bool WriteResultLog(const std::string& model, const std::string& oldRevision, bool ok);
    // The progress bar: at 0 and shown when a run starts, then the run's progress.
    void BeginRunProgress();
    void ShowRunProgress();

    ISystemServices& m_services;
    std::map<unsigned, std::string> m_texts;
    int m_nExecuters = 0;          // slots of m_pExecuters in use (the target count)
    bool m_bInvalidDrive = false;  // dl= names no target
    bool m_bLogCleared = true;     // the log is empty and can be written
    std::array<std::atomic<bool>, 256> m_bRunning{};
    std::vector<std::thread> m_workers;
    // Sleep and shutdown held off from the start of a run's downloads to EndBusy.
    std::unique_ptr<CRunProtection> m_runProtection;
};
