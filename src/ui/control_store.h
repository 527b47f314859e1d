// The controls of a dialog window as plain state: texts (with the history of each), enable
// and show states, check boxes, list entries and selections, progress positions, the
// window's decoration, and its queue of posted commands. The common base of the console
// window and of the headless window of the tests; it draws nothing and asks nobody.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/dialog_window.h"

struct ControlState {
    std::string text;
    std::vector<std::string> history;  // every text that was set, in order, changes only
    bool enabled = true;
    bool shown = true;
    bool checked = false;
    int bitmap = 0;
    std::vector<int> positions;  // every progress bar position set, changes only
};

struct ListState {
    std::vector<std::string> entries;
    int selection = -1;
};

// RunModal, ShowMessageBox and ChooseOpenFile are left to the window that shows the state.
class CControlStore : public IDialogWindow {
public:
    CControlStore(int templateId, IDialogEvents& events);

    // IDialogWindow
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
    void SetProgressPos(int id, int percent) override;
    void BeginWaitCursor() override;
    void RestoreWaitCursor() override;
    void EndWaitCursor() override;

    // What a person does. A click on a disabled or hidden button, or on a window that is
    // not shown, does nothing, as on a screen: Click then returns false.
    bool Click(int id);
    void SelectEntry(int id, int index);
    void TypeText(int id, const std::string& text);
    void ToggleCheck(int id);
    void SysCommand(unsigned id);
    void DropFiles(const std::vector<std::string>& files);

    const ControlState& Control(int id) { return controls[id]; }
    const std::string& Text(int id) { return controls[id].text; }
    const std::vector<std::string>& Entries(int id) { return lists[id].entries; }

    // What the window holds.
    const int templateId;
    std::map<int, ControlState> controls;
    std::map<int, ListState> lists;
    std::string title;
    int bigIcon = 0;
    int smallIcon = 0;
    int defaultButton = 0;
    bool acceptsFiles = false;
    std::vector<std::pair<unsigned, std::string>> systemMenu;
    bool visible = false;  // shown on the screen now
    int waitCursor = 0;    // nesting depth of the wait cursor
    std::optional<int> result;

protected:
    // Begins a modal run: OnInitDialog, then, unless the dialog ended in it, the request
    // to show the window (OnShowWindow, OnWindowPosChanging), which decides `visible`.
    // True when the show was requested.
    bool Open();
    bool IsEnded() const { return m_ended; }
    // Dispatches one posted command; false when none is waiting.
    bool DispatchOne();
    // For a run that nobody can answer: the first call closes the dialog as its close box
    // would; a dialog that is still running at the next call is ended with -1, and that
    // call returns false.
    bool CloseUnanswered(bool* closeTried);

    IDialogEvents& m_events;

private:
    bool m_ended = false;
    std::mutex m_queueLock;
    std::condition_variable m_queueSignal;
    std::deque<int> m_queue;
    bool m_woken = false;
};
