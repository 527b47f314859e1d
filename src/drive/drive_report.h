// What the program sees of the machine's drives, for people: a list of the drives that an
// update would consider, with the identity and vendor bytes the updater reads.
#pragma once

#include <string>

#include "drive/drive_control.h"

// "[h.t.l] " for a drive found through ASPI (letter '-'), otherwise "X: ", followed by
// vendor, product and revision as the drive list holds them.
std::string DriveLabel(const CDriveControl& drive, unsigned index);

// Enumerates through a new CDriveControl (platform or simulated drives, as a run would) and
// describes every listed drive: label, vendor, product, revision, and from the 48-byte INQUIRY
// the customer byte and minor revision. Plain text, or one JSON object when json is true.
std::string DescribeDrives(bool json);
// The same over a given drive control (enumerates it).
std::string DescribeDrives(CDriveControl& drive, bool json);
