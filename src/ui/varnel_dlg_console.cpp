// The updater dialog on the console. Commands: N chooses drive-list entry N, u presses
// UPDATE or REBOOT, x (or q) EXIT, a opens the about box. On a terminal the screen carries
// a bar per drive during a run; plain output prints the message area, the current version
// and the button caption whenever they change.
#include <string>
#include <vector>

#include "ui/console_layout.h"
#include "ui/console_window.h"
#include "ui/varnel_dlg.h"

using namespace console;

namespace {

constexpr size_t kBarWidth = 20;

class CVarnelConsoleLayout : public IConsoleLayout {
public:
    int TemplateId() const override { return IDD_VARNEL; }

    std::vector<std::string> Screen(CConsoleWindow& w) const override {
        return w.IsTerminal() ? TerminalScreen(w) : PlainLines(w);
    }

    std::string KeyHelp(CConsoleWindow& w) const override {
        if (!w.IsTerminal())
            return std::string();  // the plain screen names its keys
        std::string help;
        const int count = w.ListGetCount(IDC_DRIVE_LIST);
        if (count > 0)
            help += "1-" + std::to_string(count) + " choose a drive   ";
        if (w.Control(IDC_UPDATE).enabled)
            help += "u " + w.Text(IDC_UPDATE_CAPTION) + "   ";
        if (w.Control(kIdCancel).enabled)
            help += "x " + w.Text(IDC_EXIT_CAPTION) + "   ";
        if (!w.Control(kIdCancel).enabled && !w.Control(IDC_UPDATE).enabled)
            return "Please wait.";
        return help + "a about   (then Enter)";
    }

    bool Interpret(CConsoleWindow& w, const std::string& line) const override {
        int number = 0;
        if (ParseNumber(line, &number)) {
            if (number < 1 || number > w.ListGetCount(IDC_DRIVE_LIST))
                return false;
            w.SelectEntry(IDC_DRIVE_LIST, number - 1);
            return true;
        }
        if (line == "u" || line == "U") {
            w.Click(IDC_UPDATE);
            return true;
        }
        if (line == "x" || line == "X" || line == "q" || line == "Q") {
            w.Click(kIdCancel);
            return true;
        }
        if (line == "a" || line == "A") {
            w.SysCommand(IDM_ABOUTBOX);
            return true;
        }
        return false;
    }

    const char* StatusLabel(int id) const override {
        switch (id) {
            case IDC_MESSAGE_AREA:
                return "Message";
            case IDC_CUR_VERSION:
                return "Current version";
            case IDC_UPDATE_CAPTION:
                return "Button";
            default:
                return nullptr;
        }
    }

    // The message area tells what happens now (a run, a restart).
    bool DrawsAtOnce(int id) const override { return id == IDC_MESSAGE_AREA; }

private:
    static std::string Title(CConsoleWindow& w) {
        return w.title.empty() ? std::string("Varnel") : w.title;
    }

    static std::vector<std::string> PlainLines(CConsoleWindow& w) {
        std::vector<std::string> lines;
        lines.push_back("== " + Title(w) + " ==");
        lines.push_back(w.Text(IDC_HEADLINE));
        lines.push_back(w.Text(IDC_INSTRUCTION));
        const ListState& list = w.lists[IDC_DRIVE_LIST];
        for (size_t i = 0; i < list.entries.size(); ++i) {
            lines.push_back((static_cast<int>(i) == list.selection ? " >" : "  ") +
                            std::to_string(i + 1) + ") " + list.entries[i]);
        }
        lines.push_back(w.Text(IDC_CUR_LABEL) + ": " + w.Text(IDC_CUR_VERSION) + "    " +
                        w.Text(IDC_NEW_LABEL) + ": " + w.Text(IDC_NEW_VERSION));
        lines.push_back(w.Text(IDC_MESSAGE_AREA));
        const bool canUpdate = w.Control(IDC_UPDATE).enabled;
        const bool canExit = w.Control(kIdCancel).enabled;
        std::string buttons = std::string(canUpdate ? "[u] " : "( ) ") +
                              w.Text(IDC_UPDATE_CAPTION) + "   " + (canExit ? "[x] " : "( ) ") +
                              w.Text(IDC_EXIT_CAPTION);
        if (!list.entries.empty())
            buttons += "   [1-" + std::to_string(list.entries.size()) + "] choose a drive";
        lines.push_back(buttons);
        return lines;
    }

    static std::vector<std::string> TerminalScreen(CConsoleWindow& w) {
        std::vector<std::string> body;
        for (const std::string& line : Wrap(w.Text(IDC_HEADLINE), kScreenWidth))
            body.push_back(line);
        body.push_back(w.Text(IDC_INSTRUCTION));
        body.emplace_back();
        const ListState& list = w.lists[IDC_DRIVE_LIST];
        for (size_t i = 0; i < list.entries.size(); ++i) {
            body.push_back((static_cast<int>(i) == list.selection ? " > " : "   ") +
                           std::to_string(i + 1) + ") " + list.entries[i]);
        }
        if (list.entries.empty())
            body.emplace_back("   (no drive)");
        body.emplace_back();
        body.push_back("   " + Pad(w.Text(IDC_CUR_LABEL) + ": " + w.Text(IDC_CUR_VERSION), 30) +
                       w.Text(IDC_NEW_LABEL) + ": " + w.Text(IDC_NEW_VERSION));
        body.emplace_back();
        if (!w.Progress().empty()) {
            for (const DownloadProgress& drive : w.Progress())
                body.push_back("   " + ProgressLine(drive, kBarWidth));
            body.emplace_back();
        }
        const size_t inner = kScreenWidth - 4;
        for (const std::string& line :
             Frame("Message", Wrap(w.Text(IDC_MESSAGE_AREA), inner), inner))
            body.push_back(line);
        body.emplace_back();
        const bool canUpdate = w.Control(IDC_UPDATE).enabled;
        const bool canExit = w.Control(kIdCancel).enabled;
        body.push_back(std::string("   ") + (canUpdate ? "[u] " : "( ) ") +
                       Pad(w.Text(IDC_UPDATE_CAPTION), 10) + (canExit ? "[x] " : "( ) ") +
                       w.Text(IDC_EXIT_CAPTION));
        return Frame(Title(w), body, kScreenWidth);
    }
};

}  // namespace

const IConsoleLayout& VarnelConsoleLayout() {
    static const CVarnelConsoleLayout layout;
    return layout;
}
