#include "ui/console_window.h"

#include <algorithm>
#include <chrono>
#include <sstream>

#include "base/text.h"
#include "download/update_executer.h"
#include "ui/console_layout.h"

using namespace console;

namespace {

// Progress is shown again after this long without a change of state: a terminal is
// redrawn a few times a second; plain lines stay readable at about one a second (the
// wait loop reports every 100 ms, so lines come at most a second apart).
constexpr size_t kPlainBarWidth = 20;
constexpr uint64_t kTerminalProgressMs = 200;
constexpr uint64_t kPlainProgressMs = 900;

// Cursor home, then clear to the end of the screen after the drawing.
constexpr char kHome[] = "\x1b[H";
constexpr char kClearLine[] = "\x1b[K";
constexpr char kClearBelow[] = "\x1b[J";

// The first word of a drive-list entry: its letter ("D:") or address ("[0.1.0]").
std::string ShortLabel(const std::string& label) {
    const auto blank = label.find(' ');
    return blank == std::string::npos ? label : label.substr(0, blank);
}

bool SameState(const std::vector<DownloadProgress>& a, const std::vector<DownloadProgress>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].result != b[i].result || a[i].verified != b[i].verified ||
            a[i].label != b[i].label)
            return false;
    }
    return true;
}

bool SameProgress(const std::vector<DownloadProgress>& a, const std::vector<DownloadProgress>& b) {
    if (!SameState(a, b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].bytesSent != b[i].bytesSent || a[i].bytesTotal != b[i].bytesTotal)
            return false;
    }
    return true;
}

}  // namespace

std::string ProgressLine(const DownloadProgress& drive, size_t barWidth) {
    const uint64_t total = drive.bytesTotal;
    const uint64_t sent = std::min<uint64_t>(drive.bytesSent, total);
    const uint64_t percent = total == 0 ? 0 : sent * 100 / total;
    const size_t filled = total == 0 ? 0 : static_cast<size_t>(sent * barWidth / total);
    std::string line = Pad(ShortLabel(drive.label), 8) + "[" + std::string(filled, '#') +
                       std::string(barWidth - filled, '.') + "] ";
    const std::string number = std::to_string(percent);
    line += std::string(3 - std::min<size_t>(3, number.size()), ' ') + number + "%  " +
            std::to_string(sent) + "/" + std::to_string(total) + " bytes";
    switch (drive.result) {
        case ResultPending:
            if (total != 0 && sent == total)
                line += "  finishing";
            break;
        case ResultSucceeded:
            // The drive runs the new firmware, or takes it at its next start.
            line += drive.verified == 1   ? "  verified"
                    : drive.verified == 2 ? "  at restart"
                                          : "  done";
            break;
        case ResultSkipped:
            line += "  skipped";
            break;
        default:
            line += "  failed";
            break;
    }
    return line;
}

CConsoleWindow::CConsoleWindow(int tmpl, IDialogEvents& events, CConsoleWindow* owner,
                               std::istream& in, std::ostream& out, bool terminal, bool echo,
                               Clock clock, std::function<bool()> stop)
    : CControlStore(tmpl, events),
      m_pLayout(FindConsoleLayout(tmpl)),
      m_in(in),
      m_out(out),
      m_bTerminal(terminal),
      m_bEcho(echo),
      m_clock(std::move(clock)),
      m_stop(std::move(stop)),
      m_pParentConsole(owner) {}

uint64_t CConsoleWindow::Now() const {
    if (m_clock)
        return m_clock();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

int CConsoleWindow::RunModal() {
    if (m_pParentConsole != nullptr)
        ++m_pParentConsole->m_nChildren;
    Open();
    bool closeTried = false;
    while (!IsEnded()) {
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
        CloseUnanswered(&closeTried);  // nobody can answer
    }
    visible = false;
    if (m_pParentConsole != nullptr)
        --m_pParentConsole->m_nChildren;
    m_out.flush();
    return result.value_or(-1);
}

bool CConsoleWindow::ReadLine(std::string* line, const char* prompt) {
    m_out << prompt << std::flush;
    if (m_bInputEnded || (m_stop && m_stop()) || !std::getline(m_in, *line)) {
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

bool CConsoleWindow::CanDraw() const {
    return m_bTerminal && visible && m_nChildren == 0;
}

void CConsoleWindow::SetItemText(int id, const std::string& text) {
    const bool changed = controls[id].text != text;
    CControlStore::SetItemText(id, text);
    if (!changed || !visible)
        return;
    if (m_bTerminal) {
        m_bDirty = true;
        if (m_pLayout != nullptr && m_pLayout->DrawsAtOnce(id) && CanDraw())
            Draw({}, "");
        return;
    }
    const char* label = m_pLayout != nullptr ? m_pLayout->StatusLabel(id) : nullptr;
    if (label != nullptr && !text.empty())
        m_out << label << ": " << text << "\n" << std::flush;
}

void CConsoleWindow::EnableItem(int id, bool enable) {
    if (controls[id].enabled != enable)
        m_bDirty = true;
    CControlStore::EnableItem(id, enable);
}

bool CConsoleWindow::PumpMessage(unsigned timeoutMs) {
    const bool dispatched = CControlStore::PumpMessage(timeoutMs);
    if (m_bDirty && CanDraw())
        Draw({}, "");
    return dispatched;
}

void CConsoleWindow::ShowProgress(const std::vector<DownloadProgress>& drives) {
    m_progress = drives;
    if (!visible || drives.empty() || SameProgress(drives, m_shownProgress))
        return;
    const uint64_t now = Now();
    const uint64_t interval = m_bTerminal ? kTerminalProgressMs : kPlainProgressMs;
    // A drive that starts or ends is shown at once; bytes alone wait for the interval.
    if (SameState(drives, m_shownProgress) && now - m_nProgressShownAt < interval)
        return;
    m_shownProgress = drives;
    m_nProgressShownAt = now;
    if (m_bTerminal) {
        if (CanDraw())
            Draw({}, "");
        return;
    }
    for (const DownloadProgress& drive : drives)
        m_out << "Progress: " << ProgressLine(drive, kPlainBarWidth) << "\n";
    m_out << std::flush;
}

std::vector<std::string> CConsoleWindow::GenericLines() {
    std::vector<std::string> lines;
    lines.push_back("== " + (title.empty() ? "Dialog " + std::to_string(templateId) : title) +
                    " ==");
    for (const auto& [id, c] : controls) {
        if (!c.shown || lists.count(id) != 0 || (c.text.empty() && !c.checked))
            continue;
        lines.push_back("  [" + std::to_string(id) + "] " + (c.checked ? "[x] " : "") + c.text +
                        (c.enabled ? "" : " (disabled)"));
    }
    for (const auto& [id, list] : lists) {
        std::string head = "  [" + std::to_string(id) + "] list";
        if (controls.count(id) != 0 && !controls[id].text.empty())
            head += ", text: " + controls[id].text;
        lines.push_back(head);
        for (size_t i = 0; i < list.entries.size(); ++i) {
            lines.push_back((static_cast<int>(i) == list.selection ? "   >" : "    ") +
                            std::to_string(i + 1) + ") " + list.entries[i]);
        }
    }
    return lines;
}

std::string CConsoleWindow::KeyHelp() {
    if (m_pLayout != nullptr)
        return m_pLayout->KeyHelp(*this);
    return "Commands: c ID (click), s ID N (select), t ID TEXT (type), k ID (check)" +
           (defaultButton != 0 ? ", Enter: " + std::to_string(defaultButton) : "");
}

std::vector<std::string> CConsoleWindow::ScreenLines() {
    return m_pLayout != nullptr ? m_pLayout->Screen(*this) : GenericLines();
}

void CConsoleWindow::Draw(const std::vector<std::string>& extra, const std::string& footer) {
    m_bDirty = false;
    std::vector<std::string> lines;
    // A child (message or about box) is drawn below its parent's screen.
    if (m_pParentConsole != nullptr && m_pParentConsole->visible) {
        lines = m_pParentConsole->ScreenLines();
        lines.emplace_back();
    }
    if (visible || extra.empty()) {
        for (const std::string& line : ScreenLines())
            lines.push_back(line);
    }
    for (const std::string& line : extra)
        lines.push_back(line);
    m_out << kHome;
    for (const std::string& line : lines)
        m_out << line << kClearLine << "\n";
    if (!footer.empty())
        m_out << footer << kClearLine << "\n";
    m_out << kClearBelow << std::flush;
}

void CConsoleWindow::Render() {
    if (m_bTerminal) {
        Draw({}, KeyHelp());
        return;
    }
    m_out << "\n";
    for (const std::string& line : ScreenLines())
        m_out << line << "\n";
    const std::string help = KeyHelp();
    if (!help.empty())
        m_out << help << "\n";
    m_out << std::flush;
}

bool CConsoleWindow::Interpret(const std::string& raw) {
    const std::string line = Trim(raw);
    if (m_pLayout != nullptr && m_pLayout->Interpret(*this, line))
        return true;
    if (line.empty()) {
        if (defaultButton == 0)
            return true;
        Click(defaultButton);
        return true;
    }

    std::istringstream words(line);
    std::string command;
    int id = 0;
    int number = 0;
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
    std::string kind;
    if ((style & 0xF0) == kMbIconError)
        kind = "Error: ";
    if ((style & 0xF0) == kMbIconWarning)
        kind = "Warning: ";
    std::vector<std::string> lines = Wrap(kind + text, kScreenWidth);
    const unsigned buttons = style & 0x0F;
    const bool yesNo = buttons == kMbYesNo;
    const bool okCancel = buttons == kMbOkCancel;
    const size_t width = BoxWidth(caption, lines);
    lines.emplace_back();
    lines.push_back(Centered(yesNo      ? "[ Yes ]  [ No ]"
                             : okCancel ? "[ OK ]  [ Cancel ]"
                                        : "[ OK ]",
                             width));
    const std::vector<std::string> box = Frame(caption, lines, width);
    const char* question = yesNo ? "(y/n) " : okCancel ? "(Enter: OK, c: Cancel) " : "[Enter] OK ";

    if (m_bTerminal) {
        Draw(box, "");
    } else {
        m_out << "\n";
        for (const std::string& line : box)
            m_out << line << "\n";
        // Plain output: a box with only OK does not wait, so that scripts need not answer.
        if (!yesNo && !okCancel) {
            m_out << std::flush;
            return kAnswerOk;
        }
    }
    std::string line;
    if (!ReadLine(&line, question))
        return yesNo ? kAnswerNo : okCancel ? kAnswerCancel : kAnswerOk;
    line = Trim(line);
    m_bDirty = true;
    if (yesNo)
        return (line == "y" || line == "Y") ? kAnswerYes : kAnswerNo;
    if (okCancel)
        return line.empty() ? kAnswerOk : kAnswerCancel;
    return kAnswerOk;
}

std::optional<std::string> CConsoleWindow::ChooseOpenFile(const std::string& dialogTitle,
                                                          const std::string&) {
    m_out << "\n" << dialogTitle << " (empty line cancels)\n" << std::flush;
    std::string line;
    if (!ReadLine(&line))
        return std::nullopt;
    line = Trim(line);
    if (line.empty())
        return std::nullopt;
    return line;
}

CConsoleWindowFactory::CConsoleWindowFactory(std::istream& in, std::ostream& out, bool terminal,
                                             bool echo, CConsoleWindow::Clock clock)
    : m_in(in), m_out(out), m_bTerminal(terminal), m_bEcho(echo), m_clock(std::move(clock)) {}

std::shared_ptr<IDialogWindow> CConsoleWindowFactory::CreateDialogWindow(int templateId,
                                                                         IDialogEvents& events,
                                                                         IDialogWindow* parent) {
    return std::make_shared<CConsoleWindow>(templateId, events,
                                            dynamic_cast<CConsoleWindow*>(parent), m_in, m_out,
                                            m_bTerminal, m_bEcho, m_clock, m_stop);
}
