#include "run/run_summary.h"

#include <gtest/gtest.h>

namespace fennick {
namespace {

// jobs, highlighted rows, of them still running, daily policies not found
TEST(RunSummary, TheWindowCountsHighlightedRowsAndTheLineCountsFailedJobs) {
    struct Case {
        PageCounts counts;
        const char* window;
        const char* line;  // after the page's path
        bool attention;
    } const cases[] = {
        {{478, 35, 1, 1},
         "478 jobs, 35 failed, 1 daily policy not found",
         "478 jobs, 34 failed, 1 still running, 1 daily policy not found",
         true},
        {{1, 1, 0, 2},
         "1 job, 1 failed, 2 daily policies not found",
         "1 job, 1 failed, 2 daily policies not found",
         true},
        {{0, 0, 0, 0},
         "0 jobs, 0 failed, 0 daily policies not found",
         "0 jobs, 0 failed, 0 daily policies not found",
         false},
        {{478, 0, 0, 0},
         "478 jobs, 0 failed, 0 daily policies not found",
         "478 jobs, 0 failed, 0 daily policies not found",
         false},
        // A job still running is highlighted on the page but is no failure.
        {{2, 1, 1, 0},
         "2 jobs, 1 failed, 0 daily policies not found",
         "2 jobs, 0 failed, 1 still running, 0 daily policies not found",
         false},
        {{5, 5, 2, 11},
         "5 jobs, 5 failed, 11 daily policies not found",
         "5 jobs, 3 failed, 2 still running, 11 daily policies not found",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        EXPECT_EQ(countsText(c.counts), c.window);
        const ReportFile report{"/srv/fennick/report_05-12-26.html", c.counts};
        EXPECT_EQ(summaryLine(report), std::string("/srv/fennick/report_05-12-26.html: ") + c.line);
        EXPECT_EQ(needsAttention(c.counts), c.attention);
    }
}

}  // namespace
}  // namespace fennick
