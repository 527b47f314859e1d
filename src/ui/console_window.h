// Console dialog windows: a dialog is shown as text on an output stream and driven by
// commands read line by line from an input stream.
//
// While a dialog waits for input it shows its screen and a prompt. On a terminal the
// screen is framed and redrawn in place (clear-screen sequences only); otherwise it is
// printed as plain lines without any control sequence, and changes of the status texts
// of a shown dialog are printed as they happen, so automatic runs leave a readable log.
//
// A dialog's console layout (console_layout.h, kept beside the dialog) lays out its screen
// and gives it short commands. Every dialog also understands the generic commands
//   c ID          click button ID          s ID N   select entry N (from 1) of list ID
//   t ID TEXT     type TEXT into box ID    k ID     toggle check box ID
// and an empty line presses the default button. The end of the input closes the dialog
// (EXIT / Cancel).
//
// During an update run the updater shows a bar per drive (DownloadProgress): redrawn a
// few times a second on a terminal, printed as lines about once a second otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "ui/control_store.h"

class IConsoleLayout;

class CConsoleWindow : public CControlStore {
public:
    // Milliseconds from any fixed start (replaceable for tests).
    using Clock = std::function<uint64_t()>;

    CConsoleWindow(int templateId, IDialogEvents& events, CConsoleWindow* parent, std::istream& in,
                   std::ostream& out, bool terminal, bool echo, Clock clock = Clock(),
                   std::function<bool()> stop = std::function<bool()>());

    int RunModal() override;
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enable) override;
    bool PumpMessage(unsigned timeoutMs) override;
    void ShowProgress(const std::vector<DownloadProgress>& drives) override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned style) override;
    std::optional<std::string> ChooseOpenFile(const std::string& title,
                                              const std::string& filter) override;

    // The dialog's screen: plain lines, or the framed terminal screen.
    std::vector<std::string> ScreenLines();
    // For the layouts: the output is a terminal; the last progress report of a run.
    bool IsTerminal() const { return m_bTerminal; }
    const std::vector<DownloadProgress>& Progress() const { return m_progress; }

private:
    // A dialog without a layout: every control by its id.
    std::vector<std::string> GenericLines();
    std::string KeyHelp();
    // Shows the screen before input: printed, or redrawn on a terminal.
    void Render();
    // Terminal: redraws the screen (with the parent's screen above a child's box).
    void Draw(const std::vector<std::string>& extra, const std::string& footer);
    bool CanDraw() const;
    // Carries out one input line; false when the line was not understood.
    bool Interpret(const std::string& line);
    bool ReadLine(std::string* line, const char* prompt = "> ");
    uint64_t Now() const;

    const IConsoleLayout* m_pLayout;  // nullptr: the generic screen
    std::istream& m_in;
    std::ostream& m_out;
    bool m_bTerminal;
    bool m_bEcho;
    bool m_bInputEnded = false;
    Clock m_clock;
    std::function<bool()> m_stop;
    CConsoleWindow* m_pParentConsole = nullptr;
    int m_nChildren = 0;  // modal children running: they own the screen
    bool m_bDirty = false;
    std::vector<DownloadProgress> m_progress;       // the last report
    std::vector<DownloadProgress> m_shownProgress;  // the report last shown
    uint64_t m_nProgressShownAt = 0;
};

class CConsoleWindowFactory : public IWindowFactory {
public:
    // terminal: the output is a terminal (framed screens, redrawn in place). echo: repeat
    // each line read, for input that does not come from a terminal.
    CConsoleWindowFactory(std::istream& in, std::ostream& out, bool terminal, bool echo = false,
                          CConsoleWindow::Clock clock = CConsoleWindow::Clock());

    std::shared_ptr<IDialogWindow> CreateDialogWindow(int templateId, IDialogEvents& events,
                                                      IDialogWindow* parent) override;

    // True when the person asked to quit (an interrupt): the next wait for input reads as
    // the end of the input, which closes the dialogs.
    void SetStopRequest(std::function<bool()> stop) { m_stop = std::move(stop); }

private:
    std::istream& m_in;
    std::ostream& m_out;
    bool m_bTerminal;
    bool m_bEcho;
    CConsoleWindow::Clock m_clock;
    std::function<bool()> m_stop;
};

// One progress line: the drive's short label, a bar of barWidth, percent, bytes, state.
std::string ProgressLine(const DownloadProgress& drive, size_t barWidth);
