// The Linux build's advice for drive devices that could not be opened for lack of
// permission (the group that owns the first optical drive device lets a user list them, not
// update them), and its test for the privilege that the firmware commands need.
#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/system_services.h"
#include "support/test_support.h"

namespace {

using testsupport::TempDir;

TEST(DriveAccessHint, NamesTheGroupOfTheFirstDrive) {
    TempDir dev;
    for (const char* name : {"sr1", "sr10", "srx", "sda"})
        testsupport::WriteAll(dev.File(name), {});
    const std::string first = dev.File("sr1");

    // No drive device at all (simulated drives): the usual group as an example.
    TempDir empty;
    const std::string onlyList =
        " only lets a user list the drives; updating them also needs the capability "
        "CAP_SYS_RAWIO.";
    EXPECT_EQ(
        "Permission denied: 2 drives could not be opened. Run the updater as root (sudo). "
        "Membership in the group that owns the drives (often cdrom)" +
            onlyList,
        DriveAccessHintFor(empty.path(), 2));

    const group* cdrom = getgrnam("cdrom");
    if (cdrom == nullptr || chown(first.c_str(), static_cast<uid_t>(-1), cdrom->gr_gid) != 0)
        GTEST_SKIP() << "cannot give a file to the group cdrom";
    EXPECT_EQ(
        "Permission denied: 1 drive could not be opened. Run the updater as root (sudo). "
        "Membership in the group that owns " +
            first + " (cdrom)" + onlyList,
        DriveAccessHintFor(dev.path(), 1));

    // A device of the group root: only root helps.
    ASSERT_EQ(0, chown(first.c_str(), static_cast<uid_t>(-1), 0));
    EXPECT_EQ("Permission denied: 1 drive could not be opened. Run the updater as root (sudo).",
              DriveAccessHintFor(dev.path(), 1));
}

// CAP_SYS_RAWIO is bit 17 of the effective set.
TEST(DrivePrivilege, EffectiveCapabilityFromTheStatusText) {
    const struct {
        const char* status;
        bool rawio;
    } cases[] = {
        {"Name:\tvarnel\nCapInh:\t0000000000020000\nCapEff:\t000001ffffffffff\n", true},
        {"CapPrm:\t0000000000020000\nCapEff:\t0000000000000000\nCapBnd:\t000001ffffffffff\n",
         false},
        {"CapEff:\t0000000000020000\n", true},
        {"CapEff:\t000001fffffdffff\n", false},  // every capability but CAP_SYS_RAWIO
        {"CapEff: 20000\n", true},
        {"CapEff:\t\n", false},
        {"CapPrm:\t0000000000020000\n", false},  // no CapEff line
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.rawio, HasEffectiveCapability(c.status, 17)) << c.status;
    EXPECT_EQ(
        "Run the updater as root (sudo), or give the program the capability CAP_SYS_RAWIO (sudo "
        "setcap cap_sys_rawio+ep /usr/bin/varnel) and run it as a member of the group that owns "
        "the drives: the group alone lets a user list the drives, not update them.",
        DrivePrivilegeAdviceFor("/usr/bin/varnel"));
}

// Folders laid out like /sys/class/power_supply: the machine is on battery when no Mains or
// USB supply is online and it has a battery of its own.
TEST(PowerSource, FromThePowerSupplyFolder) {
    struct Supply {
        const char* name;
        const char* type;
        const char* online;    // nullptr: no such file
        const char* capacity;  // nullptr: no such file
        const char* scope;
    };
    struct Case {
        const char* name;
        std::vector<Supply> supplies;
        bool onBattery;
        int percent;
    } cases[] = {
        {"desktop: no supply at all", {}, false, -1},
        {"desktop: mains only", {{"AC", "Mains", "1\n", nullptr, nullptr}}, false, -1},
        {"laptop on battery, low",
         {{"AC", "Mains", "0\n", nullptr, nullptr}, {"BAT0", "Battery", nullptr, "24\n", nullptr}},
         true,
         24},
        {"laptop on battery, enough",
         {{"AC", "Mains", "0\n", nullptr, nullptr}, {"BAT0", "Battery", nullptr, "25\n", nullptr}},
         true,
         25},
        {"laptop plugged in, low",
         {{"AC", "Mains", "1\n", nullptr, nullptr}, {"BAT0", "Battery", nullptr, "3\n", nullptr}},
         false,
         3},
        {"USB-C power online",
         {{"AC", "Mains", "0\n", nullptr, nullptr},
          {"ucsi", "USB", "1\n", nullptr, nullptr},
          {"BAT0", "Battery", nullptr, "10\n", nullptr}},
         false,
         10},
        {"battery without a mains supply", {{"BAT1", "Battery", nullptr, "12", nullptr}}, true, 12},
        {"two batteries: their mean",
         {{"AC", "Mains", "0\n", nullptr, nullptr},
          {"BAT0", "Battery", nullptr, "10\n", nullptr},
          {"BAT1", "Battery", nullptr, "60\n", nullptr}},
         true,
         35},
        {"a mouse's battery does not feed the machine",
         {{"AC", "Mains", "1\n", nullptr, nullptr},
          {"hid-mouse", "Battery", nullptr, "5\n", "Device"}},
         false,
         -1},
        {"only a mouse's battery", {{"hid-mouse", "Battery", nullptr, "5\n", "Device"}}, false, -1},
        {"charge unknown",
         {{"AC", "Mains", "0\n", nullptr, nullptr}, {"BAT0", "Battery", nullptr, nullptr, nullptr}},
         true,
         -1},
        {"charge unreadable",
         {{"AC", "Mains", "0\n", nullptr, nullptr}, {"BAT0", "Battery", nullptr, "-4\n", nullptr}},
         true,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        for (const Supply& supply : c.supplies) {
            const std::string folder = dir.File(supply.name);
            ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
            const auto write = [&](const char* file, const char* text) {
                if (text != nullptr)
                    testsupport::WriteAll(folder + "/" + file,
                                          std::vector<uint8_t>(text, text + strlen(text)));
            };
            write("type", (std::string(supply.type) + "\n").c_str());
            write("online", supply.online);
            write("capacity", supply.capacity);
            write("scope", supply.scope);
        }
        const PowerSource power = PowerSourceOf(dir.path());
        EXPECT_EQ(c.onBattery, power.onBattery);
        EXPECT_EQ(c.percent, power.batteryPercent);
    }
    EXPECT_FALSE(PowerSourceOf("/no/such/folder").onBattery);
}

}  // namespace
#endif
