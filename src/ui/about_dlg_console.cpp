// The about box on the console: version and copyright lines in a box; Enter is OK.
#include <string>
#include <vector>

#include "ui/about_dlg.h"
#include "ui/console_layout.h"
#include "ui/console_window.h"

using namespace console;

namespace {

class CAboutConsoleLayout : public COkBoxLayout {
public:
    int TemplateId() const override { return IDD_ABOUT; }

    std::vector<std::string> Screen(CConsoleWindow& w) const override {
        std::vector<std::string> lines{kAboutVersionLine};
        if (w.Control(IDC_COPYRIGHT).shown)
            lines.push_back(w.Text(IDC_COPYRIGHT));
        return OkBox("About Varnel", lines);
    }
};

}  // namespace

const IConsoleLayout& AboutConsoleLayout() {
    static const CAboutConsoleLayout layout;
    return layout;
}
