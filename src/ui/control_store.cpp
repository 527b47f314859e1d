#include "ui/control_store.h"

#include <chrono>

CControlStore::CControlStore(int tmpl, IDialogEvents& events)
    : templateId(tmpl), m_events(events) {}

bool CControlStore::Open() {
    m_ended = false;
    result.reset();
    m_events.OnInitDialog();
    if (m_ended)
        return false;
    m_events.OnShowWindow();
    visible = m_events.OnWindowPosChanging(true);
    return true;
}

bool CControlStore::CloseUnanswered(bool* closeTried) {
    if (!*closeTried) {
        *closeTried = true;
        m_events.OnCommand(kIdCancel, kNotifyClicked);
        return true;
    }
    EndDialog(-1);
    return false;
}

void CControlStore::EndDialog(int value) {
    if (m_ended)
        return;
    m_ended = true;
    result = value;
}

bool CControlStore::DispatchOne() {
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

void CControlStore::SetItemText(int id, const std::string& text) {
    ControlState& c = controls[id];
    if (c.history.empty() || c.text != text)
        c.history.push_back(text);
    c.text = text;
    // An edit control reports every text change, also those made by the program.
    m_events.OnCommand(id, kNotifyEditChange);
}

std::string CControlStore::GetItemText(int id) {
    return controls[id].text;
}

void CControlStore::EnableItem(int id, bool enable) {
    controls[id].enabled = enable;
}

bool CControlStore::IsItemEnabled(int id) {
    return controls[id].enabled;
}

void CControlStore::ShowItem(int id, bool show) {
    controls[id].shown = show;
}

void CControlStore::SetCheck(int id, bool checked) {
    controls[id].checked = checked;
}

bool CControlStore::GetCheck(int id) {
    return controls[id].checked;
}

int CControlStore::ListAdd(int id, const std::string& text) {
    ListState& l = lists[id];
    l.entries.push_back(text);
    return static_cast<int>(l.entries.size()) - 1;
}

int CControlStore::ListInsert(int id, int index, const std::string& text) {
    ListState& l = lists[id];
    if (index < 0 || index > static_cast<int>(l.entries.size())) {
        index = static_cast<int>(l.entries.size());
    }
    l.entries.insert(l.entries.begin() + index, text);
    if (l.selection >= index)
        ++l.selection;
    return index;
}

void CControlStore::ListDelete(int id, int index) {
    ListState& l = lists[id];
    if (index < 0 || index >= static_cast<int>(l.entries.size()))
        return;
    l.entries.erase(l.entries.begin() + index);
    if (l.selection == index) {
        l.selection = -1;
    } else if (l.selection > index) {
        --l.selection;
    }
}

void CControlStore::ListReset(int id) {
    lists[id] = ListState();
}

std::string CControlStore::ListGetText(int id, int index) {
    ListState& l = lists[id];
    if (index < 0 || index >= static_cast<int>(l.entries.size()))
        return std::string();
    return l.entries[static_cast<size_t>(index)];
}

int CControlStore::ListGetCount(int id) {
    return static_cast<int>(lists[id].entries.size());
}

void CControlStore::ListSetSel(int id, int index) {
    ListState& l = lists[id];
    l.selection = (index >= 0 && index < static_cast<int>(l.entries.size())) ? index : -1;
}

int CControlStore::ListGetSel(int id) {
    return lists[id].selection;
}

void CControlStore::SetTitle(const std::string& text) {
    title = text;
}

void CControlStore::SetIcon(int iconId, bool big) {
    (big ? bigIcon : smallIcon) = iconId;
}

void CControlStore::SetButtonBitmap(int id, int bitmapId) {
    controls[id].bitmap = bitmapId;
}

void CControlStore::SetDefaultButton(int id) {
    defaultButton = id;
}

void CControlStore::AppendSystemMenuItem(unsigned id, const std::string& text) {
    systemMenu.emplace_back(id, text);
}

void CControlStore::AcceptFiles(bool accept) {
    acceptsFiles = accept;
}

void CControlStore::PostCommand(int id) {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.push_back(id);
    }
    m_queueSignal.notify_all();
}

bool CControlStore::PumpMessage(unsigned timeoutMs) {
    if (DispatchOne())
        return true;
    if (timeoutMs > 0) {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_queueSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return !m_queue.empty() || m_woken; });
        m_woken = false;
    }
    return DispatchOne();
}

void CControlStore::WakeUp() {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_woken = true;
    }
    m_queueSignal.notify_all();
}

void CControlStore::SetProgressPos(int id, int percent) {
    std::vector<int>& positions = controls[id].positions;
    if (positions.empty() || positions.back() != percent)
        positions.push_back(percent);
}

void CControlStore::BeginWaitCursor() {
    ++waitCursor;
}

void CControlStore::RestoreWaitCursor() {}

void CControlStore::EndWaitCursor() {
    if (waitCursor > 0)
        --waitCursor;
}

bool CControlStore::Click(int id) {
    const ControlState& c = controls[id];
    if (!c.enabled || !c.shown || !visible)
        return false;
    m_events.OnCommand(id, kNotifyClicked);
    return true;
}

void CControlStore::SelectEntry(int id, int index) {
    ListSetSel(id, index);
    m_events.OnCommand(id, kNotifySelChange);
}

void CControlStore::TypeText(int id, const std::string& text) {
    SetItemText(id, text);
}

void CControlStore::ToggleCheck(int id) {
    controls[id].checked = !controls[id].checked;
    m_events.OnCommand(id, kNotifyClicked);
}

void CControlStore::SysCommand(unsigned id) {
    m_events.OnSysCommand(id);
}

void CControlStore::DropFiles(const std::vector<std::string>& files) {
    m_events.OnDropFiles(files);
}
