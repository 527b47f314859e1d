// CVarnelDlg: the updater dialog (template 102). Lists the target drives of the package,
// shows the selected drive's revision beside the package's, and runs the update (the
// update run, CUpdateRun, downloads; the dialog shows its progress and its outcome), the
// restart and the unattended run with its result log.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "download/run_report.h"
#include "download/update_run.h"
#include "ui/dialog_base.h"

class CUpdateData;
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

// Exit codes of the updater dialog besides those of a run (download/update_run.h).
inline constexpr int kExitUnattended = 1;
// Unattended run whose result log could not be written: no log speaks for this run (and
// when that was clear before the run, no drive was touched). 29 is the system's "cannot
// write" code and the same 8-bit status on Linux.
inline constexpr int kExitLogNotWritten = 29;

inline constexpr char kResultLogName[] = "qzfwup.txt";

class CVarnelDlg : public CDialogBase {
public:
    explicit CVarnelDlg(ISystemServices& services);

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

    // Update run and restart: the window's side of the run in m_run.
    void OnUpdateButton();
    uint8_t StartUpdate();
    // Polls the run; true when its downloads have all ended.
    bool AllWorkersDone();
    bool AnyDiscPresent();
    void EjectDiscs();
    uint8_t CollectResults(std::string* errorText);
    void RefreshDriveEntry(int j);
    void EndBusy();
    void RebootSystem();
    // Unattended run with the result log; false when the log could not be written.
    bool RunUnattended();
    // The report of the runs for scripts: every target drive as its last run left it; the
    // exit code is the caller's to fill in.
    RunReport Report() const;

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
    bool m_bNoticePending = false;
    bool m_bShowNotice = false;
    bool m_bFileBroken = false;
    bool m_bMinorHidden = true;
    bool m_bBusy = false;
    bool m_bStarting = false;  // StartUpdate runs, the run is not yet busy
    bool m_bUpdated = false;

protected:
    void OnOK() override;
    void OnCancel() override;

private:
    const std::string& Text(unsigned id) const;
    std::string VersionText(const std::string& revision, const std::string& minor) const;
    bool IsAllDrivesEntry() const;
    bool IsRunnableSelection() const;
    // The targets of a run of the selected entry.
    RunSelection RunTargets() const;
    // What the privilege means and how to get it; afterRun: the run was refused.
    std::string PrivilegeWords(bool afterRun) const;
    // Why no run may start now (no privilege, a low battery), in words; empty when it may.
    std::string RefusalWords() const;
    // Silent and unattended runs: one line for whatever started the program.
    void ReportLine(const std::string& line);
    // A line per drive of targets that was not updated: its label and why (refusal, for
    // every drive, when the run was refused).
    void ReportFailedDrives(RunSelection targets, const std::string& refusal);
    // Words under the failure text for target j's failed download; empty when there are none.
    std::string FailureWords(int j) const;
    // One line per drive of the run that was updated but reports its old revision.
    std::string AfterRestartWords(const std::vector<int>& updated) const;
    // The short name of target j's drive, as its drive-list entry begins.
    std::string DriveName(int j) const;
    std::string ResultLogPath();
    // Empties (creates) the log before the run; false when no log can be written there.
    bool ClearResultLog();
    bool WriteResultLog(const std::string& model, const std::string& oldRevision, bool ok);
    // The run's progress: a bar per drive and the progress bar.
    void ShowRunProgress();

    ISystemServices& m_services;
    std::map<unsigned, std::string> m_texts;
    bool m_bInvalidDrive = false;   // dl= names no target
    bool m_bLogCleared = true;      // the log is empty and can be written
    std::string m_strAfterRestart;  // AfterRestartWords of the last run
    // The download objects of the targets and the runs on them.
    CUpdateRun m_run;
};
