// CVarnelApp: start-up and mode choice. Reads the package appended to the running
// executable and runs either the updater dialog or the maintenance dialog modally;
// the updater dialog's result becomes the process exit code, and in maintenance mode the
// result code of a failed automatic generation (0 otherwise).
#pragma once

#include <string>

#include "package/update_data.h"

class CCommandOption;
class CMainteDlg;
class ISystemServices;
class IWindowFactory;

// --package= refused (a program with more privilege than its user), like an unknown option.
inline constexpr int kExitRefusedOption = 2;

class CVarnelApp {
public:
    CVarnelApp(ISystemServices& services, IWindowFactory& windows);

    // Runs the whole program; always false (there is no message loop after the dialog).
    bool InitInstance();
    // The process exit code.
    int ExitInstance() const { return m_nExitCode; }

    CUpdateData m_updateData;
    int m_nExitCode = 0;

private:
    ISystemServices& m_services;
    IWindowFactory& m_windows;
};

// Hands the maintenance dialog the command line: the plain argument (made absolute against
// the current directory, so call this before the start-up enters the argument's folder),
// the program folder, i=, rf=, op=, tp=, cn= and the a, ff, no, hc, cc switches.
void ApplyMainteOptions(CMainteDlg& mainte, const CCommandOption& option,
                        const std::string& exeDir);
