#include "ui/varnel_dlg.h"

#include <cstdio>

#include "base/path_rules.h"
#include "base/system_services.h"
#include "base/text.h"
#include "drive/drive_control.h"
#include "drive/sense_text.h"
#include "package/customers.h"
#include "package/update_data.h"
#include "ui/about_dlg.h"
#include "ui/message_dlg.h"
#include "ui/strings.h"

namespace {

// Longest wait for a message or a finished download while a run is in progress.
constexpr unsigned kWaitSliceMs = 100;
// Messages handled before a run starts, so that the window shows the running state.
constexpr int kCatchUpPolls = 1000;
constexpr unsigned kAutoExitWaitMs = 10000;

// Words shown under the texts of the string table.
constexpr char kNoPrivilegeText[] =
    "This process lacks the privilege that the system asks of a program that writes firmware "
    "into drives.";
constexpr char kNothingSentText[] = "No firmware was sent to the drives.";
constexpr char kDiscStaysText[] =
    "A disc is still in the drive after the eject; no firmware was sent to it.";

// A text of several lines as one line: a line break becomes one blank.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        const bool lineBreak = c == '\r' || c == '\n';
        if (!lineBreak)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    return TrimRight(line, " ");
}

// The texts loaded at initialisation, in loading order.
constexpr unsigned kLoadedTexts[] = {
    IDS_HEADLINE,    IDS_SELECT_DRIVE,  IDS_FOLLOWING_DRIVE, IDS_NO_TARGET,     IDS_CURRENT_VERSION,
    IDS_NEW_VERSION, IDS_UPDATE,        IDS_REBOOT,          IDS_EXIT,          IDS_CLOSE_APPS,
    IDS_UPDATE_OK,   IDS_UPDATING,      IDS_FILE_DESTROYED,  IDS_UPDATE_FAILED, IDS_REMOVE_DISC,
    IDS_REBOOTING,   IDS_REBOOT_FAILED, IDS_NOT_NECESSARY,   IDS_FILE_BROKEN,   IDS_ALL_TARGETS,
    IDS_UNITS,
};

// The model word of a drive-list label: its last word before the revision.
std::string ModelWord(std::string label) {
    auto blank = label.rfind(' ');
    if (blank != std::string::npos)
        label.erase(blank);
    label = TrimRight(label);
    blank = label.rfind(' ');
    if (blank != std::string::npos)
        label.erase(0, blank + 1);
    return label;
}

}  // namespace

CVarnelDlg::CVarnelDlg(ISystemServices& services)
    : CDialogBase(IDD_VARNEL), m_services(services), m_run(services, LoadText(IDS_UPDATING)) {
    BindText(IDC_INSTRUCTION, &m_strInstruction);
    BindText(IDC_EXIT_CAPTION, &m_strExitCaption);
    BindText(IDC_MESSAGE_AREA, &m_strMessage);
    BindText(IDC_NEW_LABEL, &m_strNewLabel);
    BindText(IDC_NEW_VERSION, &m_strNewVersion);
    BindText(IDC_CUR_LABEL, &m_strCurLabel);
    BindText(IDC_CUR_VERSION, &m_strCurVersion);
    BindText(IDC_UPDATE_CAPTION, &m_strUpdateCaption);
    BindText(IDC_HEADLINE, &m_strHeadline);
}

const std::string& CVarnelDlg::Text(unsigned id) const {
    static const std::string empty;
    auto it = m_texts.find(id);
    return it != m_texts.end() ? it->second : empty;
}

std::string CVarnelDlg::VersionText(const std::string& revision, const std::string& minor) const {
    if (!m_bMinorHidden && !minor.empty())
        return revision + "-" + minor;
    return revision;
}

bool CVarnelDlg::OnInitDialog() {
    CDialogBase::OnInitDialog();
    CUpdateData& data = *m_pUpdateData;

    const std::string aboutItem = LoadText(IDS_ABOUT_MENU);
    if (!aboutItem.empty())
        Window().AppendSystemMenuItem(IDM_ABOUTBOX, aboutItem);
    Window().SetIcon(IDI_MAIN, true);
    Window().SetIcon(IDI_MAIN, false);
    if (CustomerRuleOf(data.m_strCustomer).ownTitle) {
        Window().SetTitle("QUICKBLAZE 1.00");
        Window().SetIcon(IDI_QUICKBLAZE, true);
        Window().SetIcon(IDI_QUICKBLAZE, false);
    }

    for (unsigned id : kLoadedTexts)
        m_texts[id] = LoadText(id);

    m_strHeadline = Text(IDS_HEADLINE);
    m_strExitCaption = Text(IDS_EXIT);
    m_strNewLabel = Text(IDS_NEW_VERSION);
    m_strCurLabel = Text(IDS_CURRENT_VERSION);
    m_strUpdateCaption = Text(IDS_UPDATE);

    // A package that is missing, or whose images failed their check, is never written.
    if (data.IsPackageEmpty() || data.IsPackageBroken()) {
        m_bFileBroken = true;
        m_strMessage = Text(IDS_FILE_BROKEN);
        EnableItem(IDC_UPDATE, false);
    } else {
        m_strMessage = Text(IDS_CLOSE_APPS);
    }

    m_bMinorHidden = data.m_bMinorRevHidden;
    if (m_bUnattended) {
        data.m_bLogMode = true;
        // An old log must never speak for this run: it goes before any drive is asked.
        m_bLogCleared = ClearResultLog();
    }

    data.SearchTargets();
    const int count = data.GetTargetCount();

    if (count == 0) {
        m_nExitCode = CUpdateRun::ExitCodeWithoutTarget(data.m_strCustomer);
        const int denied = data.m_drive.GetDeniedDevices();
        const std::string hint = denied > 0 ? m_services.DriveAccessHint(denied) : std::string();
        ReportLine(Text(IDS_NO_TARGET) + (hint.empty() ? "" : " " + hint));
        // The unattended run ends after its log, with this code unless the log fails.
        if (m_bSilent && !m_bUnattended)
            EndDialog(m_nExitCode);
    }

    CreateExecuters();

    for (int i = 0; i < count; ++i) {
        Window().ListAdd(IDC_DRIVE_LIST, data.GetTargetLabel(static_cast<uint8_t>(i)));
    }

    if (count == 0) {
        m_strInstruction = Text(IDS_NO_TARGET);
        EnableItem(IDC_UPDATE, false);
        // Drives that could not be opened for lack of permission: say so and how to fix it.
        const int denied = data.m_drive.GetDeniedDevices();
        const std::string hint = denied > 0 ? m_services.DriveAccessHint(denied) : std::string();
        if (!hint.empty() && !m_bFileBroken)
            m_strMessage = hint;
    } else if (m_bAllDrives || (!data.m_bOnlyNewer && count >= 2)) {
        Window().ListAdd(IDC_DRIVE_LIST, "*: " + Text(IDS_ALL_TARGETS) + " (" +
                                             std::to_string(count) + Text(IDS_UNITS) + ")");
        m_nAllIndex = count;
        m_strInstruction = Text(IDS_SELECT_DRIVE);
    } else {
        m_strInstruction = Text(IDS_FOLLOWING_DRIVE);
    }
    // Said before any run: the system would refuse the firmware commands.
    if (count > 0 && !m_bFileBroken && m_run.LacksDrivePrivilege())
        m_strMessage = Text(IDS_CLOSE_APPS) + "\n" + PrivilegeWords(false);

    const int found = data.FindTargetByLetter(m_strDriveLetter);
    if (found >= 0) {
        Window().ListSetSel(IDC_DRIVE_LIST, found);
        SelectTarget(found);
    } else {
        m_bInvalidDrive = true;
        Window().ListAdd(IDC_DRIVE_LIST, m_strDriveLetter + ": INVALID DRIVE");
        Window().ListSetSel(IDC_DRIVE_LIST, count);
        SelectTarget(0);
        EnableItem(IDC_UPDATE, false);
    }

    if (m_bAllDrives) {
        Window().ListSetSel(IDC_DRIVE_LIST, m_nAllIndex);
        SelectTarget(m_nAllIndex);
    }

    Window().SetButtonBitmap(kIdCancel, IDB_EXIT);
    Window().SetButtonBitmap(IDC_UPDATE, IDB_UPDATE);
    Window().ShowItem(IDC_PROGRESS, false);  // until the first run

    UpdateData(false);

    if (m_bUnattended) {
        if (!RunUnattended()) {
            EndDialog(kExitLogNotWritten);
        } else if (count == 0 && m_bSilent) {
            EndDialog(m_nExitCode);
        } else {
            OnOK();
        }
    }

    if (m_bMinorHidden && CustomerRuleOf(data.m_strCustomer).warnSameOrOlder) {
        if (m_strCurVersion.compare(m_strNewVersion) >= 0) {
            m_strVersionWarning = LoadText(IDS_SAME_OR_OLDER);
        }
    }
    if (!m_strVersionWarning.empty() && !m_bAutoStart && !m_bUnattended) {
        m_bNoticePending = true;
    }
    return true;
}

void CVarnelDlg::OnCommand(int id, int notify) {
    if (id == IDC_UPDATE && notify == kNotifyClicked) {
        OnUpdateButton();
        return;
    }
    if (id == IDC_DRIVE_LIST && notify == kNotifySelChange) {
        if (!m_bBusy)
            SelectTarget(Window().ListGetSel(IDC_DRIVE_LIST));
        return;
    }
    CDialogBase::OnCommand(id, notify);
}

void CVarnelDlg::OnOK() {
    if (m_bBusy)
        return;
    CDialogBase::OnOK();
}

void CVarnelDlg::OnCancel() {
    // EXIT is disabled during a run; the close box and Escape are refused as well, so
    // that no download outlives the dialog.
    if (m_bBusy)
        return;
    EndDialog(m_nExitCode);
}

bool CVarnelDlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0u) != IDM_ABOUTBOX)
        return false;
    CAboutDlg about;
    about.m_bHideCopyright = m_pUpdateData->m_bHideCopyright;
    about.DoModal(Factory(), this);
    return true;
}

void CVarnelDlg::OnShowWindow() {
    if (m_bAutoStart) {
        m_bAutoStart = false;
        Window().PostCommand(IDC_UPDATE);
    }
    if (m_bNoticePending) {
        m_bNoticePending = false;
        m_bShowNotice = true;
        Window().PostCommand(IDC_UPDATE);
    }
}

bool CVarnelDlg::OnWindowPosChanging(bool show) {
    return show && !m_bSilent;
}

void CVarnelDlg::SelectTarget(int n) {
    const uint8_t index = static_cast<uint8_t>(n);
    if (m_bFileBroken)
        return;
    CUpdateData& data = *m_pUpdateData;
    const int count = data.GetTargetCount();
    if (count > 0 && index < count) {
        data.ReadDriveRevision(index);
        m_strCurVersion = VersionText(data.m_strCurRevision, data.m_strCurMinorRev);
        EnableItem(IDC_UPDATE, true);
        if (data.m_bOnlyNewer && data.m_bMinorRevHidden && !IsNewerFirmware()) {
            EnableItem(IDC_UPDATE, false);
            m_strMessage = Text(IDS_NOT_NECESSARY);
        }
    } else if (static_cast<int>(index) == m_nAllIndex) {
        data.ReadDriveRevision(0);
        m_strCurVersion = m_bMinorHidden ? "****" : "****-**";
        EnableItem(IDC_UPDATE, true);
    } else {
        m_strCurVersion.clear();
        if (!m_bUpdated)
            EnableItem(IDC_UPDATE, false);
    }
    m_strNewVersion = VersionText(data.m_strNewRevision, data.m_strNewMinorRev);
    m_nSelection = index;
    UpdateData(false);
}

bool CVarnelDlg::IsNewerFirmware() const {
    return CUpdateRun::IsNewerFirmware(*m_pUpdateData);
}

void CVarnelDlg::CreateExecuters() {
    m_run.CreateExecuters(*m_pUpdateData);
}

void CVarnelDlg::ShowMessage(const std::string& text) {
    if (text.empty() || m_bAutoStart || m_bUnattended)
        return;
    CMessageDlg dlg;
    dlg.m_strMessage = text;
    dlg.DoModal(Factory(), this);
}

bool CVarnelDlg::IsAllDrivesEntry() const {
    return m_nAllIndex >= 0 && m_nSelection == m_nAllIndex;
}

bool CVarnelDlg::IsRunnableSelection() const {
    return m_nSelection < m_run.TargetCount() || IsAllDrivesEntry();
}

RunSelection CVarnelDlg::RunTargets() const {
    if (IsAllDrivesEntry())
        return RunSelection{0, m_run.TargetCount() - 1};
    return RunSelection{m_nSelection, m_nSelection};
}

void CVarnelDlg::OnUpdateButton() {
    if (m_bShowNotice) {
        m_bShowNotice = false;
        if (m_pUpdateData->GetTargetCount() > 0)
            ShowMessage(m_strVersionWarning);
        return;
    }
    if (!IsItemEnabled(IDC_UPDATE) || m_bBusy || m_bStarting || m_bFileBroken) {
        // A silent window cannot be seen or closed by anyone: when its automatic start
        // cannot run, end with the exit code as it stands instead of staying forever.
        if (m_bSilent && !m_bBusy && !m_bStarting) {
            if (m_bFileBroken)
                ReportLine(Text(IDS_FILE_BROKEN));
            else if (m_bInvalidDrive)
                ReportLine(m_strDriveLetter + ": INVALID DRIVE");
            EndDialog(m_nExitCode);
        }
        return;
    }
    if (m_bUpdated) {
        RebootSystem();
        UpdateData(false);
        return;
    }
    if (m_pUpdateData->GetTargetCount() == 0) {
        m_strMessage = Text(IDS_NO_TARGET);
        UpdateData(false);
        return;
    }
    if (!IsRunnableSelection()) {
        if (m_bSilent)
            EndDialog(m_nExitCode);
        return;
    }

    uint8_t result = ResultFailed;
    std::string errorText;
    m_strAfterRestart.clear();
    // Refused before any command goes to any drive.
    std::string refusal = RefusalWords();
    if (!refusal.empty()) {
        errorText = "\n" + refusal;
        m_run.RefuseRun(RunTargets(), refusal);
    } else {
        result = StartUpdate();
        if (result == ResultFailed) {
            // The run did not start: the power or the privilege changed during the disc
            // check and the eject, or there was nothing to run.
            refusal = RefusalWords();
            errorText = "\n" + (refusal.empty() ? std::string(kNothingSentText) : refusal);
            refusal = errorText.substr(1);
            m_run.RefuseRun(RunTargets(), refusal);
        }
    }
    if (result == 0) {
        while (!AllWorkersDone()) {
            ShowRunProgress();
            Window().RestoreWaitCursor();
            Window().PumpMessage(kWaitSliceMs);
        }
        ShowRunProgress();
        result = CollectResults(&errorText);
    }

    const bool succeeded = result == ResultSucceeded;
    const std::string& customer = m_pUpdateData->m_strCustomer;
    m_nExitCode = CUpdateRun::ExitCode(result, customer);
    if (succeeded) {
        m_strMessage = Text(IDS_UPDATE_OK);
        m_bUpdated = true;
    } else if (result == ResultSequenceError) {
        m_strMessage = Text(IDS_REMOVE_DISC);
    } else if (result == ResultSkipped) {
        m_strMessage = Text(IDS_NOT_NECESSARY);
    } else {
        m_strMessage = Text(IDS_UPDATE_FAILED) + errorText;
    }
    m_strMessage += m_strAfterRestart;

    EndBusy();
    if (result != ResultSucceeded && result != ResultSkipped)
        ReportFailedDrives(RunTargets(), refusal);

    if (m_bAutoExit) {
        if (CustomerRuleOf(customer).waitBeforeAutoExit)
            m_services.SleepMs(kAutoExitWaitMs);
        EndDialog(m_nExitCode);
    }

    if (succeeded) {
        CUpdateData& data = *m_pUpdateData;
        data.m_strCurRevision = data.m_strNewRevision;
        data.m_strCurMinorRev = data.m_strNewMinorRev;
        m_strCurVersion = VersionText(data.m_strCurRevision, data.m_strCurMinorRev);
        m_strUpdateCaption = Text(IDS_REBOOT);
        Window().SetButtonBitmap(IDC_UPDATE, IDB_REBOOT);
    }
    UpdateData(false);
}

uint8_t CVarnelDlg::StartUpdate() {
    // The pumps and the disc check below come before the run is busy: a press they dispatch
    // must not start a second run.
    struct Starting {
        bool& flag;
        ~Starting() { flag = false; }
    } starting{m_bStarting = true};
    m_strMessage = Text(IDS_UPDATING);
    UpdateData(false);
    for (int i = 0; i < kCatchUpPolls; ++i)
        Window().PumpMessage(0);

    if (AnyDiscPresent()) {
        if (!m_bSilent) {
            m_run.RefuseRun(RunTargets(), Text(IDS_REMOVE_DISC));
            return ResultSequenceError;
        }
        EnableItem(IDC_UPDATE, false);
        EnableItem(kIdCancel, false);
        EjectDiscs();
    }

    m_bBusy = true;
    EnableItem(IDC_UPDATE, false);
    EnableItem(kIdCancel, false);
    Window().BeginWaitCursor();
    Window().SetProgressPos(IDC_PROGRESS, 0);
    Window().ShowItem(IDC_PROGRESS, true);
    IDialogWindow* window = &Window();
    // A worker that ends wakes the wait loop of OnUpdateButton.
    if (m_run.Start(RunTargets(), [window] { window->WakeUp(); }))
        return 0;
    m_run.RefuseRun(RunTargets(), kNothingSentText);
    return ResultFailed;
}

void CVarnelDlg::ShowRunProgress() {
    const std::vector<DriveProgress> drives = m_run.Progress();
    std::vector<DownloadProgress> shown;
    for (const DriveProgress& d : drives) {
        DownloadProgress p{Window().ListGetText(IDC_DRIVE_LIST, d.target), d.bytesSent,
                           d.bytesTotal, d.result, 0};
        // Known once the run has ended (Poll joined the workers).
        if (d.result == ResultSucceeded && m_run.Record(d.target).outcome == DriveOutcome::Updated)
            p.verified = m_run.Record(d.target).verification == Verification::Verified ? 1 : 2;
        shown.push_back(p);
    }
    Window().ShowProgress(shown);
    Window().SetProgressPos(IDC_PROGRESS, CUpdateRun::Percent(drives));
}

bool CVarnelDlg::AllWorkersDone() {
    return m_run.Poll();
}

bool CVarnelDlg::AnyDiscPresent() {
    return m_run.AnyDiscPresent(RunTargets());
}

void CVarnelDlg::EjectDiscs() {
    m_run.EjectDiscs(RunTargets());
}

uint8_t CVarnelDlg::CollectResults(std::string* errorText) {
    const RunOutcome outcome = m_run.Outcome();
    // A drive that takes the new firmware at its next start still reports its old revision:
    // its entry stays, and the words under the message say why.
    for (int j : outcome.updated) {
        if (m_run.Record(j).verification != Verification::AfterRestart)
            RefreshDriveEntry(j);
    }
    m_strAfterRestart = AfterRestartWords(outcome.updated);
    if (outcome.failedTarget >= 0) {
        const std::string words = FailureWords(outcome.failedTarget);
        *errorText = m_run.Executer(outcome.failedTarget).GetErrorText() +
                     (words.empty() ? "" : "\n" + words);
    }
    return outcome.result;
}

std::string CVarnelDlg::RefusalWords() const {
    if (m_run.LacksDrivePrivilege())
        return PrivilegeWords(true);
    int percent = -1;
    if (m_run.BatteryTooLow(&percent)) {
        return "The PC runs on battery (" + std::to_string(percent) +
               " % charged) without external power; a run needs external power or at least " +
               std::to_string(kMinBatteryPercent) + " % charge. " + kNothingSentText;
    }
    return std::string();
}

void CVarnelDlg::ReportLine(const std::string& line) {
    if (m_bSilent || m_bUnattended)
        m_services.ReportLine(OneLine(line));
}

void CVarnelDlg::ReportFailedDrives(RunSelection targets, const std::string& refusal) {
    for (int j = targets.first; j <= targets.last && j < m_run.TargetCount(); ++j) {
        std::string reason = refusal;
        if (reason.empty()) {
            const CUpdateExecuter& e = m_run.Executer(j);
            const uint8_t result = e.GetResult();
            if (result == ResultSucceeded || result == ResultSkipped)
                continue;
            if (result == ResultPending) {
                reason = kNothingSentText;
            } else if (result == ResultSequenceError && m_run.KeptDisc(j)) {
                reason = kDiscStaysText;
            } else if (result == ResultSequenceError) {
                reason = Text(IDS_REMOVE_DISC) + e.GetErrorText();
            } else {
                reason = Text(IDS_UPDATE_FAILED) + e.GetErrorText() + " " + FailureWords(j);
            }
        }
        ReportLine(m_pUpdateData->GetTargetLabel(static_cast<uint8_t>(j)) + ": " + reason);
    }
}

std::string CVarnelDlg::DriveName(int j) const {
    return AddressText(m_run.Executer(j).GetDrive().address);
}

std::string CVarnelDlg::AfterRestartWords(const std::vector<int>& updated) const {
    std::string words;
    for (int j : updated) {
        const DriveRecord& r = m_run.Record(j);
        if (r.outcome != DriveOutcome::Updated || r.verification != Verification::AfterRestart)
            continue;
        std::string name = DriveName(j);
        if (name.back() != ':')
            name += ":";
        words += "\n" + name + " updated, effective after a restart (the drive still reports " +
                 VersionText(r.revisionAfter, r.minorAfter) + ").";
    }
    return words;
}

RunReport CVarnelDlg::Report() const {
    CUpdateData& data = *m_pUpdateData;
    RunReport report;
    report.updater = FileNamePart(m_strExePath);
    report.revision = VersionText(data.m_strNewRevision, data.m_strNewMinorRev);
    for (int j = 0; j < m_run.TargetCount(); ++j) {
        const DriveInfo& info = m_run.Executer(j).GetDrive();
        const DriveRecord& r = m_run.Record(j);
        ReportDrive d;
        d.drive = data.GetTargetLabel(static_cast<uint8_t>(j));
        d.vendor = TrimRight(info.vendor, " ");
        d.product = TrimRight(info.product, " ");
        d.revisionBefore = VersionText(TrimRight(r.revisionBefore, " "), r.minorBefore);
        d.outcome = r.outcome;
        if (!r.refusal.empty()) {
            d.error = r.refusal;
        } else if (r.outcome == DriveOutcome::Refused && m_run.KeptDisc(j)) {
            d.error = kDiscStaysText;
        } else if (r.outcome == DriveOutcome::Refused) {
            d.error = Text(IDS_REMOVE_DISC);  // the drive refused: command sequence error
        } else if (r.outcome == DriveOutcome::Failed) {
            const std::string words = FailureWords(j);
            const std::string text = m_run.Executer(j).GetErrorText();
            d.error = words.empty() ? Trim(text) : words + " " + Trim(text);
        }
        if (r.outcome == DriveOutcome::Updated) {
            d.revisionAfter = VersionText(r.revisionAfter, r.minorAfter);
            d.verified = r.verification == Verification::Verified;
        }
        report.drives.push_back(d);
    }
    return report;
}

std::string CVarnelDlg::PrivilegeWords(bool afterRun) const {
    std::string words = kNoPrivilegeText;
    if (afterRun)
        words += std::string(" ") + kNothingSentText;
    const std::string advice = m_services.DrivePrivilegeAdvice();
    return advice.empty() ? words : words + " " + advice;
}

std::string CVarnelDlg::FailureWords(int j) const {
    const CUpdateExecuter& e = m_run.Executer(j);
    const CommandFailure& failure = e.GetFailure();
    if (!failure.sent)
        return std::string();
    if (failure.result.category == CommandCategory::CheckCondition)
        return SenseWords(failure.sense);
    if (failure.result.category != CommandCategory::TransportFailure)
        return std::string();  // the error text names the drive's status
    const std::string drive = AddressText(e.GetDrive().address);
    const std::string command = CommandName(failure.opcode);
    switch (failure.result.fault) {
        case TransportFault::NotPermitted: {
            const std::string advice = m_services.DrivePrivilegeAdvice();
            return "The system refused to send " + command + " to the drive " + drive +
                   " for lack of privilege; nothing more was sent to that drive." +
                   (advice.empty() ? "" : " " + advice);
        }
        case TransportFault::DeviceGone:
            return "The drive " + drive + " is gone (removed or disconnected); " + command +
                   " did not reach it, and nothing more was sent to it.";
        case TransportFault::Unknown:
            break;
    }
    std::string words = command + " got no answer from the drive " + drive +
                        " (the request did not reach it, or it timed out";
    if (failure.result.osError != 0)
        words += "; system error " + std::to_string(failure.result.osError);
    return words + ").";
}

void CVarnelDlg::RefreshDriveEntry(int j) {
    std::string text = Window().ListGetText(IDC_DRIVE_LIST, j);
    const auto blank = text.rfind(' ');
    if (blank != std::string::npos) {
        text = text.substr(0, blank + 1) + m_pUpdateData->m_strNewRevision;
        Window().ListDelete(IDC_DRIVE_LIST, j);
        Window().ListInsert(IDC_DRIVE_LIST, j, text);
    }
    Window().ListSetSel(IDC_DRIVE_LIST, m_nSelection);
    UpdateData(false);
}

void CVarnelDlg::EndBusy() {
    m_bBusy = false;
    EnableItem(IDC_UPDATE, true);
    EnableItem(kIdCancel, true);
    Window().EndWaitCursor();
}

void CVarnelDlg::RebootSystem() {
    const ShutdownPrivilege privilege = m_services.EnableShutdownPrivilege();
    if (privilege == ShutdownPrivilege::NoToken) {
        if (!m_services.RequestRestart())
            m_strMessage = Text(IDS_REBOOT_FAILED);
        UpdateData(false);
        return;
    }
    if (privilege == ShutdownPrivilege::NotEnabled) {
        UpdateData(false);
        return;
    }
    m_strMessage = Text(IDS_REBOOTING);
    UpdateData(false);
    if (!m_services.RequestRestart()) {
        m_strMessage = Text(IDS_REBOOT_FAILED);
        UpdateData(false);
    }
}

bool CVarnelDlg::RunUnattended() {
    std::string model = "NO_DRIVE";
    std::string oldRevision;
    bool ok = false;
    // Nothing is touched when no log can be written, and a dl= letter that names no target
    // names no drive at all.
    if (!m_bLogCleared) {
        m_run.RefuseRun(RunTargets(), "The result log " + ResultLogPath() + " cannot be written. " +
                                          kNothingSentText);
    }
    const std::string refusal =
        m_bLogCleared && !m_bInvalidDrive && m_run.TargetCount() > 0 ? RefusalWords() : "";
    if (!refusal.empty()) {
        // Refused before any drive command: the drive as initialisation saw it.
        const RunSelection targets = RunTargets();
        model = ModelWord(m_pUpdateData->GetTargetLabel(static_cast<uint8_t>(targets.first)));
        // (With every drive chosen, initialisation read the first one.)
        oldRevision = IsAllDrivesEntry() ? VersionText(m_pUpdateData->m_strCurRevision,
                                                       m_pUpdateData->m_strCurMinorRev)
                                         : m_strCurVersion;
        m_run.RefuseRun(targets, refusal);
        ReportFailedDrives(targets, refusal);
    } else if (m_bLogCleared && !m_bInvalidDrive) {
        if (m_bFileBroken)
            m_run.RefuseRun(RunTargets(), Text(IDS_FILE_BROKEN) + " " + kNothingSentText);
        const UnattendedOutcome outcome = m_run.RunUnattended(RunTargets());
        if (outcome.target >= 0) {
            model = ModelWord(m_pUpdateData->GetTargetLabel(static_cast<uint8_t>(outcome.target)));
            // One drive: its revision as the current-revision box shows it.
            oldRevision =
                IsAllDrivesEntry() ? VersionText(outcome.revision, outcome.minor) : m_strCurVersion;
            ok = outcome.ok;
            if (!ok)
                ReportFailedDrives(RunTargets(), std::string());
        }
    }
    return WriteResultLog(model, oldRevision, ok);
}

std::string CVarnelDlg::ResultLogPath() {
    return m_services.WindowsFolder() + kPathSeparator + kResultLogName;
}

// The log of this run exists, empty, from before the first drive command until the run
// ends: an old log never speaks for it, and a run that could not be reported touches nothing.
bool CVarnelDlg::ClearResultLog() {
    const std::string path = ResultLogPath();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (std::FILE* log = std::fopen(path.c_str(), "wb"))
            return std::fclose(log) == 0;
        std::remove(path.c_str());  // read-only, but perhaps removable
    }
    return false;
}

bool CVarnelDlg::WriteResultLog(const std::string& model, const std::string& oldRevision, bool ok) {
    const std::string text = "FILE=" + FileNamePart(ToUpper(m_strExePath)) + "\r\n" +
                             "MODEL=" + model + "\r\n" + "OLD_REV=" + oldRevision + "\r\n" +
                             "NEW_REV=" + m_strNewVersion + "\r\n" +
                             "STATUS=" + (ok ? "OK" : "NG") + "\r\n";
    // C stdio rather than streams: iostreams would double the size of the program.
    std::FILE* log = std::fopen(ResultLogPath().c_str(), "wb");
    if (log == nullptr)
        return false;
    bool written = std::fwrite(text.data(), 1, text.size(), log) == text.size();
    written = std::fclose(log) == 0 && written;
    if (!written)
        std::remove(ResultLogPath().c_str());  // half a log is no log
    return written;
}
