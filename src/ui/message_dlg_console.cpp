// The message dialog on the console: its text in a box; Enter is OK.
#include <string>
#include <vector>

#include "ui/console_layout.h"
#include "ui/console_window.h"
#include "ui/message_dlg.h"

using namespace console;

namespace {

class CMessageConsoleLayout : public COkBoxLayout {
public:
    int TemplateId() const override { return IDD_MESSAGE; }

    std::vector<std::string> Screen(CConsoleWindow& w) const override {
        return OkBox(w.title.empty() ? "Varnel" : w.title,
                     Wrap(w.Text(IDC_MESSAGE_TEXT), kScreenWidth));
    }
};

}  // namespace

const IConsoleLayout& MessageConsoleLayout() {
    static const CMessageConsoleLayout layout;
    return layout;
}
