// The window side of a dialog: what a dialog's logic asks of the window that shows it,
// and the events that the window delivers back. Implementations: the headless window
// of the tests (tests/support), the console window and the Win32 dialog window; the first
// two keep their controls in a control store (control_store.h). See dialog_base.h.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Standard control and command ids.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Notification codes carried with a command (the values of the Windows codes).
inline constexpr int kNotifyClicked = 0;         // push button clicked (or posted command)
inline constexpr int kNotifySelChange = 1;       // list selection changed by the user
inline constexpr int kNotifyEditChange = 0x300;  // text of an edit control changed

// Message box styles and answers (the values of the Windows flags).
inline constexpr unsigned kMbOk = 0x00;
inline constexpr unsigned kMbOkCancel = 0x01;
inline constexpr unsigned kMbYesNo = 0x04;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr unsigned kMbIconWarning = 0x30;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// Progress of one download of an update run (IDialogWindow::ShowProgress).
struct DownloadProgress {
    std::string label;        // the drive's drive-list entry
    uint32_t bytesSent = 0;   // firmware bytes written into the drive so far
    uint32_t bytesTotal = 0;  // firmware bytes to write
    uint8_t result = 255;     // the download's result code; 255 while it runs
    // Of a drive updated (result 0), once the run has ended: 1 the drive reports the new
    // revision, 2 updated, effective after a restart; 0 not known.
    uint8_t verified = 0;
};

// What a window reports to the dialog logic. Every call arrives on the user-interface
// thread, from inside IDialogWindow::RunModal.
class IDialogEvents {
public:
    virtual ~IDialogEvents() = default;
    // The window and its controls exist; not yet shown. Return true for default focus.
    virtual bool OnInitDialog() = 0;
    // A command: a button click, a posted command, or a control notification.
    virtual void OnCommand(int id, int notify) = 0;
    // A system-menu command. Return false to let the window do its default handling.
    virtual bool OnSysCommand(unsigned id) = 0;
    // The window is about to be shown (sent even when the show is then suppressed).
    virtual void OnShowWindow() = 0;
    // The window's position changes; return false to keep it invisible.
    virtual bool OnWindowPosChanging(bool show) = 0;
    // Files were dropped on the window.
    virtual void OnDropFiles(const std::vector<std::string>& files) = 0;
};

// One dialog window. Created per modal run by an IWindowFactory; every member except
// PostCommand and WakeUp is called on the user-interface thread only.
class IDialogWindow {
public:
    virtual ~IDialogWindow() = default;

    // Creates the controls, delivers OnInitDialog, shows the window unless the dialog
    // already ended, and dispatches messages until EndDialog. Returns its result.
    virtual int RunModal() = 0;
    // Ends the modal run once the current message has been handled.
    virtual void EndDialog(int result) = 0;

    // Control texts, states and check boxes.
    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual std::string GetItemText(int id) = 0;
    virtual void EnableItem(int id, bool enable) = 0;
    virtual bool IsItemEnabled(int id) = 0;
    virtual void ShowItem(int id, bool show) = 0;
    virtual void SetCheck(int id, bool checked) = 0;
    virtual bool GetCheck(int id) = 0;

    // Drop-down lists (combo boxes). Indexes from 0; -1 means none.
    virtual int ListAdd(int id, const std::string& text) = 0;
    virtual int ListInsert(int id, int index, const std::string& text) = 0;
    virtual void ListDelete(int id, int index) = 0;
    virtual void ListReset(int id) = 0;
    virtual std::string ListGetText(int id, int index) = 0;
    virtual int ListGetCount(int id) = 0;
    virtual void ListSetSel(int id, int index) = 0;
    virtual int ListGetSel(int id) = 0;

    // Window decoration. Resource ids name icons and bitmaps.
    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetIcon(int iconId, bool big) = 0;
    virtual void SetButtonBitmap(int id, int bitmapId) = 0;
    virtual void SetDefaultButton(int id) = 0;
    // Appends a separator and the item to the window's system menu.
    virtual void AppendSystemMenuItem(unsigned id, const std::string& text) = 0;
    virtual void AcceptFiles(bool accept) = 0;

    // Messages. PostCommand queues OnCommand(id, kNotifyClicked) (any thread).
    virtual void PostCommand(int id) = 0;
    // Dispatches one waiting message; with none waiting, waits up to timeoutMs for one
    // (or for WakeUp) and dispatches it. Returns true when a message was dispatched.
    virtual bool PumpMessage(unsigned timeoutMs) = 0;
    // Makes a waiting PumpMessage return early (any thread).
    virtual void WakeUp() = 0;

    // The downloads of the update run in progress, one entry per drive of the run, in
    // drive-list order: given on every pass of the run's wait loop and once more when all
    // have ended. A window that shows no progress ignores it.
    virtual void ShowProgress(const std::vector<DownloadProgress>& /*drives*/) {}
    // Position of progress bar control id, 0 to 100.
    virtual void SetProgressPos(int id, int percent) = 0;

    // Wait cursor: begin, restore after a message may have changed it, end.
    virtual void BeginWaitCursor() = 0;
    virtual void RestoreWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // A modal message box owned by this window; returns the answer (kAnswer...).
    virtual int ShowMessageBox(const std::string& text, const std::string& caption,
                               unsigned style) = 0;
    // A file-open request. filter uses the "Name|pattern|Name|pattern||" form.
    virtual std::optional<std::string> ChooseOpenFile(const std::string& title,
                                                      const std::string& filter) = 0;
};

// Makes the window of each modal run. parent is the window of the dialog that runs the
// new one modally (nullptr for the main dialog).
class IWindowFactory {
public:
    virtual ~IWindowFactory() = default;
    virtual std::shared_ptr<IDialogWindow> CreateDialogWindow(int templateId, IDialogEvents& events,
                                                              IDialogWindow* parent) = 0;
};
