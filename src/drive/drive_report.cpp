#include "drive/drive_report.h"

#include <cstdio>
#include <vector>

#include "base/json.h"
#include "drive/scsi_commands.h"

namespace {

struct DriveLine {
    std::string label, vendor, product, revision, minor;
    std::string address;  // "h.t.l"
    std::string device, fullAddress;
    char letter = '-';
    bool inquiryOk = false;
    uint8_t customer = 0;
};

}  // namespace

std::string DriveLabel(const CDriveControl& drive, unsigned index) {
    return AddressText(drive.GetDriveInfo(index).address) + " " + drive.GetVendor(index) + " " +
           drive.GetProduct(index) + " " + drive.GetRevision(index);
}

std::string DescribeDrives(bool json) {
    CDriveControl drive;
    return DescribeDrives(drive, json);
}

std::string DescribeDrives(CDriveControl& drive, bool json) {
    drive.EnumerateDrives(true);
    std::vector<DriveLine> lines;
    for (unsigned i = 0; i < drive.GetDriveCount(); ++i) {
        DriveLine l;
        l.label = DriveLabel(drive, i);
        l.vendor = drive.GetVendor(i);
        l.product = drive.GetProduct(i);
        l.revision = drive.GetRevision(i);
        l.letter = drive.GetDriveLetter(i);
        l.address = std::to_string(drive.GetHostAdapter(i)) + "." +
                    std::to_string(drive.GetTarget(i)) + "." + std::to_string(drive.GetLun(i));
        const DriveAddress where = drive.GetDriveInfo(i).address;
        l.device = where.name;
        l.fullAddress = where.fullAddress;
        drive.SelectDrive(i);
        uint8_t inquiry[scsi::kLongInquiryLength] = {};
        l.inquiryOk = scsi::Inquiry(drive, inquiry, scsi::kLongInquiryLength) == kStatusGood;
        if (l.inquiryOk) {
            l.customer = scsi::InquiryCustomer(inquiry);
            l.minor = scsi::InquiryMinorRevision(inquiry);
        }
        lines.push_back(l);
    }
    const int denied = drive.GetDeniedDevices();
    const std::string problem = drive.GetTransportProblem();

    std::string out;
    if (json) {
        out = "{\"transport\": " + JsonString(drive.GetTransportName()) + ", \"drives\": [";
        for (size_t i = 0; i < lines.size(); ++i) {
            const DriveLine& l = lines[i];
            out += i ? ", {" : "{";
            out += "\"label\": " + JsonString(l.label);
            out += ", \"letter\": " +
                   (l.letter == '-' ? std::string("null") : JsonString(std::string(1, l.letter)));
            out += ", \"address\": " + JsonString(l.address);
            out += ", \"device\": " + (l.device.empty() ? "null" : JsonString(l.device));
            out += ", \"scsi_address\": " +
                   (l.fullAddress.empty() ? "null" : JsonString(l.fullAddress));
            out += ", \"vendor\": " + JsonString(l.vendor);
            out += ", \"product\": " + JsonString(l.product);
            out += ", \"revision\": " + JsonString(l.revision);
            out += ", \"customer\": " + (l.inquiryOk ? std::to_string(l.customer) : "null");
            out += ", \"minor\": " + (l.inquiryOk ? JsonString(l.minor) : "null");
            out += "}";
        }
        out += "], \"denied\": " + std::to_string(denied) +
               ", \"problem\": " + JsonString(problem) + "}\n";
        return out;
    }

    out = "Transport: " + drive.GetTransportName() + "\n";
    if (!problem.empty())
        out += problem + "\n";
    if (lines.empty())
        out += "No drives found.\n";
    for (const DriveLine& l : lines) {
        char extra[64];
        if (l.inquiryOk) {
            std::snprintf(extra, sizeof extra, "customer 0x%02X, minor revision %s", l.customer,
                          l.minor.empty() ? "none" : l.minor.c_str());
        } else {
            std::snprintf(extra, sizeof extra, "48-byte INQUIRY failed");
        }
        out += l.label + "  (" + extra + ")\n";
    }
    if (denied > 0) {
        out += std::to_string(denied) +
               " drive(s) could not be opened: permission denied. Read and write access to the "
               "drive devices (on Linux the group that owns /dev/sr*, e.g. 'cdrom') lets a user "
               "list them; updating them also needs root (on Linux: or the capability "
               "CAP_SYS_RAWIO).\n";
    }
    if (drive.NeedsPrivilege() && !lines.empty())
        out +=
            "Updating these drives needs root or the capability CAP_SYS_RAWIO; listing them "
            "does not.\n";
    return out;
}
