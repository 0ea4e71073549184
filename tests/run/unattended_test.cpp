#include "run/unattended.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/file_names.h"
#include "pipeline/reporting_window.h"
#include "support/run_inputs.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono;
using test::failureOf;
using test::fixedNow;
using test::kNow;
using test::TempDir;

TEST(FirstJobId, IsTheTextBeforeTheFirstComma) {
    struct Case {
        const char* dump;
        const char* id;
    } const cases[] = {
        {"4711,0,0,3\r\n", "4711"},
        {",x\r\n", ""},
        {"12,a,b", "12"},  // no final line end
        {"7,\r\nnot a job line at all\r\n\r\n", "7"},
        {"\xE9t\xE9,1\n", "\xE9t\xE9"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write(kDumpFile, c.dump);
        EXPECT_EQ(firstJobId(dir.path()), c.id) << c.dump;
    }
}

TEST(FirstJobId, FailsWithTheKindOfItsBadDump) {
    struct Case {
        const char* name;
        std::optional<std::string> dump;  // nullopt: no file at all
        FailureKind kind;
        long line;
    } const cases[] = {
        {"missing", std::nullopt, FailureKind::FileNotFound, Failure::kNoLine},
        {"empty", "", FailureKind::InputPastEnd, 1},
        {"no comma", "4711\r\n5,6\r\n", FailureKind::InvalidArgument, 1},
        {"empty first line", "\r\n4711,0\r\n", FailureKind::InvalidArgument, 1},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (c.dump)
            dir.write(kDumpFile, *c.dump);
        const auto failure = failureOf([&] { firstJobId(dir.path()); });
        ASSERT_TRUE(failure) << c.name;
        EXPECT_EQ(failure->kind(), c.kind) << c.name;
        EXPECT_EQ(failure->file(), kDumpFile) << c.name;
        EXPECT_EQ(failure->line(), c.line) << c.name;
    }
}

TEST(FirstJobId, NoCommaMessageSaysWhatWasWrong) {
    TempDir dir;
    dir.write(kDumpFile, "4711\r\n");
    const auto failure = failureOf([&] { firstJobId(dir.path()); });
    ASSERT_TRUE(failure);
    EXPECT_STREQ(failure->what(),
                 "Invalid argument: bpdbjobs.txt line 1 the first line holds no comma");
}

TEST(DayBefore, DatesADayApartEndingAtTheEndWithTheGivenTimes) {
    const LocalTime created = kNow - 3s;
    const Pickers pickers = dayBefore(kNow, created);
    EXPECT_EQ(pickers.dp1, local_days{2026y / 12 / 4} + 2h + 15min);
    EXPECT_EQ(pickers.dp2, kNow);
    EXPECT_EQ(pickers.tp1, created);
    EXPECT_EQ(pickers.tp2, created);
    // Across the end of a month, a leap day and the end of a year.
    EXPECT_EQ(dayBefore(local_days{2028y / 3 / 1} + 1h, created).dp1,
              local_days{2028y / 2 / 29} + 1h);
    EXPECT_EQ(dayBefore(local_days{2027y / 1 / 1}, created).dp1, local_days{2026y / 12 / 31});
}

TEST(DayBefore, WindowIsTheTwentyFourHoursBeforeTheEnd) {
    const LocalTime ends[] = {kNow, local_days{2028y / 3 / 1}, local_days{2026y / 3 / 29} + 150min};
    for (const LocalTime end : ends) {
        const Window window = computeWindow(dayBefore(end, end));
        EXPECT_EQ(window.EndEpoch, static_cast<double>(test::epochOf(end)));
        EXPECT_EQ(window.EndEpoch - window.StartEpoch, 86400);
    }
}

TEST(RunUnattended, WritesEveryFileOfThePreviousDayAndReturnsThePage) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);

    const ReportFile report = runUnattended(dir.path(), fixedNow);

    EXPECT_EQ(report.page, dir.file(test::kTodaysPage));
    EXPECT_EQ(report.counts, (PageCounts{.jobs = 1, .highlighted = 0, .notFound = 1}));
    EXPECT_EQ(dir.read("out.txt").rfind("PolA,Daily,client1,12/04/2026 10:00:00,", 0), 0u);
    EXPECT_EQ(dir.read("out2.txt").rfind("PolB,other,Daily,", 0), 0u);
    EXPECT_NE(dir.read("out1.txt").find("PolC,Not Found"), std::string::npos);
    EXPECT_NE(dir.read(test::kTodaysPage)
                  .find("Start: 12/04/2026 02:15:00<br> End: 12/05/2026 02:15:00</font>"),
              std::string::npos);
}

// Dates and times of day come from one reading of the clock: a run started
// just before midnight, whose later readings fall after it, still ends its
// window at its start and not a day later.
TEST(RunUnattended, WindowComesFromOneReadingOfTheClockAcrossMidnight) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    const LocalTime started = local_days{2026y / 12 / 4} + 23h + 59min + 59s;
    int readings = 0;
    const auto clock = [&] { return readings++ == 0 ? started : started + 2s; };

    const ReportFile report = runUnattended(dir.path(), clock);

    // The page is named when it is written, after midnight.
    EXPECT_EQ(report.page, dir.file("report_05-12-26.html"));
    EXPECT_NE(dir.read("report_05-12-26.html")
                  .find("Start: 12/03/2026 23:59:59<br> End: 12/04/2026 23:59:59</font>"),
              std::string::npos)
        << dir.read("report_05-12-26.html");
}

TEST(RunUnattended, BadDumpStopsBeforeAnyFileIsWritten) {
    struct Case {
        const char* name;
        std::optional<std::string> dump;
        FailureKind kind;
    } const cases[] = {
        {"missing dump", std::nullopt, FailureKind::FileNotFound},
        {"empty first line", "\r\n4711,x\r\n", FailureKind::InvalidArgument},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
        std::filesystem::remove(dir.file(kDumpFile));
        if (c.dump)
            dir.write(kDumpFile, *c.dump);
        const auto before = dir.snapshot();

        const auto failure = failureOf([&] { runUnattended(dir.path(), fixedNow); });

        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), c.kind);
        EXPECT_EQ(failure->file(), kDumpFile);
        EXPECT_EQ(dir.snapshot(), before);
    }
}

}  // namespace
}  // namespace fennick
