// CCommandOption: the command-line switches of both modes.
#pragma once

#include <string>
#include <vector>

class CCommandOption {
public:
    // One item; isSwitch when it began with '-' or '/', text is then without that character.
    void ParseParam(const std::string& text, bool isSwitch, bool isLast);

    std::string m_strFileDir;
    std::string m_strFilePath;
    std::string m_strInquiryRev;
    std::string m_strRevFilter;
    std::string m_strOutputName;
    std::string m_strTargetProduct;
    std::string m_strDriveLetter;
    std::string m_strCustomer;
    bool m_bAutoGenerate = false;
    bool m_bUnattended = false;
    bool m_bFilterFreeMinor = false;
    bool m_bOnlyNewer = false;
    bool m_bHideCopyright = false;
    bool m_bSameCustomer = false;
    bool m_bAutoStart = false;
    bool m_bAutoExit = false;
    bool m_bAllDrives = false;
    bool m_bSilent = false;
    // report=FILE (updater mode): the JSON report of the run; m_bReport: the switch was given.
    bool m_bReport = false;
    std::string m_strReportFile;
    // Linux build: --package=FILE, the updater whose package is used instead of our own.
    std::string m_strPackageFile;
};

// Splits a Windows command line into items by the usual rules (blanks separate,
// double quotes group, backslashes escape quotes only in front of them). The first
// item, the program name, ends at the next blank or, when quoted, at the closing quote.
std::vector<std::string> SplitWindowsCommandLine(const std::string& commandLine);

// True when an item is a switch: it begins with '-' or '/'. In the Linux build an item
// such as "/home/u/new.prm" (a second '/' before any '=') is an absolute path instead.
bool IsSwitchItem(const std::string& item);

// Feeds items (program name excluded) to ParseParam the way the framework does. In the
// Linux build an item --package=FILE sets m_strPackageFile instead.
void ParseCommandItems(CCommandOption& option, const std::vector<std::string>& items);

// True when a row of the switch table recognises the switch text (without its '-' or '/').
bool IsKnownSwitch(const std::string& text);

// What a Linux command line asks for before anything runs: --help (or -h), --version, or a
// run. Any other item beginning with "--" (--package=FILE aside) and a switch that no row
// recognises are usage errors; item names the first offending item.
enum class CommandRequest { Run, Help, Version, UsageError };
struct CommandCheck {
    CommandRequest request = CommandRequest::Run;
    std::string item;
};
CommandCheck CheckCommandItems(const std::vector<std::string>& items);
