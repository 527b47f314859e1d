#include <gtest/gtest.h>

#include <memory>

#include "drive/drive_control.h"
#include "package/update_data.h"
#include "support/sim_support.h"

using testsupport::SimulatedDrives;

namespace {

struct Drive {
    char letter;
    const char* product;  // INQUIRY product field, blank padded by the simulator
    const char* revision;
    uint8_t customer = 0;
};

std::string DriveFile(const std::vector<Drive>& drives) {
    std::string text;
    for (const Drive& d : drives) {
        char customer[8];
        std::snprintf(customer, sizeof customer, "%02X", d.customer);
        text += std::string("[drive]\nletter = ") + d.letter +
                "\nvendor = \"MAKER\"\nproduct = \"" + d.product + "\"\nrevision = \"" +
                d.revision + "\"\ncustomer = " + customer + "\n";
    }
    return text;
}

// The package side of a search.
struct Package {
    std::string product = "KVS-Q42R";
    std::string imageModel;
    std::string filter = "1.0*";
    std::string customer;
    uint8_t imageCustomer = 0;
    bool sameCustomer = false;
    bool logMode = false;
    std::string newRevision = "1.05";
    bool filterFree = false;  // built "filter free" and the file name shows the minor revision
};

std::string Search(const std::vector<Drive>& drives, const Package& pkg) {
    SimulatedDrives sim(DriveFile(drives));
    auto data = std::make_unique<CUpdateData>();
    data->m_strTargetProduct = pkg.product;
    data->m_strImageModel = pkg.imageModel;
    data->m_strRevFilter = pkg.filter;
    data->m_strCustomer = pkg.customer;
    data->m_byImageCustomer = pkg.imageCustomer;
    data->m_bSameCustomer = pkg.sameCustomer;
    data->m_bLogMode = pkg.logMode;
    data->m_strNewRevision = pkg.newRevision;
    data->m_bFilterFreeMinor = pkg.filterFree;
    data->m_bMinorRevHidden = !pkg.filterFree;
    data->SearchTargets();
    std::string letters;
    for (uint8_t n = 0; n < data->GetTargetCount(); ++n) {
        letters += data->m_drive.GetDriveLetter(data->GetTargetDrive(n));
    }
    return letters;
}

}  // namespace

TEST(SearchTargets, Rules) {
    const Drive q42r105 = {'D', "DVD-RAM KVS-Q42R", "1.05"};
    Package hp;
    hp.filter = "2.**";
    hp.customer = "HPDTOENG";
    Package lower;
    lower.filter = "1.0a";
    Package all;
    all.product = "ALL";
    all.filter = "****";
    Package none;
    none.product = "";
    Package fromImage;
    fromImage.product = "";
    fromImage.imageModel = "KVS-Q42R";
    Package newer;
    newer.filter = "2.00";
    Package kw;
    kw.product = "KW31QR57";
    kw.filter = "****";
    Package freeKw;
    freeKw.product = "KW31QR58";
    freeKw.filter = "9.99";
    freeKw.filterFree = true;
    Package log;
    log.filter = "****";
    log.logMode = true;
    Package cust;
    cust.filter = "****";
    cust.imageCustomer = 0x11;
    cust.sameCustomer = true;
    Package custOff = cust;
    custOff.sameCustomer = false;
    Package custFree = cust;
    custFree.filterFree = true;

    struct Case {
        const char* name;
        std::vector<Drive> drives;
        Package pkg;
        const char* targets;
    } cases[] = {
        {"product and filter",
         {q42r105,
          {'E', "DVDRAM_KVS-Q42R", "1.10"},
          {'F', "DVD-RAM KVS-Q43R", "1.05"},
          {'G', "KVS-Q42R", "1.0\\0"},  // three characters never equal a four-character filter
          {'H', "  KVS-Q42R", "1.01"}},
         Package(),
         "DH"},
        {"revision and filter compared in upper case", {{'D', "KVS-Q42R", "1.0a"}}, lower, "D"},
        {"ALL takes every known product",
         {q42r105, {'E', "KW31QR58", "3.00"}, {'F', "CDROM XY-100", "1.00"}},
         all,
         "DE"},
        {"unknown package name", {q42r105}, none, ""},
        {"image model when no product", {q42r105}, fromImage, "D"},
        {"COR revision passes product and filter",
         {{'D', "DVD-RAM KVS-A11B", "cor1"},
          {'E', "DVD-RAM KVS-A11B", "1.05"},
          {'F', "XYZ", "COR1"}},
         newer,
         "D"},
        {"KW8 prefix and 80 suffix take the drive's name; the next drive uses the package's",
         {{'D', "KW81AB12", "1.00"},
          {'E', "KY12AB80", "1.00"},
          {'F', "KW31QR58", "1.00"},
          {'G', "KW31QR57", "1.00"}},
         kw,
         "DEG"},
        {"filter-free series digit",
         {{'D', "KW37QT52", "1.00"}, {'E', "KW37QT62", "1.00"}, {'F', "KW31QR58", "1.00"}},
         freeKw,
         "DF"},
        {"HP desktop waives the filter for 1.x",
         {{'D', "KVS-Q42R", "1.00"}, {'E', "KVS-Q42R", "2.10"}, {'F', "KVS-Q42R", "3.00"}},
         hp,
         "DE"},
        {"unattended run skips drives at the new revision",
         {{'D', "KVS-Q42R", "1.05"}, {'E', "KVS-Q42R", "1.04"}, {'F', "KVS-Q42R", "COR5"}},
         log,
         "EF"},
        {"customer byte",
         {{'D', "KVS-Q42R", "1.00", 0x11},
          {'E', "KVS-Q42R", "1.00", 0x22},
          {'F', "KVS-Q42R", "1.00", 0x00},
          {'G', "KVS-Q42R", "COR1", 0x22}},
         cust,
         "DF"},
        {"customer byte not required", {{'E', "KVS-Q42R", "1.00", 0x22}}, custOff, "E"},
        {"customer byte not required in filter-free mode",
         {{'E', "KVS-Q42R", "1.00", 0x22}},
         custFree,
         "E"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Search(c.drives, c.pkg), c.targets) << c.name;
}

TEST(SearchTargets, FailingCustomerInquiryNeverExcludes) {
    SimulatedDrives sim(DriveFile({{'D', "KVS-Q42R", "1.00", 0x22}}) +
                        "fault = INQUIRY 2+ check 5 24 00\n");
    CUpdateData data;
    data.m_strTargetProduct = "KVS-Q42R";
    data.m_strRevFilter = "****";
    data.m_byImageCustomer = 0x11;
    data.m_bSameCustomer = true;
    data.SearchTargets();
    EXPECT_EQ(data.GetTargetCount(), 1);
    EXPECT_EQ(data.GetDriveCustomerCode(0), 0);
}

TEST(SearchTargets, LabelsLettersAndRevisions) {
    SimulatedDrives sim(R"(
[drive]
letter = E
vendor = "MAKER"
product = "DVD-RAM KVS-Q42R"
revision = "1.05"
minor = "0A"
[drive]
letter = G
vendor = "MAKER"
product = "DVD-RAM KVS-Q42R"
revision = "1.06"
minor = " 1"
[drive]
letter = H
product = "DVD-RAM KVS-Q42R"
revision = "1.07"
minor = "\x80A"
[drive]
letter = K
product = "DVD-RAM KVS-Q42R"
revision = "1.08"
minor = "0A"
fault = INQUIRY 2 transport
)");
    CUpdateData data;
    EXPECT_EQ(data.FindTargetByLetter(""), 0);  // even without targets
    data.m_strTargetProduct = "KVS-Q42R";
    data.m_strRevFilter = "1.0*";
    data.SearchTargets();
    ASSERT_EQ(data.GetTargetCount(), 4);
    EXPECT_EQ(data.GetTargetLabel(0), "E: MAKER    DVD-RAM KVS-Q42R 1.05");
    EXPECT_EQ(data.FindTargetByLetter("G"), 1);
    EXPECT_EQ(data.FindTargetByLetter("Gx"), 1);
    EXPECT_EQ(data.FindTargetByLetter("g"), -1);
    EXPECT_EQ(data.FindTargetByLetter("F"), -1);

    struct Case {
        uint8_t target;
        const char* revision;
        const char* minor;
    } cases[] = {{0, "1.05", "0A"}, {1, "1.06", ""}, {2, "1.07", ""}, {3, "1.08", ""}};
    for (const Case& c : cases) {
        data.m_strCurMinorRev = "??";
        data.ReadDriveRevision(c.target);
        EXPECT_EQ(data.m_strCurRevision, c.revision);
        EXPECT_EQ(data.m_strCurMinorRev, c.minor) << c.revision;
    }
}

TEST(SearchTargets, AspiLabelsShowTheAddress) {
    SimulatedDrives sim(R"(
[drive]
address = 1.4.2
vendor = "MAKER   "
product = "DVDRAM_KVS-Q42R"
revision = "1.05"
)");
    CUpdateData data;
    data.m_strTargetProduct = "KVS-Q42R";
    data.m_strRevFilter = "1.0*";
    data.SearchTargets();
    ASSERT_EQ(data.GetTargetCount(), 1);
    EXPECT_EQ(data.GetTargetLabel(0), "[1.4.2] MAKER    DVDRAM_KVS-Q42R  1.05");
    EXPECT_EQ(data.FindTargetByLetter("D"), -1);
}
