// The maintenance dialog on the console. Commands: p PATH parameter file, l Load,
// g Generate, x (or q) Cancel, b browse, tp N product entry, rf XXXX filter, i REV inquiry
// revision, ff / no / cc / hc toggle an option, cn [CODE|N] customer, o PATH output file.
#include <string>
#include <vector>

#include "base/text.h"
#include "ui/console_layout.h"
#include "ui/console_window.h"
#include "ui/mainte_dlg.h"

using namespace console;

namespace {

class CMainteConsoleLayout : public IConsoleLayout {
public:
    int TemplateId() const override { return IDD_MAINTE; }

    std::vector<std::string> Screen(CConsoleWindow& w) const override {
        const std::string caption = w.title.empty() ? kMainteCaption : w.title;
        if (w.IsTerminal())
            return Frame(caption, Lines(w), kScreenWidth);
        std::vector<std::string> lines{"== " + caption + " =="};
        for (const std::string& line : Lines(w))
            lines.push_back(line);
        return lines;
    }

    std::string KeyHelp(CConsoleWindow& w) const override {
        return "Keys: p PATH, l, tp N, rf XXXX, i REV, ff/no/cc/hc, cn CODE, o PATH, g, x" +
               std::string(w.defaultButton == IDC_GENERATE ? "; Enter: Generate"
                           : w.defaultButton == IDC_LOAD   ? "; Enter: Load"
                                                           : "");
    }

    bool Interpret(CConsoleWindow& w, const std::string& line) const override {
        if (line.empty())
            return false;
        const auto blank = line.find(' ');
        const std::string command = line.substr(0, blank);
        const std::string argument = blank == std::string::npos ? "" : Trim(line.substr(blank));
        return Command(w, command, argument);
    }

private:
    static std::vector<std::string> Lines(CConsoleWindow& w) {
        std::vector<std::string> lines;
        lines.emplace_back(kMainteHeading);
        lines.emplace_back();
        lines.push_back(std::string(" p   Parameter file (*.prm): ") + w.Text(IDC_PARAM_FILE));

        const ListState& products = w.lists[IDC_PRODUCT_LIST];
        std::string product = " tp  " + std::string(kMainteProductLabel) + ": ";
        product += products.selection >= 0
                       ? products.entries[static_cast<size_t>(products.selection)]
                       : w.Text(IDC_PRODUCT_LIST);
        lines.push_back(product);
        if (products.entries.size() > 1) {
            std::string choices = "     ";
            for (size_t i = 0; i < products.entries.size(); ++i)
                choices += " " + std::to_string(i + 1) + ") " + products.entries[i];
            lines.push_back(choices);
        }

        std::string filter = " rf  " + std::string(kMainteFilterGroup) + ":";
        for (int i = 0; i < 4; ++i) {
            const std::string& box = w.Text(IDC_FILTER_1 + i);
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
                            (w.Control(option.id).checked ? "x" : " ") + "] " + option.text);
        }

        const ListState& customers = w.lists[IDC_CUSTOMER_LIST];
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
        lines.push_back(" i   " + std::string(kMainteInquiryRevHead) + ": " +
                        w.Text(IDC_INQUIRY_REV));

        lines.emplace_back();
        lines.push_back("     " + Pad("", 14) + Pad(kMainteFileNameHead, 24) + kMainteSizeHead);
        lines.push_back("     " + Pad(kMainteMainRow, 14) + Pad(w.Text(IDC_MAIN_NAME), 24) +
                        w.Text(IDC_MAIN_SIZE));
        lines.push_back("     " + Pad(kMainteCoreRow, 14) + Pad(w.Text(IDC_CORE_NAME), 24) +
                        w.Text(IDC_CORE_SIZE));
        lines.emplace_back();
        lines.push_back(" o   " + std::string(kMainteOutputLabel) + ": " + w.Text(IDC_OUTPUT_FILE));
        lines.push_back("     Status: " + w.Text(IDC_MAINTE_STATUS));
        lines.emplace_back();
        lines.push_back(std::string(" [l] ") + kMainteLoadText + "   [g] " + kMainteGenerateText +
                        "   [x] " + kMainteCancelText + "   [b] " + kMainteBrowseText + " browse");
        return lines;
    }

    static bool Command(CConsoleWindow& w, const std::string& command,
                        const std::string& argument) {
        const bool bare = argument.empty();
        if (command == "l" && bare) {
            w.Click(IDC_LOAD);
        } else if (command == "g" && bare) {
            w.Click(IDC_GENERATE);
        } else if ((command == "x" || command == "q") && bare) {
            w.Click(kIdCancel);
        } else if (command == "b" && bare) {
            w.Click(IDC_BROWSE);
        } else if (command == "p" && !bare) {
            w.TypeText(IDC_PARAM_FILE, argument);
        } else if (command == "o" && !bare) {
            w.TypeText(IDC_OUTPUT_FILE, argument);
        } else if (command == "i") {
            w.TypeText(IDC_INQUIRY_REV, ToUpper(argument));  // the box forces upper case
        } else if (command == "tp") {
            int n = 0;
            if (!ParseNumber(argument, &n) || n < 1 || n > w.ListGetCount(IDC_PRODUCT_LIST))
                return false;
            w.SelectEntry(IDC_PRODUCT_LIST, n - 1);
        } else if (command == "rf") {
            // One character per position; missing positions take any revision.
            if (argument.size() > 4)
                return false;
            for (int i = 0; i < 4; ++i) {
                const size_t k = static_cast<size_t>(i);
                w.TypeText(IDC_FILTER_1 + i,
                           k < argument.size() ? ToUpper(argument.substr(k, 1)) : "*");
            }
        } else if (command == "ff" || command == "no" || command == "cc" || command == "hc") {
            if (!bare)
                return false;
            w.ToggleCheck(command == "ff"   ? IDC_OPT_FILTER_FREE_MINOR
                          : command == "no" ? IDC_OPT_ONLY_NEWER
                          : command == "cc" ? IDC_OPT_SAME_CUSTOMER
                                            : IDC_OPT_HIDE_COPYRIGHT);
        } else if (command == "cn") {
            // A code of the list, its number in the list, or nothing for no customer code.
            const std::string code = ToUpper(argument);
            int index = -1;
            int n = 0;
            if (ParseNumber(code, &n)) {
                index = n >= 1 && n <= w.ListGetCount(IDC_CUSTOMER_LIST) ? n - 1 : -1;
            } else {
                for (int i = 0; i < w.ListGetCount(IDC_CUSTOMER_LIST); ++i) {
                    if (w.ListGetText(IDC_CUSTOMER_LIST, i) == code) {
                        index = i;
                        break;
                    }
                }
            }
            if (index < 0)
                return false;
            w.SelectEntry(IDC_CUSTOMER_LIST, index);
        } else {
            return false;
        }
        return true;
    }
};

}  // namespace

const IConsoleLayout& MainteConsoleLayout() {
    static const CMainteConsoleLayout layout;
    return layout;
}
