// Fuzz entry: the command-line parser (SplitWindowsCommandLine, ParseCommandItems).
//
// The input is used twice:
//   - as a command line: split and parsed; without any double quote, the items must be
//     exactly the blank-separated words, backslashes included;
//   - as a list of items (separated by line feeds): quoted by the usual Windows rules
//     behind a program name, the line must split back into the same items.
#include <string>
#include <vector>

#include "app/command_option.h"
#include "support/fuzz_targets.h"

namespace fuzz {

namespace {

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    // The program name is the first word, empty when the line starts with a blank.
    std::string first;
    while (i < line.size() && !Blank(line[i]))
        first += line[i++];
    words.push_back(first);
    while (i < line.size()) {
        while (i < line.size() && Blank(line[i]))
            ++i;
        if (i == line.size())
            break;
        std::string word;
        while (i < line.size() && !Blank(line[i]))
            word += line[i++];
        words.push_back(word);
    }
    return words;
}

// Quotes one item so that the Windows rules give it back unchanged.
std::string Quote(const std::string& item) {
    if (!item.empty() && item.find_first_of(" \t\"") == std::string::npos)
        return item;
    std::string out = "\"";
    size_t slashes = 0;
    for (const char c : item) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        // Backslashes in front of a quote are doubled, and the quote escaped.
        out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(2 * slashes, '\\');  // in front of the closing quote
    return out + "\"";
}

}  // namespace

int CommandLine(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::vector<std::string> items = SplitWindowsCommandLine(text);
    FUZZ_CHECK(!items.empty());
    if (text.find('"') == std::string::npos)
        FUZZ_CHECK(items == Words(text));
    CCommandOption option;
    ParseCommandItems(option, std::vector<std::string>(items.begin() + 1, items.end()));

    std::vector<std::string> list = {"prog"};
    std::string line = "\"prog\"";
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        list.push_back(text.substr(start, end - start));
        line += ' ' + Quote(list.back());
        start = end + 1;
    }
    FUZZ_CHECK(SplitWindowsCommandLine(line) == list);
    return 0;
}

}  // namespace fuzz
