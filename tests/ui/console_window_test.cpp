// The console window: the updater dialog driven by typed lines, and the generic commands
// that every other dialog understands.
#include "ui/console_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <sstream>

#include "package/sample_images.h"
#include "package/update_data.h"
#include "support/fake_services.h"
#include "support/sim_support.h"
#include "support/test_support.h"
#include "support/updater_builder.h"
#include "ui/about_dlg.h"
#include "ui/console_layout.h"
#include "ui/dialog_base.h"
#include "ui/mainte_dlg.h"
#include "ui/message_dlg.h"
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

TEST(ConsoleWindow, StopRequestEndsTheInput) {
    TempDir dir;
    FakeServices services;
    SimulatedDrives sim(Drive('D', "1.00"));
    CUpdateData data;
    data.ReadPackage(testsupport::BuildUpdater(dir.path(), testsupport::UpdaterSpec()));
    CVarnelDlg dlg(services);
    dlg.m_pUpdateData = &data;
    std::istringstream in("u\n");
    std::ostringstream out;
    CConsoleWindowFactory windows(in, out, false);
    windows.SetStopRequest([] { return true; });    // an interrupt arrived
    EXPECT_EQ(kExitPending, dlg.DoModal(windows));  // closed as EXIT, "u" never read
    EXPECT_EQ(std::string::npos, out.str().find("Now updating"));
}

TEST(ConsoleWindow, SilentRunPrintsNothing) {
    const ConsoleRun run = RunUpdater(Drive('D', "1.00"), "", [](CVarnelDlg& dlg) {
        dlg.m_bSilent = dlg.m_bAutoStart = dlg.m_bAutoExit = true;
    });
    EXPECT_EQ(kExitSuccess, run.result);
    EXPECT_EQ("", run.output);
}

TEST(ConsoleWindow, AboutBoxIsFramed) {
    const ConsoleRun run = RunUpdater(Drive('D', "1.00"), "a\n\nx\n");
    EXPECT_NE(std::string::npos, run.output.find("+- About Varnel ----"));
    EXPECT_NE(std::string::npos, run.output.find("\n| Varnel engine Version 3.74K         |\n"
                                                 "| Copyright (C) The Varnel developers |\n"));
    EXPECT_EQ(kExitPending, run.result);
}

TEST(ConsoleWindow, PlainProgressLinesDuringTheRun) {
    const std::string slow = "delay_ms = 20\n";
    const ConsoleRun run =
        RunUpdater(Drive('D', "1.00", slow) + Drive('E', "1.01", slow), "3\nu\nx\n");
    EXPECT_EQ(kExitSuccess, run.result);
    const std::string& out = run.output;
    // A first report before any drive is done, the last one with every drive done.
    const size_t first = out.find("Progress: D: ");
    const size_t last = out.rfind("Progress: E: ");
    ASSERT_NE(std::string::npos, first);
    ASSERT_NE(std::string::npos, last);
    EXPECT_EQ(std::string::npos, out.substr(first, out.find('\n', first) - first).find("done"));
    EXPECT_NE(std::string::npos, out.find("] 100%  ", last));
    EXPECT_NE(std::string::npos,
              out.find("bytes  verified\nMessage: Updating was completed", last));
    EXPECT_LT(out.find("Message: Now updating."), first);
}

TEST(ConsoleWindow, MaintenanceFromLoadToGenerate) {
    TempDir dir;
    FakeServices services;
    SampleImageSpec mainSpec, coreSpec;
    mainSpec.model = "KVS-Q42R";
    mainSpec.revision = "1.10";
    coreSpec.main = false;
    std::string error;
    ASSERT_TRUE(WriteSampleSet(dir.path(), mainSpec, coreSpec, &error)) << error;
    CUpdateData data;
    data.ReadPackage(testsupport::DataPath("engine.bin"));
    CMainteDlg dlg(services);
    dlg.m_pUpdateData = &data;
    const std::string out = dir.File("custom.exe");
    // Options after the product: choosing a product refreshes every box from the members.
    std::istringstream in("p " + dir.File("sample.prm") +
                          "\nl\ntp 1\nff\nno\nrf 1.=\ncn lenovo\ncn ACME\no " + out + "\ng\n");
    std::ostringstream screen;
    CConsoleWindowFactory windows(in, screen, false, true);
    EXPECT_EQ(kIdOk, dlg.DoModal(windows));
    const std::string text = screen.str();
    for (const std::string& want : std::vector<std::string>{
             "== Varnel.exe - Maintenance mode Ver.3.74K ==\n",
             "\n p   Parameter file (*.prm): " + dir.File("sample.prm") + "\n",
             "\n     Main Program  main.bin                " + data.m_strMainSize + "\n",
             "\n i   Inquiry Rev.: 1.10\n",
             "\n     Status: Load OK (Push Generate button)\n",
             "\n ff  [x] Filter free when minor rev. is shown.\n",
             "\n no  [x] Only newer rev. can be updated.\n",
             "\n cc  [ ] Only same Customer Code.\n",
             "\n rf  Inquiry Rev. Filter: 1 . = *\n",
             "\n cn  Customer: LENOVO\n",
             "> cn ACME\n?\n",  // not a code of the list
             "\n o   " + std::string(kMainteOutputLabel) + ": " + out + "\n",
         }) {
        EXPECT_NE(std::string::npos, text.find(want)) << want;
    }
    CUpdateData written;
    written.ReadPackage(out);
    ASSERT_FALSE(written.IsPackageEmpty());
    EXPECT_EQ("LENOVO", written.m_strCustomer);
    EXPECT_EQ("1.1*", written.m_strRevFilter);
    EXPECT_TRUE(written.m_bFilterFreeMinor);
    EXPECT_TRUE(written.m_bOnlyNewer);
    EXPECT_FALSE(written.m_bSameCustomer);
}

TEST(ConsoleWindow, EveryDialogOfTheProgramHasItsLayout) {
    for (int id : {IDD_VARNEL, IDD_MAINTE, IDD_MESSAGE, IDD_ABOUT}) {
        const IConsoleLayout* layout = FindConsoleLayout(id);
        ASSERT_NE(nullptr, layout) << id;
        EXPECT_EQ(id, layout->TemplateId());
    }
    EXPECT_EQ(nullptr, FindConsoleLayout(900));  // shown generically
}

TEST(ConsoleWindow, MessageBoxIsFramedAndEnterIsOk) {
    CMessageDlg dlg;
    dlg.m_strMessage = "The update is done.";
    std::istringstream in("x\n\n");
    std::ostringstream out;
    CConsoleWindowFactory windows(in, out, false);
    EXPECT_EQ(kIdOk, dlg.DoModal(windows));
    EXPECT_NE(std::string::npos, out.str().find("+- Varnel ---"));
    EXPECT_NE(std::string::npos, out.str().find("| The update is done.      |\n"
                                                "|                          |\n"
                                                "|          [ OK ]          |\n"));
    EXPECT_NE(std::string::npos, out.str().find("[Enter] OK\n> ?\n"));  // "x" is no command
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
    EXPECT_NE(std::string::npos, out.str().find("+- Question ------"));
    EXPECT_NE(std::string::npos, out.str().find("| Go on?                   |\n"
                                                "|                          |\n"
                                                "|     [ Yes ]  [ No ]      |\n"));
}

// A dialog that reports made-up progress at given times of a manual clock.
class CProgressDlg : public CDialogBase {
public:
    struct Report {
        uint64_t at;
        uint32_t sentD, sentE;
        uint8_t resultD, resultE;
    };
    CProgressDlg(uint64_t* clock, std::vector<Report> reports)
        : CDialogBase(901), m_pClock(clock), m_reports(std::move(reports)) {}
    void OnCommand(int id, int notify) override {
        if (id == 20 && notify == kNotifyClicked) {
            for (const Report& r : m_reports) {
                *m_pClock = r.at;
                Window().ShowProgress({{"D: QZEN DVD-RAM 1.00", r.sentD, 1000, r.resultD},
                                       {"[0.1.0] QZEN DVD-RAM 1.01", r.sentE, 1000, r.resultE}});
            }
            return;
        }
        CDialogBase::OnCommand(id, notify);
    }

private:
    uint64_t* m_pClock;
    std::vector<Report> m_reports;
};

TEST(ConsoleWindow, PlainProgressAboutOnceASecondAndAtEveryChangeOfState) {
    uint64_t now = 0;
    CProgressDlg dlg(&now, {
                               {0, 0, 0, 255, 255},         // shown: the run starts
                               {300, 300, 200, 255, 255},   // too soon
                               {950, 500, 400, 255, 255},   // shown: most of a second
                               {1000, 520, 410, 255, 255},  // too soon
                               {1200, 1000, 800, 0, 255},   // shown: D is done
                               {1250, 1000, 800, 0, 255},   // nothing new
                               {1300, 1000, 800, 0, 11},    // shown: E failed
                               {5000, 1000, 800, 0, 11},    // nothing new
                           });
    std::istringstream in("c 20\n");
    std::ostringstream out;
    CConsoleWindowFactory windows(in, out, false, true, [&now] { return now; });
    dlg.DoModal(windows);
    const std::string text = out.str();
    std::vector<std::string> progress;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Progress: ", 0) == 0)
            progress.push_back(line.substr(10));
    }
    const std::vector<std::string> expected = {
        "D:      [....................]   0%  0/1000 bytes",
        "[0.1.0] [....................]   0%  0/1000 bytes",
        "D:      [##########..........]  50%  500/1000 bytes",
        "[0.1.0] [########............]  40%  400/1000 bytes",
        "D:      [####################] 100%  1000/1000 bytes  done",
        "[0.1.0] [################....]  80%  800/1000 bytes",
        "D:      [####################] 100%  1000/1000 bytes  done",
        "[0.1.0] [################....]  80%  800/1000 bytes  failed",
    };
    EXPECT_EQ(expected, progress);
}

TEST(ConsoleWindow, ProgressLineStates) {
    const struct {
        uint32_t sent, total;
        uint8_t result;
        uint8_t verified;
        const char* line;
    } cases[] = {
        {250, 1000, 255, 0, "D:      [##........]  25%  250/1000 bytes"},
        {1000, 1000, 255, 0, "D:      [##########] 100%  1000/1000 bytes  finishing"},
        {0, 1000, 14, 0, "D:      [..........]   0%  0/1000 bytes  skipped"},
        {4000, 1000, 12, 0, "D:      [##########] 100%  1000/1000 bytes  failed"},  // clamped
        {0, 0, 255, 0, "D:      [..........]   0%  0/0 bytes"},
        {1000, 1000, 0, 0, "D:      [##########] 100%  1000/1000 bytes  done"},
        {1000, 1000, 0, 1, "D:      [##########] 100%  1000/1000 bytes  verified"},
        {1000, 1000, 0, 2, "D:      [##########] 100%  1000/1000 bytes  at restart"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.line, ProgressLine({"D: QZEN", c.sent, c.total, c.result, c.verified}, 10))
            << c.line;
    }
}

// Without escape sequences and their line ends: the lines a terminal shows.
std::vector<std::string> ScreenRows(const std::string& output) {
    std::string plain;
    for (size_t i = 0; i < output.size(); ++i) {
        if (output[i] == '\x1b') {
            while (i < output.size() && !std::isalpha(static_cast<unsigned char>(output[i])))
                ++i;
            continue;
        }
        plain += output[i];
    }
    std::vector<std::string> rows;
    std::istringstream lines(plain);
    for (std::string line; std::getline(lines, line);) {
        // The next drawing follows a prompt that the typed line's Enter would have ended.
        while (line.rfind("> ", 0) == 0)
            line.erase(0, 2);
        rows.push_back(line);
    }
    return rows;
}

TEST(ConsoleWindow, TerminalScreenIsFramedAndRedrawnInPlace) {
    TempDir dir;
    FakeServices services;
    services.windowsFolder = dir.path();
    const std::string slow = "delay_ms = 20\n";
    SimulatedDrives sim(Drive('D', "1.00", slow) + Drive('E', "1.01", slow));
    CUpdateData data;
    data.ReadPackage(testsupport::BuildUpdater(dir.path(), testsupport::UpdaterSpec()));
    CVarnelDlg dlg(services);
    dlg.m_pUpdateData = &data;
    std::istringstream in("3\nu\na\n\nx\n");
    std::ostringstream out;
    CConsoleWindowFactory windows(in, out, true);
    EXPECT_EQ(kExitSuccess, dlg.DoModal(windows));
    const std::string text = out.str();
    EXPECT_NE(std::string::npos, text.find("\x1b[H"));
    EXPECT_EQ(std::string::npos, text.find("Progress: "));  // bars are on the screen instead
    const std::vector<std::string> rows = ScreenRows(text);
    auto has = [&rows](const std::string& content) {
        const std::string row = "| " + content + std::string(74 - content.size(), ' ') + " |";
        return std::find(rows.begin(), rows.end(), row) != rows.end();
    };
    EXPECT_NE(rows.end(),
              std::find(rows.begin(), rows.end(), "+- Varnel " + std::string(67, '-') + "+"));
    EXPECT_TRUE(has(" > 3) *: All target drives. (2units)"));
    EXPECT_TRUE(has("   Current version: ****         New version: 1.05"));
    const std::string done = "Updating was completed successfully. Please reboot the PC.";
    EXPECT_TRUE(has("| " + done + std::string(70 - done.size(), ' ') + " |"));  // message area
    EXPECT_TRUE(has("   [u] REBOOT    [x] EXIT"));
    EXPECT_NE(rows.end(), std::find(rows.begin(), rows.end(),
                                    "| Varnel engine Version 3.74K         |"));  // the about box
    // Both bars part-way at some redraw, and done at the end.
    auto partly = [&rows](char drive) {
        return std::any_of(rows.begin(), rows.end(), [drive](const std::string& row) {
            return row.rfind(std::string("|    ") + drive + ":      [#", 0) == 0 &&
                   row.find(".] ") != std::string::npos;
        });
    };
    EXPECT_TRUE(partly('D'));
    EXPECT_TRUE(partly('E'));
    const std::string length = std::to_string(data.GetFirmwareLength());
    EXPECT_TRUE(has("   E:      [####################] 100%  " + length + "/" + length +
                    " bytes  verified"));
    // Every row fits a terminal of 80 columns.
    for (const std::string& row : rows)
        EXPECT_LE(row.size(), 80u) << row;
}

}  // namespace
