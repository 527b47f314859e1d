#include "app/command_option.h"

#include "base/path_rules.h"
#include "base/text.h"

void CCommandOption::ParseParam(const std::string& text, bool isSwitch, bool /*isLast*/) {
    if (!isSwitch) {
        m_strFilePath = text;
        const auto pos = text.rfind(kPathSeparator);
        const std::string dir = pos == std::string::npos ? text : text.substr(0, pos);
        if (!dir.empty())
            m_strFileDir = dir;
        return;
    }
    // Every row is tested independently: one switch can match several.
    if (StartsWith(text, "a"))
        m_bAutoGenerate = true;
    if (StartsWith(text, "i="))
        m_strInquiryRev = text.substr(2);
    if (StartsWith(text, "rf="))
        m_strRevFilter = text.substr(3);
    if (StartsWith(text, "op="))
        m_strOutputName = text.substr(3);
    if (StartsWith(text, "tp="))
        m_strTargetProduct = text.substr(3);
    if (StartsWith(text, "lw"))
        m_bUnattended = true;
    if (StartsWith(text, "ff"))
        m_bFilterFreeMinor = true;
    if (StartsWith(text, "no"))
        m_bOnlyNewer = true;
    if (StartsWith(text, "hc"))
        m_bHideCopyright = true;
    if (StartsWith(text, "cc"))
        m_bSameCustomer = true;
    if (StartsWith(text, "dl="))
        m_strDriveLetter = ToUpper(text).substr(3);
    if (StartsWith(text, "au"))
        m_bAutoStart = true;
    if (StartsWith(text, "ae"))
        m_bAutoExit = true;
    if (StartsWith(text, "all"))
        m_bAllDrives = true;
    if (StartsWith(text, "report=")) {
        m_bReport = true;
        m_strReportFile = text.substr(7);
    }
    if (StartsWith(text, "cn="))
        m_strCustomer = ToUpper(text).substr(3);
    if (StartsWith(text, "s") || StartsWith(text, "S")) {
        m_bSilent = true;
        m_bAutoStart = true;
        m_bAutoExit = true;
    }
}

std::vector<std::string> SplitWindowsCommandLine(const std::string& line) {
    std::vector<std::string> items;
    size_t i = 0;
    const size_t n = line.size();
    auto blank = [&](size_t k) { return line[k] == ' ' || line[k] == '\t'; };

    // Program name: quoted up to the closing quote, else up to the first blank.
    std::string program;
    if (i < n && line[i] == '"') {
        ++i;
        while (i < n && line[i] != '"')
            program += line[i++];
        if (i < n)
            ++i;
    } else {
        while (i < n && !blank(i))
            program += line[i++];
    }
    items.push_back(program);

    while (true) {
        while (i < n && blank(i))
            ++i;
        if (i >= n)
            break;
        std::string item;
        bool quoted = false;
        while (i < n && (quoted || !blank(i))) {
            if (line[i] == '\\') {
                size_t slashes = 0;
                while (i < n && line[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && line[i] == '"') {
                    item.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        item += '"';
                        ++i;
                    }
                } else {
                    item.append(slashes, '\\');
                }
            } else if (line[i] == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    item += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                item += line[i++];
            }
        }
        items.push_back(item);
    }
    return items;
}

bool IsSwitchItem(const std::string& item) {
    if (item.empty() || (item[0] != '-' && item[0] != '/'))
        return false;
#ifndef _WIN32
    // An absolute path ("/home/u/new.prm"): a second '/' before any '='.
    if (item[0] == '/') {
        const auto slash = item.find('/', 1);
        if (slash != std::string::npos && slash < item.find('='))
            return false;
    }
#endif
    return true;
}

bool IsKnownSwitch(const std::string& text) {
    // au, ae and all begin with a.
    static const char* const kRows[] = {"a",  "i=", "rf=", "op=", "tp=", "lw",      "ff", "no",
                                        "hc", "cc", "dl=", "cn=", "s",   "report=", "S"};
    for (const char* row : kRows) {
        if (StartsWith(text, row))
            return true;
    }
    return false;
}

CommandCheck CheckCommandItems(const std::vector<std::string>& items) {
    for (const std::string& item : items) {
        if (item == "--help" || item == "-h")
            return {CommandRequest::Help, item};
        if (item == "--version")
            return {CommandRequest::Version, item};
        const bool unknown = StartsWith(item, "--")
                                 ? !StartsWith(item, "--package=")
                                 : IsSwitchItem(item) && !IsKnownSwitch(item.substr(1));
        if (unknown)
            return {CommandRequest::UsageError, item};
    }
    return {};
}

void ParseCommandItems(CCommandOption& option, const std::vector<std::string>& items) {
    for (size_t k = 0; k < items.size(); ++k) {
        const std::string& item = items[k];
#ifndef _WIN32
        static const std::string kPackageSwitch = "--package=";
        if (item.compare(0, kPackageSwitch.size(), kPackageSwitch) == 0) {
            option.m_strPackageFile = item.substr(kPackageSwitch.size());
            continue;
        }
#endif
        const bool isSwitch = IsSwitchItem(item);
        option.ParseParam(isSwitch ? item.substr(1) : item, isSwitch, k + 1 == items.size());
    }
}
