#include "run/run_summary.h"

#include <gtest/gtest.h>

namespace fennick {
namespace {

TEST(RunSummary, CountsAreWordedInTheSingularOnlyForOne) {
    struct Case {
        PageCounts counts;
        const char* text;
    } const cases[] = {
        {{478, 35, 1}, "478 jobs, 35 failed, 1 daily policy not found"},
        {{1, 1, 2}, "1 job, 1 failed, 2 daily policies not found"},
        {{0, 0, 0}, "0 jobs, 0 failed, 0 daily policies not found"},
        {{2, 0, 11}, "2 jobs, 0 failed, 11 daily policies not found"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(countsText(c.counts), c.text);
}

TEST(RunSummary, LineNamesThePageBeforeItsCounts) {
    const ReportFile report{"/srv/fennick/report_05-12-26.html", {478, 35, 1}};
    EXPECT_EQ(summaryLine(report),
              "/srv/fennick/report_05-12-26.html: 478 jobs, 35 failed, 1 daily policy not found");
}

TEST(RunSummary, AttentionIsNeededForAFailedJobOrAPolicyNotFound) {
    struct Case {
        PageCounts counts;
        bool attention;
    } const cases[] = {
        {{0, 0, 0}, false}, {{478, 0, 0}, false}, {{478, 1, 0}, true},
        {{0, 0, 1}, true},  {{5, 5, 5}, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(needsAttention(c.counts), c.attention) << countsText(c.counts);
}

}  // namespace
}  // namespace fennick
