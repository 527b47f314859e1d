#include "ui/headless_window.h"

#include <chrono>

CHeadlessWindow::CHeadlessWindow(int tmpl, IDialogEvents& events, CHeadlessWindow* owner)
    : templateId(tmpl), parent(owner), m_events(events) {}

int CHeadlessWindow::RunModal() {
    m_bEnded = false;
    result.reset();
    m_events.OnInitDialog();
    if (!m_bEnded) {
        showRequested = true;
        m_events.OnShowWindow();
        visible = m_events.OnWindowPosChanging(true);
        everShown = everShown || visible;
    }
    bool closeTried = false;
    while (!m_bEnded) {
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
        if (!closeTried) {
            closeTried = true;
            m_events.OnCommand(kIdCancel, kNotifyClicked);
            continue;
        }
        stuck = true;
        EndDialog(-1);
    }
    visible = false;
    return result.value_or(-1);
}

void CHeadlessWindow::EndDialog(int value) {
    if (m_bEnded)
        return;
    m_bEnded = true;
    result = value;
}

bool CHeadlessWindow::DispatchOne() {
    int id = 0;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_queue.empty())
            return false;
        id = m_queue.front();
        m_queue.pop_front();
    }
    m_events.OnCommand(id, kNotifyClicked);
    return true;
}

void CHeadlessWindow::SetItemText(int id, const std::string& text) {
    HeadlessControl& c = controls[id];
    if (c.history.empty() || c.text != text)
        c.history.push_back(text);
    c.text = text;
    // An edit control reports every text change, also those made by the program.
    m_events.OnCommand(id, kNotifyEditChange);
}

std::string CHeadlessWindow::GetItemText(int id) {
    return controls[id].text;
}

void CHeadlessWindow::EnableItem(int id, bool enable) {
    controls[id].enabled = enable;
}

bool CHeadlessWindow::IsItemEnabled(int id) {
    return controls[id].enabled;
}

void CHeadlessWindow::ShowItem(int id, bool show) {
    controls[id].shown = show;
}

void CHeadlessWindow::SetCheck(int id, bool checked) {
    controls[id].checked = checked;
}

bool CHeadlessWindow::GetCheck(int id) {
    return controls[id].checked;
}

int CHeadlessWindow::ListAdd(int id, const std::string& text) {
    HeadlessList& l = lists[id];
    l.entries.push_back(text);
    return static_cast<int>(l.entries.size()) - 1;
}

int CHeadlessWindow::ListInsert(int id, int index, const std::string& text) {
    HeadlessList& l = lists[id];
    if (index < 0 || index > static_cast<int>(l.entries.size())) {
        index = static_cast<int>(l.entries.size());
    }
    l.entries.insert(l.entries.begin() + index, text);
    if (l.selection >= index)
        ++l.selection;
    return index;
}

void CHeadlessWindow::ListDelete(int id, int index) {
    HeadlessList& l = lists[id];
    if (index < 0 || index >= static_cast<int>(l.entries.size()))
        return;
    l.entries.erase(l.entries.begin() + index);
    if (l.selection == index) {
        l.selection = -1;
    } else if (l.selection > index) {
        --l.selection;
    }
}

void CHeadlessWindow::ListReset(int id) {
    lists[id] = HeadlessList();
}

std::string CHeadlessWindow::ListGetText(int id, int index) {
    HeadlessList& l = lists[id];
    if (index < 0 || index >= static_cast<int>(l.entries.size()))
        return std::string();
    return l.entries[static_cast<size_t>(index)];
}

int CHeadlessWindow::ListGetCount(int id) {
    return static_cast<int>(lists[id].entries.size());
}

void CHeadlessWindow::ListSetSel(int id, int index) {
    HeadlessList& l = lists[id];
    l.selection = (index >= 0 && index < static_cast<int>(l.entries.size())) ? index : -1;
}

int CHeadlessWindow::ListGetSel(int id) {
    return lists[id].selection;
}

void CHeadlessWindow::SetTitle(const std::string& text) {
    title = text;
}

void CHeadlessWindow::SetIcon(int iconId, bool big) {
    (big ? bigIcon : smallIcon) = iconId;
}

void CHeadlessWindow::SetButtonBitmap(int id, int bitmapId) {
    controls[id].bitmap = bitmapId;
}

void CHeadlessWindow::SetDefaultButton(int id) {
    defaultButton = id;
}

void CHeadlessWindow::AppendSystemMenuItem(unsigned id, const std::string& text) {
    systemMenu.emplace_back(id, text);
}

void CHeadlessWindow::AcceptFiles(bool accept) {
    acceptsFiles = accept;
}

void CHeadlessWindow::PostCommand(int id) {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.push_back(id);
    }
    m_queueSignal.notify_all();
}

bool CHeadlessWindow::PumpMessage(unsigned timeoutMs) {
    ++pumpCalls;
    if (onPump)
        onPump(*this);
    if (DispatchOne())
        return true;
    if (timeoutMs > 0) {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_queueSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return !m_queue.empty() || m_bWoken; });
        m_bWoken = false;
    }
    return DispatchOne();
}

void CHeadlessWindow::WakeUp() {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_bWoken = true;
    }
    m_queueSignal.notify_all();
}

void CHeadlessWindow::ShowProgress(const std::vector<DownloadProgress>& drives) {
    progress.push_back(drives);
}

void CHeadlessWindow::SetProgressPos(int id, int percent) {
    std::vector<int>& positions = controls[id].positions;
    if (positions.empty() || positions.back() != percent)
        positions.push_back(percent);
}

void CHeadlessWindow::BeginWaitCursor() {
    ++waitCursor;
    waitCursorSeen = true;
}

void CHeadlessWindow::RestoreWaitCursor() {}

void CHeadlessWindow::EndWaitCursor() {
    if (waitCursor > 0)
        --waitCursor;
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
    const HeadlessControl& c = controls[id];
    if (!c.enabled || !c.shown || !visible) {
        clickedDisabled = true;
        return;
    }
    m_events.OnCommand(id, kNotifyClicked);
}

void CHeadlessWindow::SelectEntry(int id, int index) {
    ListSetSel(id, index);
    m_events.OnCommand(id, kNotifySelChange);
}

void CHeadlessWindow::TypeText(int id, const std::string& text) {
    SetItemText(id, text);
}

void CHeadlessWindow::ToggleCheck(int id) {
    controls[id].checked = !controls[id].checked;
    m_events.OnCommand(id, kNotifyClicked);
}

void CHeadlessWindow::SysCommand(unsigned id) {
    m_events.OnSysCommand(id);
}

void CHeadlessWindow::DropFiles(const std::vector<std::string>& files) {
    m_events.OnDropFiles(files);
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
