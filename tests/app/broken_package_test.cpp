// An updater whose CORE image fails its check never sends firmware: in every way a run
// could start (a click, the switches, the customer rules) the drives' journal holds no
// WRITE BUFFER and no SEND DIAGNOSTIC, and the dialog is in its broken-file state.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "app/varnel_app.h"
#include "base/path_rules.h"
#include "package/sample_images.h"
#include "package/update_data.h"
#include "support/fake_services.h"
#include "support/headless_window.h"
#include "support/sim_support.h"
#include "support/test_support.h"
#include "support/updater_builder.h"
#include "ui/varnel_dlg.h"

using testsupport::FakeServices;
using testsupport::SimulatedDrives;
using testsupport::TempDir;

namespace {

uint32_t BE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A complete updater for KVS-Q42R drives whose CORE code has one damaged byte.
std::string BuildBrokenCoreUpdater(const std::string& dir, const std::string& customer) {
    SampleImageSpec mainSpec, coreSpec;
    coreSpec.main = false;
    std::string error;
    EXPECT_TRUE(WriteSampleSet(dir, mainSpec, coreSpec, &error)) << error;
    auto data = std::make_unique<CUpdateData>();
    data->ReadPackage(testsupport::DataPath("engine.bin"));
    EXPECT_EQ(0, data->LoadParameterFile(dir + kPathSeparator + "sample.prm"));
    const uint32_t core = BE32(data->m_pFirmware + 68) + 1024;  // CORE follows MAIN
    EXPECT_LT(core + 1024 + 100, data->GetFirmwareLength());
    data->m_pFirmware[core + 1024 + 100] ^= 0x21;
    data->SetTargetProduct("KVS-Q42R");
    data->SetRevisionFilter("1.0*");
    data->m_strCustomer = customer;
    const std::string path = dir + kPathSeparator + "upd.exe";
    testsupport::WriteUncheckedUpdater(*data, path);
    return path;
}

std::string Drives() {
    std::string out;
    for (char letter : {'D', 'E'}) {
        out += std::string("[drive]\nletter = ") + letter +
               "\nvendor = \"QZEN\"\nproduct = \"DVD-RAM KVS-Q42R\"\nrevision = \"1.00\"\n";
    }
    return out;
}

}  // namespace

TEST(BrokenPackage, NoFirmwareIsSentInAnyMode) {
    struct Case {
        const char* customer;
        std::vector<std::string> args;
        int exitCode;
    } cases[] = {
        {"", {}, kExitPending},  // a person clicks UPDATE
        {"", {"/s"}, kExitPending},
        {"", {"/s", "/all"}, kExitPending},
        {"", {"/au", "/all"}, kExitPending},
        {"", {"/lw"}, kExitUnattended},
        {"", {"/lw", "/all", "/s"}, kExitUnattended},
        {"LENOVO", {}, kExitPending},
        {"HPCPC", {}, kExitPending},
        {"HPBPC", {}, kExitPending},
        {"HPDTOCPE", {}, kExitPending},
    };
    for (const Case& c : cases) {
        std::string name = c.customer;
        for (const auto& a : c.args)
            name += " " + a;
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string exe = BuildBrokenCoreUpdater(dir.path(), c.customer);
        {
            CUpdateData check;
            check.ReadPackage(exe);
            ASSERT_TRUE(check.IsPackageBroken());
        }
        SimulatedDrives sim(Drives());
        FakeServices services;
        services.windowsFolder = dir.path();
        services.modulePath = exe;
        services.executablePath = exe;
        services.arguments = c.args;
        CHeadlessWindowFactory windows;
        // Whatever can be pressed is pressed.
        windows.scripts[IDD_VARNEL] = {[](CHeadlessWindow& win) {
            win.SelectEntry(IDC_DRIVE_LIST, 0);
            win.Click(IDC_UPDATE);
            win.PostCommand(IDC_UPDATE);
        }};
        int exitCode = 0;
        {
            CVarnelApp app(services, windows);
            EXPECT_FALSE(app.InitInstance());
            exitCode = app.ExitInstance();
        }
        EXPECT_EQ(c.exitCode, exitCode);
        CHeadlessWindow* w = windows.Find(IDD_VARNEL);
        ASSERT_NE(nullptr, w);
        EXPECT_EQ("The file may be broken.", w->Text(IDC_MESSAGE_AREA));
        EXPECT_FALSE(w->Control(IDC_UPDATE).enabled);
        EXPECT_FALSE(w->stuckHidden);
        const auto journal = sim.Journal();
        EXPECT_FALSE(journal.empty());  // the drives were there to be found
        for (const auto& e : journal) {
            EXPECT_NE(0u, e.cdb.rfind("3B ", 0)) << e.drive << " " << e.cdb;
            EXPECT_NE(0u, e.cdb.rfind("1D ", 0)) << e.drive << " " << e.cdb;
        }
        EXPECT_EQ(0, services.threadsStarted);
        EXPECT_EQ("1.00", sim.State()[0].revision);
    }
}
