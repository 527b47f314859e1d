// Headless dialog windows: no screen, everything a person would see is recorded
// (control texts and their history, list entries, enable states, message boxes, modal
// children, the end result). Tests drive a dialog with steps that act like a person
// (Click, SelectEntry, TypeText, ...) and run when the dialog waits for input.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/control_store.h"

struct HeadlessMessageBox {
    std::string text;
    std::string caption;
    unsigned style = 0;
};

class CHeadlessWindow : public CControlStore {
public:
    using Step = std::function<void(CHeadlessWindow&)>;

    CHeadlessWindow(int templateId, IDialogEvents& events, CHeadlessWindow* parent);

    // IDialogWindow
    int RunModal() override;
    bool PumpMessage(unsigned timeoutMs) override;
    void ShowProgress(const std::vector<DownloadProgress>& drives) override;
    void BeginWaitCursor() override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned style) override;
    std::optional<std::string> ChooseOpenFile(const std::string& title,
                                              const std::string& filter) override;

    // A click as a person makes it (call from steps); one that the window refuses (a
    // disabled or hidden button) sets clickedDisabled.
    void Click(int id);

    CHeadlessWindow* const parent;
    std::vector<HeadlessMessageBox> messageBoxes;
    bool everShown = false;  // was visible at some time
    bool showRequested = false;
    // Every progress report of the update runs, in order.
    std::vector<std::vector<DownloadProgress>> progress;
    bool waitCursorSeen = false;
    bool clickedDisabled = false;  // a step clicked a button that was disabled
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
