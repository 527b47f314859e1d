// Console layouts: how the console window shows one dialog and which short commands it
// takes, the console's counterpart of the dialog's template. Each dialog keeps its layout
// beside it (varnel_dlg_console.cpp, ...); the console window finds it by template id and
// shows a dialog without one generically, every control by its id.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class CConsoleWindow;

class IConsoleLayout {
public:
    virtual ~IConsoleLayout() = default;
    virtual int TemplateId() const = 0;
    // The dialog's screen: plain lines, or the framed screen on a terminal.
    virtual std::vector<std::string> Screen(CConsoleWindow& window) const = 0;
    // The keys that the dialog takes now, shown below its screen; empty shows none.
    virtual std::string KeyHelp(CConsoleWindow& window) const = 0;
    // Carries out one of the dialog's short commands (line without surrounding blanks);
    // false when line is none of them: the generic commands are tried next.
    virtual bool Interpret(CConsoleWindow& window, const std::string& line) const = 0;
    // The name under which changes of text id are printed on plain output (nullptr: not
    // printed), and whether a terminal redraws them at once.
    virtual const char* StatusLabel(int /*id*/) const { return nullptr; }
    virtual bool DrawsAtOnce(int /*id*/) const { return false; }
};

// A box whose only button is OK: Enter presses it.
class COkBoxLayout : public IConsoleLayout {
public:
    std::string KeyHelp(CConsoleWindow& window) const override;
    bool Interpret(CConsoleWindow& window, const std::string& line) const override;
};

// The layout of a dialog template; nullptr for a template without one.
const IConsoleLayout* FindConsoleLayout(int templateId);

// The layouts of the program's dialogs, each defined beside its dialog.
const IConsoleLayout& VarnelConsoleLayout();
const IConsoleLayout& MainteConsoleLayout();
const IConsoleLayout& MessageConsoleLayout();
const IConsoleLayout& AboutConsoleLayout();

// Text helpers of the console screens.
namespace console {

// Inner width of a framed terminal screen and of the widest box. A frame adds four
// columns: the screen fits a terminal of 80 columns.
inline constexpr size_t kScreenWidth = 74;

// A whole number of at most six digits.
bool ParseNumber(const std::string& text, int* value);
std::string Pad(const std::string& text, size_t width);
std::string Centered(const std::string& text, size_t width);
// Splits text into lines of at most width bytes: at line breaks, then at blanks; a word
// longer than a line is cut.
std::vector<std::string> Wrap(const std::string& text, size_t width);
// "+- title ----+", "| line |" rows (lines wrapped to width), "+----+".
std::vector<std::string> Frame(const std::string& title, const std::vector<std::string>& lines,
                               size_t width);
// Width for a box around lines: the longest line, within a title's and the screen's.
size_t BoxWidth(const std::string& title, const std::vector<std::string>& lines);
// A framed box with an OK button below its lines.
std::vector<std::string> OkBox(const std::string& title, std::vector<std::string> lines);

}  // namespace console
