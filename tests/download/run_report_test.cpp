#include "download/run_report.h"

#include <gtest/gtest.h>

TEST(RunReport, JsonOfEveryOutcome) {
    RunReport report;
    report.updater = "Q42R1.10";
    report.revision = "1.10";
    report.exitCode = 3;
    const DriveOutcome outcomes[] = {DriveOutcome::Updated, DriveOutcome::Skipped,
                                     DriveOutcome::Failed, DriveOutcome::Refused,
                                     DriveOutcome::NotRun};
    for (DriveOutcome o : outcomes) {
        ReportDrive d;
        d.drive = "D: QZEN     DVD-RAM KVS-Q42R 1.00";
        d.vendor = "QZEN";
        d.product = "DVD-RAM \"Q42R\"";
        d.revisionBefore = "1.00";
        d.outcome = o;
        d.error = o == DriveOutcome::Failed ? "a\\b\n" : "";
        d.revisionAfter = o == DriveOutcome::Updated ? "1.10" : "";
        d.verified = o == DriveOutcome::Updated;
        report.drives.push_back(d);
    }
    const std::string drive =
        "    {\"drive\": \"D: QZEN     DVD-RAM KVS-Q42R 1.00\", \"vendor\": \"QZEN\", "
        "\"product\": \"DVD-RAM \\\"Q42R\\\"\",\n     \"revision_before\": \"1.00\", ";
    EXPECT_EQ(
        "{\n"
        "  \"updater\": \"Q42R1.10\",\n"
        "  \"revision\": \"1.10\",\n"
        "  \"exit_code\": 3,\n"
        "  \"drives\": [\n" +
            drive +
            "\"result\": \"updated\", \"error\": \"\",\n"
            "     \"revision_after\": \"1.10\", \"verified\": true},\n" +
            drive +
            "\"result\": \"skipped\", \"error\": \"\",\n"
            "     \"revision_after\": \"\", \"verified\": false},\n" +
            drive +
            "\"result\": \"failed\", \"error\": \"a\\\\b\\u000a\",\n"
            "     \"revision_after\": \"\", \"verified\": false},\n" +
            drive +
            "\"result\": \"refused\", \"error\": \"\",\n"
            "     \"revision_after\": \"\", \"verified\": false},\n" +
            drive +
            "\"result\": \"not_run\", \"error\": \"\",\n"
            "     \"revision_after\": \"\", \"verified\": false}\n"
            "  ]\n"
            "}\n",
        RunReportJson(report));
    report.drives.clear();
    EXPECT_EQ(
        "{\n  \"updater\": \"Q42R1.10\",\n  \"revision\": \"1.10\",\n  \"exit_code\": 3,\n"
        "  \"drives\": []\n}\n",
        RunReportJson(report));
}
