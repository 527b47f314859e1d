// The Linux build's advice for drive devices that could not be opened for lack of
// permission: the group that owns the first optical drive device.
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
    EXPECT_EQ(
        "Permission denied: 2 drives could not be opened. Run the updater as root (sudo), or add "
        "your user to the group that owns the drives (often cdrom): sudo usermod -aG cdrom $USER, "
        "then log in again.",
        DriveAccessHintFor(empty.path(), 2));

    const group* cdrom = getgrnam("cdrom");
    if (cdrom == nullptr || chown(first.c_str(), static_cast<uid_t>(-1), cdrom->gr_gid) != 0)
        GTEST_SKIP() << "cannot give a file to the group cdrom";
    EXPECT_EQ(
        "Permission denied: 1 drive could not be opened. Run the updater as root (sudo), or "
        "add your user to the group that owns " +
            first + " (cdrom): sudo usermod -aG cdrom $USER, then log in again.",
        DriveAccessHintFor(dev.path(), 1));

    // A device of the group root: only root helps.
    ASSERT_EQ(0, chown(first.c_str(), static_cast<uid_t>(-1), 0));
    EXPECT_EQ("Permission denied: 1 drive could not be opened. Run the updater as root (sudo).",
              DriveAccessHintFor(dev.path(), 1));
}

}  // namespace
#endif
