// The console window: the updater dialog driven by typed lines, and the generic commands
// that every other dialog understands.
#include "ui/console_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "package/update_data.h"
#include "support/fake_services.h"
#include "support/sim_support.h"
#include "support/test_support.h"
#include "support/updater_builder.h"
#include "ui/dialog_base.h"
#include "ui/varnel_dlg.h"

using testsupport::FakeServices;
using testsupport::SimulatedDrives;
using testsupport::TempDir;

namespace {

std::string Drive(char letter, const std::string& revision, const std::string& extra = "") {
    return std::string("[drive]\nletter = ") + letter +
           "\nvendor = \"QZEN\"\nproduct = \"DVD-RAM KVS-Q42R\"\nrevision = \"" + revision +
           "\"\n" + extra;
}

struct ConsoleRun {
    int result = 0;
    std::string output;
};

ConsoleRun RunUpdater(const std::string& drives, const std::string& input,
                      void (*options)(CVarnelDlg&) = nullptr) {
    TempDir dir;
    FakeServices services;
    services.windowsFolder = dir.path();
    SimulatedDrives sim(drives);
    const std::string exe = testsupport::BuildUpdater(dir.path(), testsupport::UpdaterSpec());
    CUpdateData data;
    data.ReadPackage(exe);
    CVarnelDlg dlg(services);
    dlg.m_pUpdateData = &data;
    if (options != nullptr)
        options(dlg);
    std::istringstream in(input);
    std::ostringstream out;
    CConsoleWindowFactory windows(in, out, false);
    ConsoleRun run;
    run.result = dlg.DoModal(windows);
    run.output = out.str();
    return run;
}

TEST(ConsoleWindow, ChooseAllDrivesUpdateThenExit) {
    const ConsoleRun run = RunUpdater(Drive('D', "1.00") + Drive('E', "1.01"), "3\nu\nx\n");
    EXPECT_EQ(kExitSuccess, run.result);
    const std::string& out = run.output;
    EXPECT_NE(std::string::npos, out.find("  1) D: QZEN     DVD-RAM KVS-Q42R 1.00\n"));
    EXPECT_NE(std::string::npos, out.find(" >3) *: All target drives. (2units)\n"));
    EXPECT_NE(std::string::npos, out.find("Current version: ****    New version: 1.05\n"));
    const size_t running = out.find("Message: Now updating.");
    const size_t done = out.find("Message: Updating was completed successfully.");
    ASSERT_NE(std::string::npos, running);
    ASSERT_NE(std::string::npos, done);
    EXPECT_LT(running, done);
    EXPECT_NE(std::string::npos, out.find("[u] REBOOT   [x] EXIT"));
    EXPECT_NE(std::string::npos, out.find("  2) E: QZEN     DVD-RAM KVS-Q42R 1.05\n"));
    // Plain lines only: no control sequences.
    EXPECT_EQ(std::string::npos, out.find('\x1b'));
}

TEST(ConsoleWindow, EndOfInputExitsAndUnknownInputIsRefused) {
    const ConsoleRun run = RunUpdater(Drive('D', "1.00"), "9\nzz\n");
    EXPECT_EQ(kExitPending, run.result);
    EXPECT_NE(std::string::npos, run.output.find("?\n"));
    EXPECT_EQ(std::string::npos, run.output.find("Message: Now updating."));
}

TEST(ConsoleWindow, SilentRunPrintsNothing) {
    const ConsoleRun run = RunUpdater(Drive('D', "1.00"), "", [](CVarnelDlg& dlg) {
        dlg.m_bSilent = dlg.m_bAutoStart = dlg.m_bAutoExit = true;
    });
    EXPECT_EQ(kExitSuccess, run.result);
    EXPECT_EQ("", run.output);
}

TEST(ConsoleWindow, AboutBoxAndMessageDialog) {
    const ConsoleRun run = RunUpdater(Drive('D', "1.00"), "a\n\nx\n");
    EXPECT_NE(std::string::npos, run.output.find("Varnel engine Version 3.74K\n"));
}

class CFormDlg : public CDialogBase {
public:
    CFormDlg() : CDialogBase(900) {
        BindText(10, &m_strName);
        BindCheck(11, &m_bOption);
    }
    bool OnInitDialog() override {
        CDialogBase::OnInitDialog();
        Window().ListAdd(12, "alpha");
        Window().ListAdd(12, "beta");
        Window().SetDefaultButton(kIdOk);
        return true;
    }
    void OnCommand(int id, int notify) override {
        if (id == 12 && notify == kNotifySelChange)
            m_nSelected = Window().ListGetSel(12);
        if (id == 13 && notify == kNotifyClicked) {
            m_answer = MessageBox("Go on?", "Question", kMbYesNo | kMbIconQuestion);
        }
        CDialogBase::OnCommand(id, notify);
    }
    std::string m_strName;
    bool m_bOption = false;
    int m_nSelected = -1;
    int m_answer = 0;
};

TEST(ConsoleWindow, GenericCommandsDriveAnyDialog) {
    CFormDlg dlg;
    std::istringstream in("t 10 new name\nk 11\ns 12 2\nc 13\ny\n\n");
    std::ostringstream out;
    CConsoleWindowFactory windows(in, out, false);
    EXPECT_EQ(kIdOk, dlg.DoModal(windows));  // the empty line presses the default button
    EXPECT_EQ("new name", dlg.m_strName);
    EXPECT_TRUE(dlg.m_bOption);
    EXPECT_EQ(1, dlg.m_nSelected);
    EXPECT_EQ(kAnswerYes, dlg.m_answer);
    EXPECT_NE(std::string::npos, out.str().find("    1) alpha\n"));
    EXPECT_NE(std::string::npos, out.str().find("[Question] Go on?"));
}

}  // namespace
