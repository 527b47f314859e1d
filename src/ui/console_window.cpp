#include "ui/console_window.h"

#include <cctype>
#include <sstream>

#include "ui/about_dlg.h"
#include "ui/message_dlg.h"
#include "ui/varnel_dlg.h"

namespace {

std::string Trim(const std::string& text) {
    size_t b = 0;
    size_t e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    return text.substr(b, e - b);
}

bool ParseNumber(const std::string& text, int* value) {
    if (text.empty() || text.size() > 6)
        return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    *value = n;
    return true;
}

}  // namespace

CConsoleWindow::CConsoleWindow(int tmpl, IDialogEvents& events, CHeadlessWindow* owner,
                               std::istream& in, std::ostream& out, bool terminal, bool echo)
    : CHeadlessWindow(tmpl, events, owner),
      m_in(in),
      m_out(out),
      m_bTerminal(terminal),
      m_bEcho(echo) {}

int CConsoleWindow::RunModal() {
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
        std::string line;
        if (visible && !m_bInputEnded) {
            Render();
            if (ReadLine(&line)) {
                if (!Interpret(line))
                    m_out << "?\n";
                closeTried = false;
                continue;
            }
        }
        // Nobody can answer: close the dialog as its close box would.
        if (!closeTried) {
            closeTried = true;
            m_events.OnCommand(kIdCancel, kNotifyClicked);
            continue;
        }
        stuck = true;
        EndDialog(-1);
    }
    visible = false;
    m_out.flush();
    return result.value_or(-1);
}

bool CConsoleWindow::ReadLine(std::string* line) {
    m_out << "> " << std::flush;
    if (!std::getline(m_in, *line)) {
        m_bInputEnded = true;
        m_out << "\n";
        return false;
    }
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    if (m_bEcho)
        m_out << *line << "\n";
    return true;
}

const char* CConsoleWindow::StatusLabel(int id) const {
    if (templateId == IDD_VARNEL) {
        switch (id) {
            case IDC_MESSAGE_AREA:
                return "Message";
            case IDC_CUR_VERSION:
                return "Current version";
            case IDC_UPDATE_CAPTION:
                return "Button";
            default:
                break;
        }
    }
    return nullptr;
}

void CConsoleWindow::SetItemText(int id, const std::string& text) {
    const bool changed = controls[id].text != text;
    CHeadlessWindow::SetItemText(id, text);
    const char* label = StatusLabel(id);
    if (changed && visible && label != nullptr && !text.empty()) {
        m_out << label << ": " << text << "\n" << std::flush;
    }
}

void CConsoleWindow::Render() {
    m_out << "\n";
    if (templateId == IDD_VARNEL) {
        m_out << "== " << (title.empty() ? "Varnel" : title) << " ==\n";
        m_out << Text(IDC_HEADLINE) << "\n" << Text(IDC_INSTRUCTION) << "\n";
        const HeadlessList& list = lists[IDC_DRIVE_LIST];
        for (size_t i = 0; i < list.entries.size(); ++i) {
            m_out << (static_cast<int>(i) == list.selection ? " >" : "  ") << (i + 1) << ") "
                  << list.entries[i] << "\n";
        }
        m_out << Text(IDC_CUR_LABEL) << ": " << Text(IDC_CUR_VERSION) << "    "
              << Text(IDC_NEW_LABEL) << ": " << Text(IDC_NEW_VERSION) << "\n";
        m_out << Text(IDC_MESSAGE_AREA) << "\n";
        const bool canUpdate = Control(IDC_UPDATE).enabled;
        const bool canExit = Control(kIdCancel).enabled;
        m_out << (canUpdate ? "[u] " : "( ) ") << Text(IDC_UPDATE_CAPTION) << "   "
              << (canExit ? "[x] " : "( ) ") << Text(IDC_EXIT_CAPTION);
        if (!list.entries.empty())
            m_out << "   [1-" << list.entries.size() << "] choose a drive";
        m_out << "\n";
    } else if (templateId == IDD_MESSAGE) {
        m_out << "== " << (title.empty() ? "Varnel" : title) << " ==\n"
              << Text(IDC_MESSAGE_TEXT) << "\n[Enter] OK\n";
    } else if (templateId == IDD_ABOUT) {
        m_out << "== About Varnel ==\n" << kAboutVersionLine << "\n";
        if (Control(IDC_COPYRIGHT).shown)
            m_out << Text(IDC_COPYRIGHT) << "\n";
        m_out << "[Enter] OK\n";
    } else {
        RenderGeneric();
    }
    m_out << std::flush;
}

void CConsoleWindow::RenderGeneric() {
    m_out << "== " << (title.empty() ? "Dialog " + std::to_string(templateId) : title) << " ==\n";
    for (const auto& [id, c] : controls) {
        if (!c.shown)
            continue;
        if (lists.count(id) != 0)
            continue;
        if (c.text.empty() && !c.checked)
            continue;
        m_out << "  [" << id << "] " << (c.checked ? "[x] " : "") << c.text
              << (c.enabled ? "" : " (disabled)") << "\n";
    }
    for (const auto& [id, list] : lists) {
        m_out << "  [" << id << "] list";
        if (controls.count(id) != 0 && !controls[id].text.empty()) {
            m_out << ", text: " << controls[id].text;
        }
        m_out << "\n";
        for (size_t i = 0; i < list.entries.size(); ++i) {
            m_out << (static_cast<int>(i) == list.selection ? "   >" : "    ") << (i + 1) << ") "
                  << list.entries[i] << "\n";
        }
    }
    m_out << "Commands: c ID (click), s ID N (select), t ID TEXT (type), k ID (check)";
    if (defaultButton != 0)
        m_out << ", Enter: " << defaultButton;
    m_out << "\n";
}

bool CConsoleWindow::Interpret(const std::string& raw) {
    const std::string line = Trim(raw);
    int number = 0;
    if (templateId == IDD_VARNEL) {
        if (ParseNumber(line, &number)) {
            if (number < 1 || number > ListGetCount(IDC_DRIVE_LIST))
                return false;
            SelectEntry(IDC_DRIVE_LIST, number - 1);
            return true;
        }
        if (line == "u" || line == "U") {
            Click(IDC_UPDATE);
            return true;
        }
        if (line == "x" || line == "X" || line == "q" || line == "Q") {
            Click(kIdCancel);
            return true;
        }
        if (line == "a" || line == "A") {
            SysCommand(IDM_ABOUTBOX);
            return true;
        }
    } else if ((templateId == IDD_MESSAGE || templateId == IDD_ABOUT) && line.empty()) {
        Click(kIdOk);
        return true;
    }
    if (line.empty()) {
        if (defaultButton == 0)
            return true;
        Click(defaultButton);
        return true;
    }

    std::istringstream words(line);
    std::string command;
    int id = 0;
    words >> command >> id;
    if (!words)
        return false;
    if (command == "c") {
        Click(id);
        return true;
    }
    if (command == "k") {
        ToggleCheck(id);
        return true;
    }
    if (command == "s") {
        if (!(words >> number) || number < 1 || number > ListGetCount(id))
            return false;
        SelectEntry(id, number - 1);
        return true;
    }
    if (command == "t") {
        std::string text;
        std::getline(words, text);
        if (!text.empty() && text[0] == ' ')
            text.erase(0, 1);
        TypeText(id, text);
        return true;
    }
    return false;
}

int CConsoleWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                   unsigned style) {
    messageBoxes.push_back({text, caption, style});
    const char* kind = "";
    if ((style & 0xF0) == kMbIconError)
        kind = "Error: ";
    if ((style & 0xF0) == kMbIconWarning)
        kind = "Warning: ";
    m_out << "\n[" << caption << "] " << kind << text << "\n";
    const unsigned buttons = style & 0x0F;
    if (buttons != kMbYesNo && buttons != kMbOkCancel) {
        m_out << std::flush;
        return kAnswerOk;
    }
    const bool yesNo = buttons == kMbYesNo;
    m_out << (yesNo ? "(y/n)" : "(Enter: OK, c: Cancel)") << " " << std::flush;
    std::string line;
    if (m_bInputEnded || !std::getline(m_in, line)) {
        m_bInputEnded = true;
        return yesNo ? kAnswerNo : kAnswerCancel;
    }
    line = Trim(line);
    if (yesNo)
        return (line == "y" || line == "Y") ? kAnswerYes : kAnswerNo;
    return line.empty() ? kAnswerOk : kAnswerCancel;
}

std::optional<std::string> CConsoleWindow::ChooseOpenFile(const std::string& dialogTitle,
                                                          const std::string&) {
    m_out << "\n" << dialogTitle << " (empty line cancels)\n" << std::flush;
    std::string line;
    if (m_bInputEnded || !ReadLine(&line))
        return std::nullopt;
    line = Trim(line);
    if (line.empty())
        return std::nullopt;
    return line;
}

CConsoleWindowFactory::CConsoleWindowFactory(std::istream& in, std::ostream& out, bool terminal,
                                             bool echo)
    : m_in(in), m_out(out), m_bTerminal(terminal), m_bEcho(echo) {}

std::shared_ptr<IDialogWindow> CConsoleWindowFactory::CreateDialogWindow(int templateId,
                                                                         IDialogEvents& events,
                                                                         IDialogWindow* parent) {
    return std::make_shared<CConsoleWindow>(templateId, events,
                                            dynamic_cast<CHeadlessWindow*>(parent), m_in, m_out,
                                            m_bTerminal, m_bEcho);
}
