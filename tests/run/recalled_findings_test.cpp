// What the known jobs say of the interval policies and of the window's
// successes, through real history files: nights of dumps run one after
// another, and the last night's verdicts with the history and without it.
#include "run/remembered_findings.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "common/file_names.h"
#include "run/run_fixture.h"
#include "support/dump_line.h"
#include "support/memory_stream.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::kWindowStart;

constexpr long long kDay = 86400;
// Today's dump reaches back over the interval's week only where a case
// puts jobs there.
constexpr int kLookback = 8;

long long at(int day, long long seconds) {
    return kWindowStart + day * kDay + seconds;
}

Window dayWindow(int day) {
    return {static_cast<double>(at(day, 0)), static_cast<double>(at(day + 1, 0))};
}

struct Job {
    std::string id;
    long long start;
    std::string status = "0";
    std::string policy = "PolW";
    std::string kbytes = "1024";
    long long elapsed = 600;
};

std::string dumpOf(const std::vector<Job>& jobs) {
    std::string text;
    for (const Job& job : jobs) {
        text += test::dumpLine({.id = job.id,
                                .policy = job.policy,
                                .start = job.start,
                                .status = job.status,
                                .elapsed = job.elapsed,
                                .kbytes = job.kbytes});
    }
    return text;
}

// Days after the window's day, as "d-6+0s".
std::string when(std::optional<double> time) {
    if (!time)
        return "-";
    const long long offset = std::llround(*time) - at(1, 0);
    const long long day = offset >= 0 ? offset / kDay : -((-offset + kDay - 1) / kDay);
    std::string text("end");
    text.append(day < 0 ? "" : "+").append(std::to_string(day)).append("d");
    if (const long long rest = offset - day * kDay; rest != 0)
        text.append("+").append(std::to_string(rest)).append("s");
    return text;
}

std::string verdicts(const Findings& findings) {
    std::string text;
    for (const IntervalPolicy& p : findings.intervals) {
        const char* verdict = p.verdict == IntervalPolicy::Verdict::Kept      ? "kept"
                              : p.verdict == IntervalPolicy::Verdict::Overdue ? "overdue"
                                                                              : "unknown";
        text.append(p.policy).append(" ").append(verdict).append(" ok=");
        text.append(when(p.lastSuccess)).append(" job=").append(when(p.lastJob)).append("; ");
    }
    for (const SuspiciousJob& job : findings.suspicious) {
        text.append(job.policy).append("#").append(job.jobId).append(":");
        for (const Suspicion reason : job.reasons)
            text.append(" ").append(suspicionName(reason));
        text.append(" usual=").append(std::to_string(std::llround(job.usual.kbytes)));
        text.append("/").append(std::to_string(std::llround(job.usual.elapsed))).append("; ");
    }
    return text;
}

struct Night {
    int day;
    std::vector<Job> dump;  // newest first
};

struct Case {
    const char* name;
    std::vector<Night> nights;
    std::string withHistory, dumpAlone;  // of the last night
    std::size_t overdue, suspicious;     // with the history
};

// Jobs of PolW's stream at 01:00 on each of `days` days before day 0, with
// these sizes, newest first.
std::vector<Job> earlier(std::vector<std::pair<const char*, long long>> sizes, int firstId) {
    std::vector<Job> jobs;
    int day = -1;
    for (const auto& [kbytes, elapsed] : sizes) {
        jobs.push_back({std::to_string(firstId++), at(day, 3600), "0", "PolW", kbytes, elapsed});
        --day;
    }
    return jobs;
}

TEST(RecalledFindings, IntervalsAndSuspiciousSuccessesAtTheirEdges) {
    const long long week = 7 * kDay;
    const Case cases[] = {
        {"a success exactly the interval before the end keeps the policy",
         {{0, {{"2", at(0, 100), "13"}, {"1", at(1, 0) - week}}}},
         "PolW kept ok=end-7d job=end-1d+100s; ",
         "PolW kept ok=end-7d job=end-1d+100s; ",
         0,
         0},
        {"a second earlier it is overdue, its last job a failure",
         {{-6, {{"1", at(1, 0) - week - 1}}}, {0, {{"2", at(0, 100), "13"}}}},
         "PolW overdue ok=end-8d+86399s job=end-1d+100s; ",
         "PolW unknown ok=- job=end-1d+100s; ",
         1,
         0},
        {"a success only the history holds",
         {{-5, {{"1", at(-5, 10)}}}, {0, {{"2", at(0, 100), "13", "PolX"}}}},
         "PolW kept ok=end-6d+10s job=end-6d+10s; ",
         "PolW unknown ok=- job=-; ",
         0,
         0},
        {"known jobs shorter than the interval judge nothing",
         {{0, {{"2", at(0, 100), "13"}}}},
         "PolW unknown ok=- job=end-1d+100s; ",
         "PolW unknown ok=- job=end-1d+100s; ",
         0,
         0},
        {"a success after the window's end is not within it",
         {{-9, {{"9", at(-9, 0), "0", "PolX"}}},
          {0, {{"3", at(1, 60)}, {"2", at(0, 100), "1", "PolX"}}}},
         "PolW overdue ok=- job=-; ",
         "PolW unknown ok=- job=-; ",
         1,
         0},
        {"four earlier successes never make one suspicious",
         {{-1,
           earlier({{"9000000", 600}, {"9000000", 600}, {"9000000", 600}, {"9000000", 600}}, 10)},
          {0, {{"1", at(0, 3600), "0", "PolW", "0"}}}},
         "PolW kept ok=end-1d+3600s job=end-1d+3600s; ",
         "PolW kept ok=end-1d+3600s job=end-1d+3600s; ",
         0,
         0},
        {"five earlier successes only the history holds, their median unordered",
         {{-1, earlier({{"5242880", 600},
                        {"1048576", 60},
                        {"4194304", 900},
                        {"2097152", 300},
                        {"3145728", 1200}},
                       10)},
          {0, {{"1", at(0, 3600), "0", "PolW", "0", 14000}}}},
         "PolW kept ok=end-1d+3600s job=end-1d+3600s; PolW#1: no data small long "
         "usual=3145728/600; ",
         "PolW kept ok=end-1d+3600s job=end-1d+3600s; ",
         0,
         1},
        {"five earlier in today's dump judge without a history; a job of the same start is not "
         "earlier",
         {{0,
           [] {
               std::vector<Job> jobs{{"1", at(0, 3600), "0", "PolW", "100"},
                                     {"2", at(0, 3600), "0", "PolW", "0"}};
               for (Job& job : earlier({{"3000000", 600},
                                        {"3000000", 600},
                                        {"3000000", 600},
                                        {"3000000", 600},
                                        {"3000000", 600}},
                                       10)) {
                   job.start = at(0, 0) - (std::stoll(job.id) - 9) * 3600;
                   jobs.push_back(job);
               }
               return jobs;
           }()}},
         "PolW kept ok=end-1d+3600s job=end-1d+3600s; PolW#1: small usual=3000000/600; "
         "PolW#2: no data small usual=3000000/600; ",
         "PolW kept ok=end-1d+3600s job=end-1d+3600s; PolW#1: small usual=3000000/600; "
         "PolW#2: no data small usual=3000000/600; ",
         0,
         2},
        {"a usual of nothing makes nothing written no alarm",
         {{-1, earlier({{"0", 600}, {"0", 600}, {"0", 600}, {"0", 600}, {"0", 600}}, 10)},
          {0, {{"1", at(0, 3600), "0", "PolW", "0"}}}},
         "PolW kept ok=end-1d+3600s job=end-1d+3600s; ",
         "PolW kept ok=end-1d+3600s job=end-1d+3600s; ",
         0,
         0},
    };
    RecallRequest recall;
    recall.intervals = {{"PolW", 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        const HistoryRequest request{.file = dir.file(kHistoryFile)};
        HistoryState state;
        Findings last;
        for (const Night& night : c.nights) {
            std::string text = dumpOf(night.dump);
            LineReader reader(test::readingFrom(text), kDumpFile, false);
            last = findRecalling(reader, dayWindow(night.day), {}, kLookback, recall, &request,
                                 &state);
            ASSERT_TRUE(state.used()) << state.error;
        }
        std::string text = dumpOf(c.nights.back().dump);
        LineReader reader(test::readingFrom(text), kDumpFile, false);
        const Findings alone = findRecalling(reader, dayWindow(c.nights.back().day), {}, kLookback,
                                             recall, nullptr, nullptr);
        EXPECT_EQ(verdicts(last), c.withHistory);
        EXPECT_EQ(verdicts(alone), c.dumpAlone);
        EXPECT_EQ(last.counts.overdue, c.overdue);
        EXPECT_EQ(last.counts.suspicious, c.suspicious);
    }
}

std::string nightsOf(const Findings& findings, std::size_t count) {
    std::string text;
    for (const PolicyNights& policy : findings.dailyNights) {
        text.append(policy.policy).append(":");
        for (std::size_t k = 0; k < count; ++k)
            text.append(" ").append(nightStateName(policy.nights.at(k)));
        text.append("; ");
    }
    for (const FailingStream& stream : findings.failing) {
        text.append(stream.policy).append("/").append(stream.client).append(":");
        for (std::size_t k = 0; k < count; ++k)
            text.append(" ").append(nightStateName(stream.nights.at(k)));
        text.append("; ");
    }
    return text;
}

// Each run keeps the nights it summed up; a later change to a row of one,
// by a later dump or by hand, must show the next morning all the same.
TEST(RecalledFindings, NightsKeptInTheHistoryFollowEveryChangeToTheirRows) {
    const test::TempDir dir;
    const HistoryRequest request{.file = dir.file(kHistoryFile)};
    const std::vector<std::string> daily{"PolA", "PolB", "PolA", "PolN"};
    const std::vector<std::vector<Job>> nights{
        {{"2", at(-2, 7200), "13", "PolB"}, {"1", at(-2, 3600), "0", "PolA"}},
        {{"4", at(-1, 7200), "0", "PolB"}, {"3", at(-1, 3600), "", "PolA"}},
        {{"6", at(0, 7200), "13", "PolB"},
         {"5", at(0, 3600), "1", "PolA"},
         {"4", at(-1, 7200), "0", "PolB"},
         {"3", at(-1, 3600), "0", "PolA"}},
    };
    HistoryState state;
    Findings last;
    const auto runDay = [&](int day, const std::vector<Job>& jobs) {
        std::string text = dumpOf(jobs);
        LineReader reader(test::readingFrom(text), kDumpFile, false);
        last = findRecalling(reader, dayWindow(day), daily, kLookback, RecallRequest{}, &request,
                             &state);
        ASSERT_TRUE(state.used()) << state.error;
    };
    for (int day = -2; day <= 0; ++day)
        runDay(day, nights[static_cast<std::size_t>(day + 2)]);
    EXPECT_EQ(nightsOf(last, 4),
              "PolA: partial ok ok unknown; PolB: failed ok failed unknown; "
              "PolN: none none unknown unknown; PolB/client1: failed ok failed unknown; ");
    EXPECT_EQ(last.nightTotals.at(1), (NightTotals{2, 0, 2048}));

    // The same morning again, after an operator's change to a row the
    // history alone holds: the night kept from before is not used.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(request.file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE jobs SET status = '58' WHERE job_id = '1'", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    runDay(0, nights[2]);
    EXPECT_EQ(nightsOf(last, 4),
              "PolA: partial ok failed unknown; PolB: failed ok failed unknown; "
              "PolN: none none unknown unknown; PolB/client1: failed ok failed unknown; ");

    // A run started by the clock two seconds later: its nights held the same
    // jobs, so the nights kept are used, not counted and kept again.
    // The nights kept that begin two seconds after a whole day from the
    // window's day: those a later run counted rather than used.
    const auto keptLater = [&request] {
        sqlite3* kept = nullptr;
        sqlite3_open(request.file.c_str(), &kept);
        sqlite3_stmt* count = nullptr;
        sqlite3_prepare_v2(
            kept,
            "SELECT count(*) FROM nights WHERE ((CAST(start AS INTEGER) - ?1) % 86400 + 86400) "
            "% 86400 = 2",
            -1, &count, nullptr);
        sqlite3_bind_int64(count, 1, static_cast<sqlite3_int64>(dayWindow(0).StartEpoch));
        sqlite3_step(count);
        const int nights = sqlite3_column_int(count, 0);
        sqlite3_finalize(count);
        sqlite3_close(kept);
        return nights;
    };
    const auto runShifted = [&](const std::vector<Job>& jobs) {
        std::string later = dumpOf(jobs);
        LineReader reader(test::readingFrom(later), kDumpFile, false);
        const Window shifted{dayWindow(0).StartEpoch + 2, dayWindow(0).EndEpoch + 2};
        last = findRecalling(reader, shifted, daily, kLookback, RecallRequest{}, &request, &state);
        ASSERT_TRUE(state.used()) << state.error;
    };
    // A run started by the clock two seconds later: its nights held the same
    // jobs, so the nights kept are used, not counted again.
    runShifted(nights[2]);
    EXPECT_EQ(nightsOf(last, 4),
              "PolA: partial ok failed unknown; PolB: failed ok failed unknown; "
              "PolN: none none unknown unknown; PolB/client1: failed ok failed unknown; ");
    EXPECT_EQ(keptLater(), 0);
    // A job that started in the two seconds after night 1's start belongs to
    // night 2 of the later run: the nights it borders are counted again.
    std::vector<Job> withEdge = nights[2];
    withEdge.push_back({"7", at(-1, 1), "13", "PolN"});
    runShifted(withEdge);
    EXPECT_EQ(nightsOf(last, 4),
              "PolA: partial ok failed unknown; PolB: failed ok failed unknown; "
              "PolN: none none failed unknown; PolB/client1: failed ok failed unknown; ");
    EXPECT_GE(keptLater(), 2);

    // Without the history the dump's lines are all that is known.
    std::string text = dumpOf(nights[2]);
    LineReader reader(test::readingFrom(text), kDumpFile, false);
    const Findings alone =
        findRecalling(reader, dayWindow(0), daily, kLookback, RecallRequest{}, nullptr, nullptr);
    EXPECT_EQ(nightsOf(alone, 4),
              "PolA: partial ok unknown unknown; PolB: failed ok unknown unknown; "
              "PolN: none unknown unknown unknown; PolB/client1: failed ok unknown unknown; ");
}

}  // namespace
}  // namespace fennick
