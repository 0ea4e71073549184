#include "pipeline/findings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/file_names.h"
#include "files/text_file.h"
#include "pipeline/extraction.h"
#include "support/dump_line.h"
#include "support/memory_stream.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::DumpJob;
using test::dumpLine;
using test::Route;

constexpr long long kStart = 1'000'000;
constexpr long long kEnd = kStart + 86400;
constexpr long long kIn = kStart + 3600;
constexpr long long kWeek = 7 * 86400;
constexpr std::size_t kMark = 40 - 1 - dump::kRoutingMarkFromEnd;  // in dumpLine's 40 fields

// `line` (from dumpLine) with field `index` replaced by `text`.
std::string withField(std::string line, std::size_t index, const std::string& text) {
    std::size_t begin = 0;
    for (std::size_t i = 0; i < index; ++i)
        begin = line.find(',', begin) + 1;
    return line.replace(begin, line.find_first_of(",\r", begin) - begin, text);
}
// The line of the first `count` fields of `line`.
std::string firstFields(const std::string& line, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < count; ++i)
        end = line.find(',', end) + 1;
    return line.substr(0, end - 1) + "\r\n";
}
std::string ok(long long start, std::string id, std::string schedule = "Daily") {
    return dumpLine({.id = id, .schedule = schedule, .start = start});
}
std::string failed(long long start, std::string id, std::string status = "13") {
    return dumpLine({.id = id, .start = start, .status = status});
}
// No mark and the page flag set: a job of out.txt all the same.
std::string flagged(DumpJob job) {
    job.route = Route::Other;
    return withField(dumpLine(job), dump::kPageFlag, " ");
}

Findings find(const std::vector<std::string>& lines, std::vector<std::string> daily = {},
              int days = 7, Window window = {kStart, kEnd}) {
    std::string text;
    for (const std::string& line : lines)
        text += line;
    LineReader reader(test::readingFrom(text), kDumpFile, false);
    return findActions(reader, window, daily, days);
}

// "failed job<-rerun ..." and "policy/client/schedule:job(status)xcount ...".
std::string recoveredText(const Findings& findings) {
    std::string text;
    for (const RecoveredJob& job : findings.recovered)
        text += job.jobId + "<-" + job.recoveredBy + " ";
    return text;
}
std::string failingText(const Findings& findings) {
    std::string text;
    for (const FailingStream& s : findings.failing) {
        text += s.policy + "/" + s.client + "/" + s.schedule + ":" + s.jobId + "(" + s.status +
                ")x" + std::to_string(s.failedJobs) + " ";
    }
    return text;
}

struct RecoveryCase {
    const char* name;
    std::vector<std::string> dump;  // newest first
    std::string recovered, failing;
};

TEST(FindingsTest, AFailureIsRecoveredOnlyByALaterSuccessOfItsStream) {
    const std::string stream = "PolA/client1/Daily:1(13)x1 ";
    const RecoveryCase cases[] = {
        {"later success", {ok(kIn + 9, "2"), failed(kIn, "1")}, "1<-2 ", ""},
        {"other schedule", {ok(kIn + 9, "2", "Weekly"), failed(kIn, "1")}, "", stream},
        {"success after the window's end", {ok(kEnd + 60, "2"), failed(kIn, "1")}, "1<-2 ", ""},
        {"same second, above", {ok(kIn, "2"), failed(kIn, "1")}, "", stream},
        {"same second, below", {failed(kIn, "1"), ok(kIn, "2")}, "", stream},
        {"same second does not hide a later one",
         {ok(kIn + 5, "3"), ok(kIn, "2"), failed(kIn, "1")},
         "1<-3 ",
         ""},
        {"earliest rerun", {ok(kIn + 9, "3"), ok(kIn + 5, "2"), failed(kIn, "1")}, "1<-2 ", ""},
        {"two reruns in one second: the lower",
         {ok(kIn + 9, "3"), ok(kIn + 9, "2"), failed(kIn, "1")},
         "1<-2 ",
         ""},
        {"later success listed below", {failed(kIn, "1"), ok(kIn + 9, "2")}, "1<-2 ", ""},
        {"partial", {failed(kIn + 9, "2", "1"), failed(kIn, "1")}, "1<-2 ", ""},
        {"running", {failed(kIn + 9, "2", ""), failed(kIn, "1")}, "", stream},
        {"flagged", {flagged({.id = "2", .start = kIn + 9}), failed(kIn, "1")}, "1<-2 ", ""},
        {"neither marked nor flagged",
         {dumpLine({.id = "2", .start = kIn + 9, .route = Route::Other}), failed(kIn, "1")},
         "",
         stream},
        {"two failures, one rerun",
         {ok(kIn + 9, "3"), failed(kIn + 5, "2"), failed(kIn, "1")},
         "2<-3 1<-3 ",
         ""},
        {"newest open failure names the stream",
         {failed(kIn + 9, "3", "58"), ok(kIn + 5, "2"), failed(kIn + 2, "4"), failed(kIn, "1")},
         "4<-2 1<-2 ",
         "PolA/client1/Daily:3(58)x1 "},
    };
    for (const RecoveryCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Findings findings = find(c.dump);
        EXPECT_EQ(recoveredText(findings), c.recovered);
        EXPECT_EQ(failingText(findings), c.failing);
    }
}

TEST(FindingsTest, LookbackReadsDownToItsStartOnly) {
    struct Case {
        const char* name;
        int days;
        std::vector<std::string> history;  // below a failure at kIn
        std::optional<double> lastSuccess;
    };
    const Case cases[] = {
        {"exactly the days before", 7, {ok(kStart - kWeek, "2")}, kStart - kWeek},
        {"one second earlier", 7, {ok(kStart - kWeek - 1, "2")}, std::nullopt},
        {"nothing after the stop",
         7,
         {ok(kStart - kWeek - 1, "3", "Weekly"), ok(kStart - 5, "2")},
         std::nullopt},
        {"off", 0, {ok(kStart - 1, "2")}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> dump{failed(kIn, "1")};
        dump.insert(dump.end(), c.history.begin(), c.history.end());
        const Findings findings = find(dump, {}, c.days);
        ASSERT_EQ(findings.failing.size(), 1U);
        EXPECT_EQ(findings.failing[0].lastSuccess, c.lastSuccess);
    }
    EXPECT_THROW(find({}, {}, -1), Failure);
}

// The page's extraction stops at the first job before the window; window
// jobs below that line are the page's loss, which the findings count.
TEST(FindingsTest, WindowJobsBelowTheExtractionsStopAreCountedAsLeftOut) {
    const long long old = kStart - kWeek - 9;  // before the lookback
    struct Case {
        const char* name;
        std::vector<std::string> dump;
        std::size_t jobs, leftOut;
    };
    const Case cases[] = {
        {"newest first",
         {ok(kEnd + 5, "4"), ok(kIn + 2, "3"), ok(kIn, "2"), ok(kStart - 5, "1")},
         2,
         0},
        {"oldest first",
         {ok(kStart - 5, "1"), ok(kIn, "2"), ok(kIn + 2, "3"), ok(kEnd + 5, "4")},
         0,
         2},
        {"oldest first, opening before the lookback",
         {ok(old, "1"), ok(kStart - 5, "2"), ok(kIn, "3"), failed(kIn + 3, "4")},
         0,
         2},
        {"one stray job below the stop",
         {ok(kIn, "3"), ok(kStart - 5, "2"), ok(kIn + 1, "4")},
         1,
         1},
        {"a job for out2.txt is no page's job",
         {ok(kStart - 5, "1"), dumpLine({.id = "2", .start = kIn, .route = Route::Other})},
         0,
         0},
        {"a stale dump", {ok(old, "2"), ok(old - 5, "1")}, 0, 0},
        // Once the lookback has been reached the rest is never read, so a
        // stray job down there stays unseen.
        {"below the lookback", {ok(kIn, "3"), ok(old, "2"), ok(kIn + 1, "1")}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Findings findings = find(c.dump);
        EXPECT_EQ(findings.counts.jobs, c.jobs);
        EXPECT_EQ(findings.counts.leftOutOfPage, c.leftOut);
    }
}

// As in the extraction, a job after the end is passed over before its start
// is compared with the window's start.
TEST(FindingsTest, WindowEndingBeforeItStartsHasNoJobsAndReadsOn) {
    const Findings findings =
        find({dumpLine({.policy = "PolB", .start = kIn, .status = "13"}), ok(kStart + 1, "1")},
             {"PolA", "PolB"}, 0, Window{kEnd, kStart});
    EXPECT_EQ(findings.counts.jobs, 0U);
    const std::vector<MissingPolicy> expected = {{"PolA", kStart + 1, kStart + 1},
                                                 {"PolB", kIn, std::nullopt}};
    EXPECT_EQ(findings.notFound, expected);
}

TEST(FindingsTest, UnreadableLinesOutsideTheWindowAreSkippedAndCounted) {
    const std::string late = ok(kEnd + 9, "9");
    const std::string bad[] = {
        "\r\n",
        "1,2,3\r\n",
        withField(late, kMark, "x"),
        withField(late, dump::kStart, "soon"),
        // 25 fields, mark 1: too short for out.txt.
        withField(firstFields(late, 25), 5, "1"),
    };
    for (const std::string& line : bad) {
        SCOPED_TRACE(line);
        const Findings findings = find({line, failed(kIn, "1"), ok(kStart - 5, "2"), line,
                                        dumpLine({.policy = "PolB", .start = kStart - 9})},
                                       {"PolB"});
        EXPECT_EQ(findings.counts.skippedLines, 2U);
        ASSERT_EQ(findings.failing.size(), 1U);
        EXPECT_EQ(findings.failing[0].lastSuccess, kStart - 5);
        ASSERT_EQ(findings.notFound.size(), 1U);
        EXPECT_EQ(findings.notFound[0].lastJob, kStart - 9);
    }
}

TEST(FindingsTest, DailyPoliciesWithoutWindowJobsAreNotFoundOnceEach) {
    const Findings findings =
        find({dumpLine({.policy = "PolB", .start = kEnd + 9, .status = "58"}), ok(kIn, "1"),
              dumpLine({.policy = "PolD", .start = kIn, .route = Route::Other}),
              dumpLine({.policy = "PolB", .start = kStart - 9, .status = "13"}),
              dumpLine({.policy = "PolB", .start = kStart - 99})},
             {"PolA", "PolB", "PolC", "PolB", "", "PolD", "PolA "});
    const std::vector<MissingPolicy> expected = {
        {"PolB", kEnd + 9, kStart - 99},
        {"PolC", {}, {}},
        {"", {}, {}},
        {"PolD", {}, {}},
        {"PolA ", {}, {}},
    };
    EXPECT_EQ(findings.notFound, expected);
    EXPECT_EQ(findings.counts.notFound, 5U);
    // Monitoring's last success of each daily policy that has one.
    const std::vector<std::pair<std::string, double>> lastSuccesses = {{"PolA", kIn},
                                                                       {"PolB", kStart - 99}};
    EXPECT_EQ(findings.dailyLastSuccess, lastSuccesses);
}

TEST(FindingsTest, FailingStreamsOfDailyPoliciesComeFirstThenOldestSuccess) {
    const auto stream = [](std::string policy, std::string client, long long start) {
        return dumpLine(
            {.id = client, .policy = policy, .start = start, .status = "13", .client = client});
    };
    const Findings findings = find(
        {stream("PolX", "x", kIn + 9), stream("PolA", "c1", kIn + 8), stream("PolA", "c1", kIn),
         stream("PolA", "c3", kIn), stream("PolA", "c2", kIn), stream("PolB", "c1", kIn),
         stream("PolW", "w", kIn), dumpLine({.policy = "PolW", .start = kStart - 1, .client = "w"}),
         dumpLine({.policy = "PolA", .start = kStart - 5, .client = "c3"}),
         dumpLine({.policy = "PolA", .start = kStart - 5, .client = "c1"}),
         dumpLine({.policy = "PolB", .start = kStart - 9, .client = "c1"})},
        {"PolA", "PolB"});
    EXPECT_EQ(failingText(findings),
              "PolA/c2/Daily:c2(13)x1 PolB/c1/Daily:c1(13)x1 PolA/c1/Daily:c1(13)x2 "
              "PolA/c3/Daily:c3(13)x1 PolX/x/Daily:x(13)x1 PolW/w/Daily:w(13)x1 ");
    // Its two failed window jobs came after its last success, read below the
    // window: failing since the earlier one.
    const FailingStream first{"PolA",  "c1", "Daily",    true, "13", "c1",
                              kIn + 8, 2,    kStart - 5, kIn,  2,    {}};
    EXPECT_EQ(findings.failing[2], first);
    EXPECT_FALSE(findings.failing[4].daily);
    EXPECT_EQ(findings.counts.failing, 6U);
}

// The folder as the run leaves it: the findings' window jobs are out.txt's.
TEST(FindingsTest, FolderFindingsCountTheJobsOfOutTxt) {
    const auto client = [](std::string id, std::string status, std::string client) {
        return dumpLine({.id = id, .start = kIn, .status = status, .client = client});
    };
    test::TempDir dir;
    dir.write(kDumpFile, ok(kEnd + 1, "9", "Weekly") + failed(kEnd, "8") +
                             flagged({.id = "10", .start = kIn}) + client("11", "", "c2") +
                             client("12", "1", "c3") + client("13", " 0", "c4") +
                             withField(ok(kIn, "7"), kMark, " 2") +
                             dumpLine({.start = kIn, .status = "13", .route = Route::Other}) +
                             failed(0, "6") + failed(kStart, "5") + ok(kStart - 1, "4") +
                             failed(kIn, "3"));
    dir.write(kPolicyFile, "PolA\r\nPolC\r\n");
    extractJobs(dir.path(), Window{kStart, kEnd});
    const Findings findings = findActions(dir.path(), Window{kStart, kEnd}, 7);
    const std::string jobs = dir.read(kJobsFile);
    EXPECT_EQ(findings.counts.jobs,
              static_cast<std::size_t>(std::count(jobs.begin(), jobs.end(), '\n')));
    // jobs, failed, recovered, running, partial, failing, not found, skipped,
    // and job 3, below the stop, left out of the page
    EXPECT_EQ(findings.counts, (FindingCounts{6, 3, 1, 1, 1, 2, 1, 0, 1}));
    EXPECT_EQ(recoveredText(findings), "5<-10 ");
    EXPECT_EQ(failingText(findings), "PolA/c4/Daily:13( 0)x1 PolA/client1/Daily:8(13)x1 ");

    dir.write(kPolicyFile, "PolA\r\nPol,C\r\n");
    EXPECT_THROW(findActions(dir.path(), Window{kStart, kEnd}, 7), Failure);
}

}  // namespace
}  // namespace fennick
