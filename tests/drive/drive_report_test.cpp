#include "drive/drive_report.h"

#include <gtest/gtest.h>

#include "support/sim_support.h"

using testsupport::SimulatedDrives;

TEST(DriveReport, TextAndJsonListWhatTheUpdaterSees) {
    SimulatedDrives sim(R"(
[drive]
letter = D
vendor = "MAKER"
product = "DVD-RAM KVS-Q42R"
revision = "1.05"
customer = 2A
minor = "0A"
[drive]
letter = E
vendor = "A\"B"
product = "X\x01Y\0"
revision = "2.00"
minor = " 1"
fault = INQUIRY 2 check 5 24 00
fault = INQUIRY 4 check 5 24 00
[drive]
letter = F
open = denied
)");
    EXPECT_EQ(DescribeDrives(false),
              "Transport: pass-through\n"
              "D: MAKER    DVD-RAM KVS-Q42R 1.05  (customer 0x2A, minor revision 0A)\n"
              "E: A\"B      X\x01Y 2.00  (48-byte INQUIRY failed)\n"
              "1 drive(s) could not be opened: permission denied. Read and write access to the "
              "drive devices (on Linux the group that owns /dev/sr*, e.g. 'cdrom') lets a user "
              "list them; updating them also needs root (on Linux: or the capability "
              "CAP_SYS_RAWIO).\n");
    EXPECT_EQ(DescribeDrives(true),
              "{\"transport\": \"pass-through\", \"drives\": ["
              "{\"label\": \"D: MAKER    DVD-RAM KVS-Q42R 1.05\", \"letter\": \"D\", \"address\": "
              "\"0.0.0\", \"device\": null, \"scsi_address\": null, \"vendor\": \"MAKER   \", "
              "\"product\": \"DVD-RAM KVS-Q42R\", "
              "\"revision\": \"1.05\", \"customer\": 42, \"minor\": \"0A\"}, "
              "{\"label\": \"E: A\\\"B      X\\u0001Y 2.00\", \"letter\": \"E\", \"address\": "
              "\"0.0.0\", \"device\": null, \"scsi_address\": null, \"vendor\": \"A\\\"B     \", "
              "\"product\": \"X\\u0001Y\", "
              "\"revision\": \"2.00\", \"customer\": null, \"minor\": null}], "
              "\"denied\": 1, \"problem\": \"\"}\n");
}

TEST(DriveReport, AspiAddressesAndBrokenDriveFiles) {
    {
        SimulatedDrives sim("[drive]\naddress = 0.3.1\nproduct = \"KVS\"\n");
        const std::string json = DescribeDrives(true);
        EXPECT_NE(json.find("\"transport\": \"aspi\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"label\": \"[0.3.1]          KVS"), std::string::npos) << json;
        EXPECT_NE(json.find("\"letter\": null, \"address\": \"0.3.1\""), std::string::npos);
    }
    SimulatedDrives sim(
        "[drive]\nletter = D\nremovable = maybe\n");  // line 4: after the journal line
    const std::string text = DescribeDrives(false);
    EXPECT_NE(text.find("drives.txt:4: removable: yes or no expected\nNo drives found.\n"),
              std::string::npos)
        << text;
}

// Drives that the system names (Linux): the label carries the device name and the whole
// host:channel:target:lun, so drives whose 8-bit ASPI-style addresses are equal stay apart;
// the list says what updating them needs.
TEST(DriveReport, NamedDrivesCarryNameAndFullAddress) {
    const std::string drives =
        "[drive]\ndevice = sr10\naddress = 256:1:0:0\nproduct = \"KVS\"\n"
        "[drive]\ndevice = sr2\naddress = 0:1:0:0\nproduct = \"KVS\"\n";
    const std::string needs =
        "Updating these drives needs root or the capability CAP_SYS_RAWIO; listing them does "
        "not.\n";
    for (const bool privileged : {false, true}) {
        SimulatedDrives sim((privileged ? "needs_privilege = yes\n" : "") + drives);
        const std::string blanks = "          KVS                  ";
        EXPECT_EQ(
            "Transport: sg_io\n"
            "sr2 [0:1:0:0]" +
                blanks +
                "  (customer 0x00, minor revision none)\n"
                "sr10 [256:1:0:0]" +
                blanks + "  (customer 0x00, minor revision none)\n" + (privileged ? needs : ""),
            DescribeDrives(false));
        const std::string json = DescribeDrives(true);
        for (const char* want :
             {"\"transport\": \"sg_io\"",
              "\"letter\": null, \"address\": \"0.0.0\", \"device\": \"sr2\", \"scsi_address\": "
              "\"0:1:0:0\"",
              "\"letter\": null, \"address\": \"0.0.0\", \"device\": \"sr10\", \"scsi_address\": "
              "\"256:1:0:0\""}) {
            EXPECT_NE(json.find(want), std::string::npos) << want << "\n" << json;
        }
    }
}
