#include "ui/console_layout.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "base/text.h"
#include "ui/console_window.h"

const IConsoleLayout* FindConsoleLayout(int templateId) {
    for (const IConsoleLayout* layout : {&VarnelConsoleLayout(), &MainteConsoleLayout(),
                                         &MessageConsoleLayout(), &AboutConsoleLayout()}) {
        if (layout->TemplateId() == templateId)
            return layout;
    }
    return nullptr;
}

std::string COkBoxLayout::KeyHelp(CConsoleWindow&) const {
    return "[Enter] OK";
}

bool COkBoxLayout::Interpret(CConsoleWindow& window, const std::string& line) const {
    if (!line.empty())
        return false;
    window.Click(kIdOk);
    return true;
}

namespace console {

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

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

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

std::vector<std::string> OkBox(const std::string& title, std::vector<std::string> lines) {
    const size_t width = BoxWidth(title, lines);
    lines.emplace_back();
    lines.push_back(Centered("[ OK ]", width));
    return Frame(title, lines, width);
}

}  // namespace console
