#include "app/varnel_app.h"

#include <cstdio>

#include "app/command_option.h"
#include "app/system_services.h"
#include "base/environment.h"
#include "base/file_io.h"
#include "base/path_rules.h"
#include "package/customers.h"
#include "ui/mainte_dlg.h"
#include "ui/varnel_dlg.h"

namespace {

// The exit status a caller of the process sees for an exit code (Linux keeps its low 8 bits).
int ProcessStatus(int code) {
#ifdef _WIN32
    return code;
#else
    return code & 0xFF;
#endif
}

const char* WriteFailureWords(WriteStatus status) {
    return status == WriteStatus::WriteFailed
               ? "writing the file failed"
               : "no file can be made there (a missing or read-only folder, a read-only file "
                 "or a folder of that name)";
}

}  // namespace

void ApplyMainteOptions(CMainteDlg& mainte, const CCommandOption& option,
                        const std::string& exeDir) {
    const std::string& path = option.m_strFilePath;
    mainte.m_strParamFile = path.empty() ? path : MakeAbsolutePath(path);
    mainte.m_strParamDir = DirectoryPart(mainte.m_strParamFile);
    mainte.m_strExeDir = exeDir;
    mainte.m_strInquiryRev = option.m_strInquiryRev;
    mainte.m_strRevFilter = option.m_strRevFilter;
    mainte.m_strOutputName = option.m_strOutputName;
    mainte.m_strTargetProduct = option.m_strTargetProduct;
    mainte.m_strCustomer = option.m_strCustomer;
    mainte.m_bAutoGenerate = option.m_bAutoGenerate;
    mainte.m_bFilterFreeMinor = option.m_bFilterFreeMinor;
    mainte.m_bOnlyNewer = option.m_bOnlyNewer;
    mainte.m_bHideCopyright = option.m_bHideCopyright;
    mainte.m_bSameCustomer = option.m_bSameCustomer;
}

CVarnelApp::CVarnelApp(ISystemServices& services, IWindowFactory& windows)
    : m_services(services), m_windows(windows) {
    m_updateData.SetClock([this] { return m_services.Now(); });
}

bool CVarnelApp::InitInstance() {
    CVarnelDlg dlg(m_services);
    CMainteDlg mainte(m_services);
    const std::string exeDir = DirectoryPart(m_services.ModulePath());
    dlg.m_pUpdateData = &m_updateData;
    mainte.m_pUpdateData = &m_updateData;

    CCommandOption option;
    ParseCommandItems(option, m_services.Arguments());
    // Before the directory change: a relative parameter path is taken from here.
    ApplyMainteOptions(mainte, option, exeDir);

    // --package=FILE (Linux build): the package of another updater, a Windows one as
    // shipped, instead of our own. Always updater mode: a FILE without a readable package
    // shows the broken-file state; a FILE that cannot be read ends with an error.
    const bool foreignPackage = !option.m_strPackageFile.empty();
    // A program with more privilege than its user (file capabilities, set-user-ID) would
    // let that user write any package into any drive: it applies only its own.
    if (foreignPackage && RunsWithMorePrivilege()) {
        std::fprintf(stderr,
                     "varnel: --package is refused: this program runs with more privilege than "
                     "its user (file capabilities or set-user-ID) and applies only its own "
                     "package; run it with sudo to apply another updater's package\n");
        m_nExitCode = kExitRefusedOption;
        return false;
    }
    const std::string packagePath =
        foreignPackage ? MakeAbsolutePath(option.m_strPackageFile) : std::string();

    const std::string reportPath =
        option.m_strReportFile.empty() ? std::string() : MakeAbsolutePath(option.m_strReportFile);

    // A directory that cannot be entered is ignored.
    m_services.ChangeDirectory(option.m_strFileDir);

    // The package, and the engine of maintenance mode, come from the program's own file
    // however it was started; the name it was started by is used only as a name (the
    // result log, the minor-revision rule).
    const std::string exePath = foreignPackage ? packagePath : m_services.ExecutablePath();
    const std::string ownPath = foreignPackage ? packagePath : m_services.ModulePath();
    if (foreignPackage) {
        uint8_t probe = 0;
        std::string why;
        if (ReadFilePrefix(packagePath, &probe, 1, &why) < 0) {
            std::fprintf(stderr, "varnel: cannot read %s: %s\n", packagePath.c_str(), why.c_str());
            m_nExitCode = kExitPending;
            return false;
        }
    }
    m_updateData.ReadPackage(ownPath.empty() ? exePath : ownPath, exePath);
    if (!m_updateData.HasPackageData() && !foreignPackage) {
        mainte.DoModal(m_windows);  // its result is not used
        m_nExitCode = mainte.m_nExitCode;
        return false;
    }

    dlg.m_bUnattended = option.m_bUnattended;
    dlg.m_bAutoStart = option.m_bAutoStart;
    dlg.m_bAutoExit = option.m_bAutoExit;
    dlg.m_bAllDrives = option.m_bAllDrives;
    dlg.m_bSilent = option.m_bSilent;
    dlg.m_strDriveLetter = option.m_strDriveLetter;
    dlg.m_strExePath = exePath;

    switch (CustomerRuleOf(m_updateData.m_strCustomer).start) {
        case CustomerStart::Unattended:
            dlg.m_bAutoExit = true;
            dlg.m_bSilent = true;
            dlg.m_bAllDrives = true;
            dlg.m_bAutoStart = true;
            break;
        case CustomerStart::AllDrives:
            dlg.m_bAllDrives = true;
            dlg.m_bAutoStart = true;
            break;
        case CustomerStart::AsAsked:
            break;
    }

    // The report replaces an old one at once (empty until the run ends): an old report never
    // speaks for this run, and a run whose report cannot be written touches no drive.
    if (option.m_bReport) {
        const WriteStatus status = reportPath.empty()
                                       ? WriteStatus::CannotCreate
                                       : WriteFileReplacing(reportPath, nullptr, 0, FileKind::Data);
        if (status != WriteStatus::Ok) {
            std::fprintf(stderr, "varnel: cannot write the report '%s': %s; nothing was done\n",
                         reportPath.c_str(),
                         reportPath.empty() ? "no file name" : WriteFailureWords(status));
            m_nExitCode = kExitLogNotWritten;
            return false;
        }
    }

    // A window that could not be made (-1) ran nothing: no drive was asked, and that is a
    // failure, never a code the exit code table does not know.
    const int result = dlg.DoModal(m_windows);
    m_nExitCode = result < 0 ? kExitPending : result;

    if (option.m_bReport) {
        RunReport report = dlg.Report();
        report.exitCode = ProcessStatus(m_nExitCode);
        const std::string text = RunReportJson(report);
        const WriteStatus status =
            WriteFileReplacing(reportPath, reinterpret_cast<const uint8_t*>(text.data()),
                               static_cast<uint32_t>(text.size()), FileKind::Data);
        // The run's own exit code stays: it tells what happened to the drives.
        if (status != WriteStatus::Ok) {
            std::fprintf(stderr, "varnel: the report '%s' was not written: %s\n",
                         reportPath.c_str(), WriteFailureWords(status));
        }
    }
    return false;
}
