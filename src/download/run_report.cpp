#include "download/run_report.h"

#include "base/json.h"

const char* OutcomeName(DriveOutcome outcome) {
    switch (outcome) {
        case DriveOutcome::Updated:
            return "updated";
        case DriveOutcome::Skipped:
            return "skipped";
        case DriveOutcome::Failed:
            return "failed";
        case DriveOutcome::Refused:
            return "refused";
        case DriveOutcome::NotRun:
            break;
    }
    return "not_run";
}

std::string RunReportJson(const RunReport& report) {
    std::string out = "{\n";
    out += "  \"updater\": " + JsonString(report.updater) + ",\n";
    out += "  \"revision\": " + JsonString(report.revision) + ",\n";
    out += "  \"exit_code\": " + std::to_string(report.exitCode) + ",\n";
    out += "  \"drives\": [";
    for (size_t i = 0; i < report.drives.size(); ++i) {
        const ReportDrive& d = report.drives[i];
        out += i == 0 ? "\n" : ",\n";
        out += "    {\"drive\": " + JsonString(d.drive) + ", \"vendor\": " + JsonString(d.vendor) +
               ", \"product\": " + JsonString(d.product) +
               ",\n     \"revision_before\": " + JsonString(d.revisionBefore) +
               ", \"result\": " + JsonString(OutcomeName(d.outcome)) +
               ", \"error\": " + JsonString(d.error) +
               ",\n     \"revision_after\": " + JsonString(d.revisionAfter) +
               ", \"verified\": " + (d.verified ? "true" : "false") + "}";
    }
    out += report.drives.empty() ? "]\n" : "\n  ]\n";
    return out + "}\n";
}
