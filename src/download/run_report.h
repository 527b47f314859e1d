// The report of an updater run for scripts (/report=FILE): the package, the exit code and one
// entry per target drive, as JSON.
#pragma once

#include <string>
#include <vector>

#include "download/update_run.h"

struct ReportDrive {
    std::string drive;  // its drive-list label
    std::string vendor;
    std::string product;
    std::string revisionBefore;
    DriveOutcome outcome = DriveOutcome::NotRun;
    std::string error;  // in words; empty when none
    std::string revisionAfter;
    bool verified = false;
};

struct RunReport {
    std::string updater;   // the updater's file name
    std::string revision;  // the package's
    int exitCode = 0;
    std::vector<ReportDrive> drives;
};

// "updated", "skipped", "failed", "refused", "not_run".
const char* OutcomeName(DriveOutcome outcome);

// The report as a JSON object, two-space indented, ending in a line end.
std::string RunReportJson(const RunReport& report);
