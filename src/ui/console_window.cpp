#include "ui/console_window.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <sstream>

#include "download/update_executer.h"
#include "ui/about_dlg.h"
#include "ui/mainte_dlg.h"
#include "ui/message_dlg.h"
#include "ui/varnel_dlg.h"

namespace {

// Inner width of a framed terminal screen and the widest message box.
// A frame adds four columns: the screen fits a terminal of 80 columns.
constexpr size_t kScreenWidth = 74;
constexpr size_t kBarWidth = 22;
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

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Splits text into lines of at most width bytes: at line breaks, then at blanks; a word
// longer than a line is cut.
std::vector<std::string> Wrap(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::string paragraph;
    std::istringstream source(text);
    while (std::getline(source, paragraph)) {
        paragraph.erase(std::remove(paragraph.begin(), paragraph.end(), '\r'), paragraph.end());
        if (paragraph.size() <= width) {
            lines.push_back(paragraph);
            continue;
        }
        std::string line;
        std::istringstream words(paragraph);
        std::string word;
        const size_t indent = paragraph.find_first_not_of(' ');
        if (indent != std::string::npos && indent < width / 2)
            line = std::string(indent, ' ');
        while (words >> word) {
            while (word.size() > width) {
                if (!Trim(line).empty()) {
                    lines.push_back(line);
                    line.clear();
                }
                lines.push_back(word.substr(0, width));
                word.erase(0, width);
            }
            if (Trim(line).empty()) {
                line += word;
            } else if (line.size() + 1 + word.size() <= width) {
                line += " " + word;
            } else {
                lines.push_back(line);
                line = word;
            }
        }
        lines.push_back(line);
    }
    if (lines.empty())
        lines.emplace_back();
    return lines;
}

// "+- title ----+", "| line |" rows (lines wrapped to width), "+----+".
std::vector<std::string> Frame(const std::string& title, const std::vector<std::string>& lines,
                               size_t width) {
    std::vector<std::string> out;
    std::string top = "+-";
    if (!title.empty())
        top += " " + title + " ";
    top += std::string(width + 3 > top.size() ? width + 3 - top.size() : 1, '-') + "+";
    out.push_back(top);
    for (const std::string& line : lines) {
        for (const std::string& row : Wrap(line, width))
            out.push_back("| " + Pad(row, width) + " |");
    }
    out.push_back("+" + std::string(width + 2, '-') + "+");
    return out;
}

// Width for a box around lines: the longest line, within a title's and the screen's.
size_t BoxWidth(const std::string& title, const std::vector<std::string>& lines) {
    size_t width = std::max<size_t>(title.size() + 4, 24);
    for (const std::string& line : lines) {
        for (const std::string& row : Wrap(line, kScreenWidth))
            width = std::max(width, row.size());
    }
    return std::min(width, kScreenWidth);
}

std::string Centered(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string((width - text.size()) / 2, ' ') + text;
}

// The first word of a drive-list entry: its letter ("D:") or address ("[0.1.0]").
std::string ShortLabel(const std::string& label) {
    const auto blank = label.find(' ');
    return blank == std::string::npos ? label : label.substr(0, blank);
}

bool SameState(const std::vector<DownloadProgress>& a, const std::vector<DownloadProgress>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].result != b[i].result || a[i].label != b[i].label)
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
            line += "  done";
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

CConsoleWindow::CConsoleWindow(int tmpl, IDialogEvents& events, CHeadlessWindow* owner,
                               std::istream& in, std::ostream& out, bool terminal, bool echo,
                               Clock clock, std::function<bool()> stop)
    : CHeadlessWindow(tmpl, events, owner),
      m_in(in),
      m_out(out),
      m_bTerminal(terminal),
      m_bEcho(echo),
      m_clock(std::move(clock)),
      m_stop(std::move(stop)),
      m_pParentConsole(dynamic_cast<CConsoleWindow*>(owner)) {}

uint64_t CConsoleWindow::Now() const {
    if (m_clock)
        return m_clock();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

int CConsoleWindow::RunModal() {
    m_bEnded = false;
    result.reset();
    if (m_pParentConsole != nullptr)
        ++m_pParentConsole->m_nChildren;
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

bool CConsoleWindow::CanDraw() const {
    return m_bTerminal && visible && m_nChildren == 0;
}

void CConsoleWindow::SetItemText(int id, const std::string& text) {
    const bool changed = controls[id].text != text;
    CHeadlessWindow::SetItemText(id, text);
    if (!changed || !visible)
        return;
    if (m_bTerminal) {
        m_bDirty = true;
        // The message area tells what happens now (a run, a restart): show it at once.
        if (templateId == IDD_VARNEL && id == IDC_MESSAGE_AREA && CanDraw())
            Draw({}, "");
        return;
    }
    const char* label = StatusLabel(id);
    if (label != nullptr && !text.empty())
        m_out << label << ": " << text << "\n" << std::flush;
}

void CConsoleWindow::EnableItem(int id, bool enable) {
    if (controls[id].enabled != enable)
        m_bDirty = true;
    CHeadlessWindow::EnableItem(id, enable);
}

bool CConsoleWindow::PumpMessage(unsigned timeoutMs) {
    const bool dispatched = CHeadlessWindow::PumpMessage(timeoutMs);
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

std::vector<std::string> CConsoleWindow::UpdaterLines() {
    std::vector<std::string> lines;
    lines.push_back("== " + (title.empty() ? std::string("Varnel") : title) + " ==");
    lines.push_back(Text(IDC_HEADLINE));
    lines.push_back(Text(IDC_INSTRUCTION));
    const HeadlessList& list = lists[IDC_DRIVE_LIST];
    for (size_t i = 0; i < list.entries.size(); ++i) {
        lines.push_back((static_cast<int>(i) == list.selection ? " >" : "  ") +
                        std::to_string(i + 1) + ") " + list.entries[i]);
    }
    lines.push_back(Text(IDC_CUR_LABEL) + ": " + Text(IDC_CUR_VERSION) + "    " +
                    Text(IDC_NEW_LABEL) + ": " + Text(IDC_NEW_VERSION));
    lines.push_back(Text(IDC_MESSAGE_AREA));
    const bool canUpdate = Control(IDC_UPDATE).enabled;
    const bool canExit = Control(kIdCancel).enabled;
    std::string buttons = std::string(canUpdate ? "[u] " : "( ) ") + Text(IDC_UPDATE_CAPTION) +
                          "   " + (canExit ? "[x] " : "( ) ") + Text(IDC_EXIT_CAPTION);
    if (!list.entries.empty())
        buttons += "   [1-" + std::to_string(list.entries.size()) + "] choose a drive";
    lines.push_back(buttons);
    return lines;
}

std::vector<std::string> CConsoleWindow::UpdaterScreen() {
    std::vector<std::string> body;
    for (const std::string& line : Wrap(Text(IDC_HEADLINE), kScreenWidth))
        body.push_back(line);
    body.push_back(Text(IDC_INSTRUCTION));
    body.emplace_back();
    const HeadlessList& list = lists[IDC_DRIVE_LIST];
    for (size_t i = 0; i < list.entries.size(); ++i) {
        body.push_back((static_cast<int>(i) == list.selection ? " > " : "   ") +
                       std::to_string(i + 1) + ") " + list.entries[i]);
    }
    if (list.entries.empty())
        body.emplace_back("   (no drive)");
    body.emplace_back();
    body.push_back("   " + Pad(Text(IDC_CUR_LABEL) + ": " + Text(IDC_CUR_VERSION), 30) +
                   Text(IDC_NEW_LABEL) + ": " + Text(IDC_NEW_VERSION));
    body.emplace_back();
    if (!m_progress.empty()) {
        for (const DownloadProgress& drive : m_progress)
            body.push_back("   " + ProgressLine(drive, kBarWidth));
        body.emplace_back();
    }
    const size_t inner = kScreenWidth - 4;
    for (const std::string& line : Frame("Message", Wrap(Text(IDC_MESSAGE_AREA), inner), inner))
        body.push_back(line);
    body.emplace_back();
    const bool canUpdate = Control(IDC_UPDATE).enabled;
    const bool canExit = Control(kIdCancel).enabled;
    body.push_back(std::string("   ") + (canUpdate ? "[u] " : "( ) ") +
                   Pad(Text(IDC_UPDATE_CAPTION), 10) + (canExit ? "[x] " : "( ) ") +
                   Text(IDC_EXIT_CAPTION));
    return Frame(title.empty() ? "Varnel" : title, body, kScreenWidth);
}

std::vector<std::string> CConsoleWindow::MainteLines() {
    std::vector<std::string> lines;
    lines.emplace_back(kMainteHeading);
    lines.emplace_back();
    lines.push_back(std::string(" p   Parameter file (*.prm): ") + Text(IDC_PARAM_FILE));

    const HeadlessList& products = lists[IDC_PRODUCT_LIST];
    std::string product = " tp  " + std::string(kMainteProductLabel) + ": ";
    product += products.selection >= 0 ? products.entries[static_cast<size_t>(products.selection)]
                                       : Text(IDC_PRODUCT_LIST);
    lines.push_back(product);
    if (products.entries.size() > 1) {
        std::string choices = "     ";
        for (size_t i = 0; i < products.entries.size(); ++i)
            choices += " " + std::to_string(i + 1) + ") " + products.entries[i];
        lines.push_back(choices);
    }

    std::string filter = " rf  " + std::string(kMainteFilterGroup) + ":";
    for (int i = 0; i < 4; ++i) {
        const std::string& box = Text(IDC_FILTER_1 + i);
        filter += " " + (box.empty() ? std::string("*") : box);
    }
    lines.push_back(filter);

    const struct {
        const char* key;
        int id;
        const char* text;
    } options[] = {
        {"ff", IDC_OPT_FILTER_FREE_MINOR, kMainteFilterFreeMinorText},
        {"no", IDC_OPT_ONLY_NEWER, kMainteOnlyNewerText},
        {"cc", IDC_OPT_SAME_CUSTOMER, kMainteSameCustomerText},
        {"hc", IDC_OPT_HIDE_COPYRIGHT, kMainteHideCopyrightText},
    };
    for (const auto& option : options) {
        lines.push_back(std::string(" ") + option.key + "  [" +
                        (Control(option.id).checked ? "x" : " ") + "] " + option.text);
    }

    const HeadlessList& customers = lists[IDC_CUSTOMER_LIST];
    std::string customer = " cn  " + std::string(kMainteCustomerLabel) + ": ";
    if (customers.selection < 0) {
        customer += "(no entry chosen)";
    } else {
        const std::string& code = customers.entries[static_cast<size_t>(customers.selection)];
        customer += code.empty() ? "(none)" : code;
    }
    lines.push_back(customer);
    std::string codes;
    for (const std::string& entry : customers.entries) {
        if (!entry.empty())
            codes += " " + entry;
    }
    if (!codes.empty())
        lines.push_back("     (" + codes.substr(1) + ")");
    lines.push_back(" i   " + std::string(kMainteInquiryRevHead) + ": " + Text(IDC_INQUIRY_REV));

    lines.emplace_back();
    lines.push_back("     " + Pad("", 14) + Pad(kMainteFileNameHead, 24) + kMainteSizeHead);
    lines.push_back("     " + Pad(kMainteMainRow, 14) + Pad(Text(IDC_MAIN_NAME), 24) +
                    Text(IDC_MAIN_SIZE));
    lines.push_back("     " + Pad(kMainteCoreRow, 14) + Pad(Text(IDC_CORE_NAME), 24) +
                    Text(IDC_CORE_SIZE));
    lines.emplace_back();
    lines.push_back(" o   " + std::string(kMainteOutputLabel) + ": " + Text(IDC_OUTPUT_FILE));
    lines.push_back("     Status: " + Text(IDC_MAINTE_STATUS));
    lines.emplace_back();
    lines.push_back(std::string(" [l] ") + kMainteLoadText + "   [g] " + kMainteGenerateText +
                    "   [x] " + kMainteCancelText + "   [b] " + kMainteBrowseText + " browse");
    return lines;
}

std::vector<std::string> CConsoleWindow::BoxLines() {
    std::string boxTitle;
    std::vector<std::string> lines;
    if (templateId == IDD_ABOUT) {
        boxTitle = "About Varnel";
        lines.emplace_back(kAboutVersionLine);
        if (Control(IDC_COPYRIGHT).shown)
            lines.push_back(Text(IDC_COPYRIGHT));
    } else {
        boxTitle = title.empty() ? "Varnel" : title;
        lines = Wrap(Text(IDC_MESSAGE_TEXT), kScreenWidth);
    }
    const size_t width = BoxWidth(boxTitle, lines);
    lines.emplace_back();
    lines.push_back(Centered("[ OK ]", width));
    return Frame(boxTitle, lines, width);
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
    switch (templateId) {
        case IDD_VARNEL: {
            std::string help;
            const int count = ListGetCount(IDC_DRIVE_LIST);
            if (count > 0)
                help += "1-" + std::to_string(count) + " choose a drive   ";
            if (Control(IDC_UPDATE).enabled)
                help += "u " + Text(IDC_UPDATE_CAPTION) + "   ";
            if (Control(kIdCancel).enabled)
                help += "x " + Text(IDC_EXIT_CAPTION) + "   ";
            if (!Control(kIdCancel).enabled && !Control(IDC_UPDATE).enabled)
                return "Please wait.";
            return help + "a about   (then Enter)";
        }
        case IDD_MAINTE:
            return "Keys: p PATH, l, tp N, rf XXXX, i REV, ff/no/cc/hc, cn CODE, o PATH, g, x" +
                   std::string(defaultButton == IDC_GENERATE ? "; Enter: Generate"
                               : defaultButton == IDC_LOAD   ? "; Enter: Load"
                                                             : "");
        case IDD_MESSAGE:
        case IDD_ABOUT:
            return "[Enter] OK";
        default:
            return "Commands: c ID (click), s ID N (select), t ID TEXT (type), k ID (check)" +
                   (defaultButton != 0 ? ", Enter: " + std::to_string(defaultButton) : "");
    }
}

std::vector<std::string> CConsoleWindow::ScreenLines() {
    switch (templateId) {
        case IDD_VARNEL:
            return m_bTerminal ? UpdaterScreen() : UpdaterLines();
        case IDD_MAINTE: {
            const std::string caption = title.empty() ? kMainteCaption : title;
            if (m_bTerminal)
                return Frame(caption, MainteLines(), kScreenWidth);
            std::vector<std::string> lines{"== " + caption + " =="};
            for (const std::string& line : MainteLines())
                lines.push_back(line);
            return lines;
        }
        case IDD_MESSAGE:
        case IDD_ABOUT:
            return BoxLines();
        default:
            return GenericLines();
    }
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
    if (templateId != IDD_VARNEL)
        m_out << KeyHelp() << "\n";
    m_out << std::flush;
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
    } else if (templateId == IDD_MAINTE && !line.empty()) {
        const auto blank = line.find(' ');
        const std::string command = line.substr(0, blank);
        const std::string argument = blank == std::string::npos ? "" : Trim(line.substr(blank));
        if (InterpretMainte(command, argument))
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

bool CConsoleWindow::InterpretMainte(const std::string& command, const std::string& argument) {
    const bool bare = argument.empty();
    if (command == "l" && bare) {
        Click(IDC_LOAD);
    } else if (command == "g" && bare) {
        Click(IDC_GENERATE);
    } else if ((command == "x" || command == "q") && bare) {
        Click(kIdCancel);
    } else if (command == "b" && bare) {
        Click(IDC_BROWSE);
    } else if (command == "p" && !bare) {
        TypeText(IDC_PARAM_FILE, argument);
    } else if (command == "o" && !bare) {
        TypeText(IDC_OUTPUT_FILE, argument);
    } else if (command == "i") {
        TypeText(IDC_INQUIRY_REV, Upper(argument));  // the box forces upper case
    } else if (command == "tp") {
        int n = 0;
        if (!ParseNumber(argument, &n) || n < 1 || n > ListGetCount(IDC_PRODUCT_LIST))
            return false;
        SelectEntry(IDC_PRODUCT_LIST, n - 1);
    } else if (command == "rf") {
        // One character per position; missing positions take any revision.
        if (argument.size() > 4)
            return false;
        for (int i = 0; i < 4; ++i) {
            const size_t k = static_cast<size_t>(i);
            TypeText(IDC_FILTER_1 + i, k < argument.size() ? Upper(argument.substr(k, 1)) : "*");
        }
    } else if (command == "ff" || command == "no" || command == "cc" || command == "hc") {
        if (!bare)
            return false;
        ToggleCheck(command == "ff"   ? IDC_OPT_FILTER_FREE_MINOR
                    : command == "no" ? IDC_OPT_ONLY_NEWER
                    : command == "cc" ? IDC_OPT_SAME_CUSTOMER
                                      : IDC_OPT_HIDE_COPYRIGHT);
    } else if (command == "cn") {
        // A code of the list, its number in the list, or nothing for no customer code.
        const std::string code = Upper(argument);
        int index = -1;
        int n = 0;
        if (ParseNumber(code, &n)) {
            index = n >= 1 && n <= ListGetCount(IDC_CUSTOMER_LIST) ? n - 1 : -1;
        } else {
            for (int i = 0; i < ListGetCount(IDC_CUSTOMER_LIST); ++i) {
                if (ListGetText(IDC_CUSTOMER_LIST, i) == code) {
                    index = i;
                    break;
                }
            }
        }
        if (index < 0)
            return false;
        SelectEntry(IDC_CUSTOMER_LIST, index);
    } else {
        return false;
    }
    return true;
}

int CConsoleWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                   unsigned style) {
    messageBoxes.push_back({text, caption, style});
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
                                            dynamic_cast<CHeadlessWindow*>(parent), m_in, m_out,
                                            m_bTerminal, m_bEcho, m_clock, m_stop);
}
