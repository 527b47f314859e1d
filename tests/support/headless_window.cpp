#include "support/headless_window.h"

CHeadlessWindow::CHeadlessWindow(int tmpl, IDialogEvents& events, CHeadlessWindow* owner)
    : CControlStore(tmpl, events), parent(owner) {}

int CHeadlessWindow::RunModal() {
    showRequested = Open();
    everShown = everShown || visible;
    bool closeTried = false;
    while (!IsEnded()) {
        if (DispatchOne())
            continue;
        if (!steps.empty()) {
            Step step = std::move(steps.front());
            steps.pop_front();
            step(*this);
            closeTried = false;
            continue;
        }
        if (!visible) {
            stuckHidden = true;
            EndDialog(-1);
            break;
        }
        if (!CloseUnanswered(&closeTried))
            stuck = true;
    }
    visible = false;
    return result.value_or(-1);
}

bool CHeadlessWindow::PumpMessage(unsigned timeoutMs) {
    ++pumpCalls;
    if (onPump)
        onPump(*this);
    return CControlStore::PumpMessage(timeoutMs);
}

void CHeadlessWindow::ShowProgress(const std::vector<DownloadProgress>& drives) {
    progress.push_back(drives);
}

void CHeadlessWindow::BeginWaitCursor() {
    CControlStore::BeginWaitCursor();
    waitCursorSeen = true;
}

int CHeadlessWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                    unsigned style) {
    messageBoxes.push_back({text, caption, style});
    if (!messageBoxAnswers.empty()) {
        const int answer = messageBoxAnswers.front();
        messageBoxAnswers.pop_front();
        return answer;
    }
    return (style & 0x0F) == kMbYesNo ? kAnswerYes : kAnswerOk;
}

std::optional<std::string> CHeadlessWindow::ChooseOpenFile(const std::string&, const std::string&) {
    if (openFileAnswers.empty())
        return std::nullopt;
    std::optional<std::string> answer = openFileAnswers.front();
    openFileAnswers.pop_front();
    return answer;
}

void CHeadlessWindow::Click(int id) {
    if (!CControlStore::Click(id))
        clickedDisabled = true;
}

std::shared_ptr<IDialogWindow> CHeadlessWindowFactory::CreateDialogWindow(int templateId,
                                                                          IDialogEvents& events,
                                                                          IDialogWindow* parent) {
    auto window = std::make_shared<CHeadlessWindow>(templateId, events,
                                                    dynamic_cast<CHeadlessWindow*>(parent));
    auto script = scripts.find(templateId);
    if (script != scripts.end()) {
        window->steps = std::move(script->second);
        scripts.erase(script);
    }
    if (onCreate)
        onCreate(*window);
    windows.push_back(window);
    return window;
}

CHeadlessWindow* CHeadlessWindowFactory::Find(int templateId, int nth) {
    for (const auto& w : windows) {
        if (w->templateId == templateId && nth-- == 0)
            return w.get();
    }
    return nullptr;
}

int CHeadlessWindowFactory::Count(int templateId) const {
    int n = 0;
    for (const auto& w : windows) {
        if (w->templateId == templateId)
            ++n;
    }
    return n;
}
