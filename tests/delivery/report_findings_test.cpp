#include "delivery/report_findings.h"

#include <gtest/gtest.h>

#include <string>

#include "common/failure.h"
#include "common/failure_of.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::failureOf;
using test::TempDir;

const std::string kHeading =
    "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,Tx "
    "Rate,Job ID,Schedule Type";

// A job line of out1.txt with the fields the mail reads.
std::string jobLine(const std::string& policy, const std::string& client, const std::string& status,
                    const std::string& jobId) {
    return policy + ",Daily," + client +
           ",12/06/2026 06:00:00,12/06/2026 06:10:00,00:10:00,100,5,2 weeks," + status + ",10," +
           jobId + ",Full";
}

ReportFindings findingsOf(const std::string& table, std::size_t keep = 100) {
    TempDir dir;
    dir.write("out1.txt", table);
    return readFindings(dir.file("out1.txt"), keep);
}

TEST(ReportFindings, ListsFailedJobsUnderTheirCarriedPolicyAndMissingPolicies) {
    for (const std::string end : {"\r\n", "\n"}) {
        SCOPED_TRACE(end == "\n" ? "LF" : "CR LF");
        const std::string table = kHeading + end + jobLine("Pol_A", "c1", "0", "101") + end +
                                  jobLine("", "c2", "58", "102") + end +
                                  jobLine("", "c3", "1", "103") + end + "Pol_B,Not Found" + end +
                                  jobLine("Caf\xE9", "c\xE9", "", "104") + end +
                                  jobLine("", "c5", "150", "105") + end + "Pol_\xC3\xA9,Not Found";

        const ReportFindings findings = findingsOf(table);

        const std::vector<FailedJob> failed = {
            {"Pol_A", "c2", "Daily", "58", "102", "12/06/2026 06:00:00"},
            {"Caf\xE9", "c\xE9", "Daily", "", "104", "12/06/2026 06:00:00"},
            {"Caf\xE9", "c5", "Daily", "150", "105", "12/06/2026 06:00:00"},
        };
        EXPECT_EQ(findings.failed, failed);
        EXPECT_EQ(findings.failedCount, 3u);
        EXPECT_EQ(findings.notFound, (std::vector<std::string>{"Pol_B", "Pol_\xC3\xA9"}));
        EXPECT_EQ(findings.notFoundCount, 2u);
    }
}

TEST(ReportFindings, KeepsTheFirstFewAndCountsAll) {
    std::string table = kHeading + "\r\n";
    for (int i = 0; i < 7; ++i)
        table += jobLine(std::string("P") + std::to_string(i), "c", "2", std::to_string(i)) + "\r\n";
    for (int i = 0; i < 4; ++i)
        table += std::string("N") + std::to_string(i) + ",Not Found\r\n";

    const ReportFindings findings = findingsOf(table, 3);

    ASSERT_EQ(findings.failed.size(), 3u);
    EXPECT_EQ(findings.failed.back().jobId, "2");
    EXPECT_EQ(findings.failedCount, 7u);
    EXPECT_EQ(findings.notFound, (std::vector<std::string>{"N0", "N1", "N2"}));
    EXPECT_EQ(findings.notFoundCount, 4u);
}

TEST(ReportFindings, BadTableFailsAtItsLine) {
    struct Case {
        const char* name;
        std::string table;
        FailureKind kind;
        long line;
    };
    const Case cases[] = {
        {"empty table", "", FailureKind::InputPastEnd, 1},
        {"empty line", kHeading + "\r\n\r\n", FailureKind::SubscriptOutOfRange, 2},
        {"job line without a status", kHeading + "\r\nP,Not Found\r\nP,s,c,d,e,f,g,h,i\r\n",
         FailureKind::SubscriptOutOfRange, 3},
        {"failed job without a job id", kHeading + "\r\nP,s,c,d,e,f,g,h,i,58,x\r\n",
         FailureKind::SubscriptOutOfRange, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto failure = failureOf([&] { findingsOf(c.table); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), c.kind) << failure->what();
        EXPECT_EQ(failure->file(), "out1.txt");
        EXPECT_EQ(failure->line(), c.line);
    }
    // A successful job needs no job id: the page took such a line too.
    EXPECT_EQ(findingsOf(kHeading + "\r\nP,s,c,d,e,f,g,h,i,0\r\n").failedCount, 0u);

    TempDir dir;
    const auto missing = failureOf([&] { readFindings(dir.file("out1.txt")); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->kind(), FailureKind::FileNotFound);
}

}  // namespace
}  // namespace fennick
