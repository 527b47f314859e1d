// The Linux build's advice for drive devices that could not be opened for lack of
// permission (the group that owns the first optical drive device lets a user list them, not
// update them), and its test for the privilege that the firmware commands need.
#ifndef _WIN32
#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

}  // namespace
#endif
