// Console dialog windows: a dialog is shown as plain lines on an output stream and
// driven by commands read line by line from an input stream.
//
// While a dialog waits for input it prints its screen and a prompt. Known dialogs have
// short commands (updater: a number chooses a drive-list entry, u presses UPDATE or
// REBOOT, x presses EXIT, a opens the about box; message and about boxes: Enter is OK).
// Every dialog also understands the generic commands
//   c ID          click button ID          s ID N   select entry N (from 1) of list ID
//   t ID TEXT     type TEXT into box ID    k ID     toggle check box ID
// The end of the input closes the dialog (EXIT / Cancel). Changes of the status texts of
// a shown dialog are printed as they happen, so automatic runs leave a readable log.
#pragma once

#include <istream>
#include <ostream>

#include "ui/headless_window.h"

class CConsoleWindow : public CHeadlessWindow {
public:
    CConsoleWindow(int templateId, IDialogEvents& events, CHeadlessWindow* parent, std::istream& in,
                   std::ostream& out, bool terminal, bool echo);

    int RunModal() override;
    void SetItemText(int id, const std::string& text) override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned style) override;
    std::optional<std::string> ChooseOpenFile(const std::string& title,
                                              const std::string& filter) override;

private:
    void Render();
    void RenderGeneric();
    // Carries out one input line; false when the line was not understood.
    bool Interpret(const std::string& line);
    bool ReadLine(std::string* line);
    const char* StatusLabel(int id) const;

    std::istream& m_in;
    std::ostream& m_out;
    bool m_bTerminal;
    bool m_bEcho;
    bool m_bInputEnded = false;
};

class CConsoleWindowFactory : public IWindowFactory {
public:
    // terminal: the output is a terminal (reserved for a richer screen). echo: repeat
    // each line read, for input that does not come from a terminal.
    CConsoleWindowFactory(std::istream& in, std::ostream& out, bool terminal, bool echo = false);

    std::shared_ptr<IDialogWindow> CreateDialogWindow(int templateId, IDialogEvents& events,
                                                      IDialogWindow* parent) override;

private:
    std::istream& m_in;
    std::ostream& m_out;
    bool m_bTerminal;
    bool m_bEcho;
};
