// The nights before the window: which night a job belongs to at the
// boundaries and across a clock change, and what a stream's and a policy's
// night is when jobs ran twice, still run, or never ran.
#include "pipeline/nights.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/time_zone.h"
#include "pipeline/reporting_window.h"

namespace fennick {
namespace {

constexpr double kHour = 3600;

std::string indexText(std::optional<std::size_t> index) {
    return index ? std::to_string(*index) : "-";
}

TEST(Nights, EachStartBelongsToOneNightAtTheBoundaries) {
    // A 23-hour and a 25-hour window: a clock change in the report's zone.
    for (const double hours : {24.0, 23.0, 25.0}) {
        SCOPED_TRACE(hours);
        const double start = 1796000000, length = hours * kHour;
        const Window window{start, start + length};
        const struct {
            double at;
            const char* night;
        } cases[] = {
            {start + length, "0"},  // the window's end is in the window
            {start + length + 1, "-"},
            {start, "0"},
            {start - 1, "1"},
            {start - length, "1"},  // exactly one length before: night 1
            {start - length - 1, "2"},
            {start - 13 * length, "13"},
            {start - 13 * length - 1, "-"},
        };
        for (const auto& c : cases)
            EXPECT_EQ(indexText(nightIndex(window, c.at, 14)), c.night) << c.at - start;
        const std::vector<Night> nights = nightsOf(window, 3);
        EXPECT_EQ(nights[0], (Night{start, start + length}));
        EXPECT_EQ(nights[2], (Night{start - 2 * length, start - length}));
    }
    // A window of no length has only itself.
    EXPECT_EQ(indexText(nightIndex(Window{5, 5}, 4, 14)), "-");
}

// A zone whose clocks go back an hour at `change`: 02:00 before, 01:00 after.
class ClocksBack : public TimeZone::Rules {
  public:
    explicit ClocksBack(long long change) : change_(change) {}
    TimeZone::Span spanAt(long long epochSeconds) const override {
        if (epochSeconds < change_)
            return {-(1LL << 40), change_, 7200};
        return {change_, 1LL << 40, 3600};
    }

  private:
    long long change_;
};

TEST(Nights, AClockChangeMakesEveryNightAsLongAsTheWindow) {
    using namespace std::chrono;
    // 2026-10-25 01:00 UTC: the clocks of the zone go from 03:00 back to 02:00.
    const long long change =
        sys_seconds{sys_days{2026y / 10 / 25}}.time_since_epoch().count() + 3600;
    const TimeZone zone("Test/Back", std::make_shared<ClocksBack>(change));
    const LocalTime six = local_days{2026y / 10 / 24} + 6h,
                    nextSix = local_days{2026y / 10 / 25} + 6h;
    const Window window = computeWindow(Pickers{six, six, nextSix, nextSix, &zone});
    ASSERT_EQ(window.EndEpoch - window.StartEpoch, 25 * kHour);
    EXPECT_EQ(indexText(nightIndex(window, window.StartEpoch - 25 * kHour, 14)), "1");
    EXPECT_EQ(indexText(nightIndex(window, window.StartEpoch - 25 * kHour - 1, 14)), "2");
    EXPECT_EQ(nightsOf(window, 2)[1].start, window.StartEpoch - 25 * kHour);
}

std::string statesText(const NightStates& states) {
    std::string text;
    for (const NightState state : states)
        text.append(nightStateName(state)).append(" ");
    return text;
}

TEST(Nights, TheNewestJobWithAStatusDecidesAndThePolicyTakesTheWorst) {
    const Window window{1000, 2000};
    const std::vector<Night> nights = nightsOf(window, 4);
    constexpr double kLongAgo = -1e9;  // known jobs from before every night
    struct Job {
        std::size_t night;
        double start;
        JobStatus status;
    };
    const struct {
        const char* name;
        std::vector<Job> jobs;
        std::optional<double> knownSince;
        const char* states;
    } cases[] = {
        {"a failure made good later that night",
         {{0, 1100, JobStatus::Failed}, {0, 1500, JobStatus::Succeeded}},
         kLongAgo,
         "ok none none none "},
        {"a success, then a failure",
         {{1, 100, JobStatus::Succeeded}, {1, 900, JobStatus::Failed}},
         kLongAgo,
         "none failed none none "},
        {"a job still running after the newest with a status",
         {{0, 1100, JobStatus::Partial}, {0, 1900, JobStatus::Running}},
         kLongAgo,
         "partial none none none "},
        {"only running jobs", {{2, -500, JobStatus::Running}}, kLongAgo, "none none running none "},
        {"two jobs with one start: the worse",
         {{0, 1200, JobStatus::Succeeded}, {0, 1200, JobStatus::Failed}},
         kLongAgo,
         "failed none none none "},
        {"a night begun a second before the first known job",
         {{0, 1200, JobStatus::Succeeded}},
         1,
         "ok unknown unknown unknown "},
        {"the first known job at a night's start",
         {{0, 1200, JobStatus::Succeeded}},
         0,
         "ok none unknown unknown "},
        {"nights ended before the first known job",
         {{0, 1200, JobStatus::Succeeded}},
         1000,
         "ok unknown unknown unknown "},
        {"nothing known at all", {}, std::nullopt, "unknown unknown unknown unknown "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StreamNights stream(4);
        for (const Job& job : c.jobs)
            stream.add(job.night, job.start, job.status);
        EXPECT_EQ(statesText(stream.states(nights, c.knownSince)), c.states);
    }

    // A policy's night: failed over partial over ok over running over none.
    NightStates policy(4, NightState::Unknown);
    foldWorst(policy, {NightState::Ok, NightState::Running, NightState::None, NightState::Unknown});
    foldWorst(policy,
              {NightState::Partial, NightState::Ok, NightState::Running, NightState::Unknown});
    foldWorst(policy,
              {NightState::Failed, NightState::None, NightState::None, NightState::Unknown});
    EXPECT_EQ(statesText(policy), "failed ok running unknown ");

    // A night's sum: each stream decides alone, then the worst stream.
    NightSummer summer;
    summer.add(1, "PolA", 10, JobStatus::Failed, 100);
    summer.add(1, "PolA", 20, JobStatus::Succeeded, 50);
    summer.add(2, "PolA", 15, JobStatus::Partial, std::nullopt);
    summer.add(3, "PolB", 15, JobStatus::Running, 7);
    const NightSummary summary = summer.take();
    EXPECT_EQ(summary.totals, (NightTotals{4, 1, 157}));
    EXPECT_EQ(summary.policies.at("PolA"), NightState::Partial);
    EXPECT_EQ(summary.policies.at("PolB"), NightState::Running);
}

}  // namespace
}  // namespace fennick
