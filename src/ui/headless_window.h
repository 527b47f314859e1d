// Headless dialog windows: no screen, everything a person would see is recorded
// (control texts and their history, list entries, enable states, message boxes, modal
// children, the end result). Tests drive a dialog with steps that act like a person
// (Click, SelectEntry, TypeText, ...) and run when the dialog waits for input.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/dialog_window.h"

class CHeadlessWindowFactory;

struct HeadlessControl {
    std::string text;
    std::vector<std::string> history;  // every text that was set, in order, changes only
    bool enabled = true;
    bool shown = true;
    bool checked = false;
    int bitmap = 0;
    std::vector<int> positions;  // every progress bar position set, changes only
};

struct HeadlessList {
    std::vector<std::string> entries;
    int selection = -1;
};

struct HeadlessMessageBox {
    std::string text;
    std::string caption;
    unsigned style = 0;
};

class CHeadlessWindow : public IDialogWindow {
public:
    using Step = std::function<void(CHeadlessWindow&)>;

    CHeadlessWindow(int templateId, IDialogEvents& events, CHeadlessWindow* parent);

    // IDialogWindow
    int RunModal() override;
    void EndDialog(int result) override;
    void SetItemText(int id, const std::string& text) override;
    std::string GetItemText(int id) override;
    void EnableItem(int id, bool enable) override;
    bool IsItemEnabled(int id) override;
    void ShowItem(int id, bool show) override;
    void SetCheck(int id, bool checked) override;
    bool GetCheck(int id) override;
    int ListAdd(int id, const std::string& text) override;
    int ListInsert(int id, int index, const std::string& text) override;
    void ListDelete(int id, int index) override;
    void ListReset(int id) override;
    std::string ListGetText(int id, int index) override;
    int ListGetCount(int id) override;
    void ListSetSel(int id, int index) override;
    int ListGetSel(int id) override;
    void SetTitle(const std::string& title) override;
    void SetIcon(int iconId, bool big) override;
    void SetButtonBitmap(int id, int bitmapId) override;
    void SetDefaultButton(int id) override;
    void AppendSystemMenuItem(unsigned id, const std::string& text) override;
    void AcceptFiles(bool accept) override;
    void PostCommand(int id) override;
    bool PumpMessage(unsigned timeoutMs) override;
    void WakeUp() override;
    void ShowProgress(const std::vector<DownloadProgress>& drives) override;
    void SetProgressPos(int id, int percent) override;
    void BeginWaitCursor() override;
    void RestoreWaitCursor() override;
    void EndWaitCursor() override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned style) override;
    std::optional<std::string> ChooseOpenFile(const std::string& title,
                                              const std::string& filter) override;

    // What a person does (call from steps, i.e. inside the modal run). A click on a
    // disabled or hidden button does nothing, as on a screen.
    void Click(int id);
    void SelectEntry(int id, int index);
    void TypeText(int id, const std::string& text);
    void ToggleCheck(int id);
    void SysCommand(unsigned id);
    void DropFiles(const std::vector<std::string>& files);

    // What a person sees.
    const int templateId;
    CHeadlessWindow* const parent;
    std::map<int, HeadlessControl> controls;
    std::map<int, HeadlessList> lists;
    std::string title;
    int bigIcon = 0;
    int smallIcon = 0;
    int defaultButton = 0;
    bool acceptsFiles = false;
    std::vector<std::pair<unsigned, std::string>> systemMenu;
    std::vector<HeadlessMessageBox> messageBoxes;
    bool visible = false;    // shown on the screen now
    bool everShown = false;  // was visible at some time
    bool showRequested = false;
    // Every progress report of the update runs, in order.
    std::vector<std::vector<DownloadProgress>> progress;
    int waitCursor = 0;  // nesting depth of the wait cursor
    bool waitCursorSeen = false;
    bool clickedDisabled = false;  // a step clicked a button that was disabled
    std::optional<int> result;
    // The run waited for a person while invisible (nobody could have answered), or a
    // visible run did not end when closed; it was then ended with -1.
    bool stuckHidden = false;
    bool stuck = false;

    // Scripted answers; when empty, message boxes answer OK/Yes and file-open cancels.
    std::deque<int> messageBoxAnswers;
    std::deque<std::optional<std::string>> openFileAnswers;
    // Run one by one whenever the dialog waits for input; when none is left a visible
    // window is closed (command 2), as a person would close it.
    std::deque<Step> steps;
    // Called on every PumpMessage (a long operation keeping the window alive).
    Step onPump;
    int pumpCalls = 0;

    const HeadlessControl& Control(int id) { return controls[id]; }
    const std::string& Text(int id) { return controls[id].text; }
    const std::vector<std::string>& Entries(int id) { return lists[id].entries; }

protected:
    // Dispatches one posted command; false when none is waiting.
    bool DispatchOne();

    IDialogEvents& m_events;
    bool m_bEnded = false;

private:
    std::mutex m_queueLock;
    std::condition_variable m_queueSignal;
    std::deque<int> m_queue;
    bool m_bWoken = false;
};

class CHeadlessWindowFactory : public IWindowFactory {
public:
    std::shared_ptr<IDialogWindow> CreateDialogWindow(int templateId, IDialogEvents& events,
                                                      IDialogWindow* parent) override;

    // Every window made, in order of creation (they stay readable after their run).
    std::vector<std::shared_ptr<CHeadlessWindow>> windows;
    // Called for each new window before its run starts (to queue steps or answers).
    std::function<void(CHeadlessWindow&)> onCreate;
    // Steps queued for the next window of a template.
    std::map<int, std::deque<CHeadlessWindow::Step>> scripts;

    // The nth window of a template (nullptr when there is none).
    CHeadlessWindow* Find(int templateId, int nth = 0);
    int Count(int templateId) const;
};
