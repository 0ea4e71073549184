// --zone: which zones it takes, which it refuses, and the window it makes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"

namespace fennick::cli {
namespace {

using namespace std::chrono;

// Sets an environment variable for one scope and puts the old value back.
class Variable {
  public:
    Variable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value, 1);
    }
    ~Variable() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    Variable(const Variable&) = delete;
    Variable& operator=(const Variable&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string usageProblem(const std::vector<std::string_view>& arguments) {
    try {
        parseOptions(arguments);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "accepted";
}

const sys_seconds kSummer = sys_days{2026y / 7 / 1};

TEST(ZoneOption, TakesZoneNamesTheMachinesZoneAndOffsets) {
    struct Case {
        const char* zone;
        const char* tz;
        const char* name;
        long long offset;  // on 1 July 2026
    };
    const Case cases[] = {
        {"Europe/Berlin", "", "Europe/Berlin", 7200},
        {"America/New_York", "", "America/New_York", -14400},
        {"local", "Asia/Kolkata", "Asia/Kolkata", 19800},
        {"local", ":Australia/Adelaide", "Australia/Adelaide", 34200},
        {"local", "/usr/share/zoneinfo/Europe/Berlin", "Europe/Berlin", 7200},
        {"local", "", "UTC", 0},
        {"UTC+8", "", "UTC+8", 28800},
        {"UTC+08", "", "UTC+8", 28800},
        {"UTC-05:30", "", "UTC-5:30", -19800},
        {"UTC+14:00", "", "UTC+14", 50400},
        {"UTC-14", "", "UTC-14", -50400},
        {"UTC-0", "", "UTC+0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " TZ=" + c.tz);
        const Variable tz("TZ", c.tz);
        const Options options = parseOptions({"--zone", c.zone});
        ASSERT_TRUE(options.zone);
        EXPECT_EQ(options.zone->name(), c.name);
        EXPECT_EQ(options.zone->offsetAt(kSummer.time_since_epoch().count()), c.offset);
    }
    // A clock time shown twice is taken; only a skipped one is refused.
    EXPECT_NO_THROW(parseOptions({"--zone", "Europe/Berlin", "--end", "2026-10-25 02:30:00"}));
}

TEST(ZoneOption, EnvironmentStandsInAndEmptyIsUnset) {
    EXPECT_FALSE(parseOptions({}).zone);
    {
        const Variable zone("FENNICK_ZONE", "America/New_York");
        EXPECT_EQ(parseOptions({}).zone->name(), "America/New_York");
        EXPECT_EQ(parseOptions({"--zone=UTC+1"}).zone->name(), "UTC+1");
    }
    const Variable empty("FENNICK_ZONE", "");
    EXPECT_FALSE(parseOptions({}).zone);
}

TEST(ZoneOption, BadZonesAndClockTimesTheZoneSkipsAreUsageErrors) {
    const Variable tz("TZ", "Mars/Olympus_Mons");
    struct Case {
        std::vector<std::string_view> arguments;
        const char* problem;
    };
    const Case cases[] = {
        {{"--zone", "Europe/Berln"},
         "--zone needs a zone of the time-zone data (as Europe/Berlin), local or UTC+H[:MM], not "
         "\"Europe/Berln\""},
        {{"--zone", ""}, "--zone needs a zone of the time-zone data"},
        {{"--zone", "utc+8"}, "not \"utc+8\""},
        {{"--zone", "local"},
         "--zone local: the machine's zone (TZ=Mars/Olympus_Mons) is not in the time-zone data"},
        {{"--zone", "UTC+8:5"},
         "--zone needs an offset as UTC+H, UTC-HH or UTC+HH:MM, not \"UTC+8:5\""},
        {{"--zone", "UTC+"}, "--zone needs an offset"},
        {{"--zone", "UTC-5:"}, "--zone needs an offset"},
        {{"--zone", "UTC+:30"}, "--zone needs an offset"},
        {{"--zone", "UTC+008"}, "--zone needs an offset"},
        {{"--zone", "UTC+8:60"}, "--zone needs an offset"},
        {{"--zone", "UTC+-8"}, "--zone needs an offset"},
        {{"--zone", "UTC++8"}, "--zone needs an offset"},
        {{"--zone", "UTC+8.5"}, "--zone needs an offset"},
        {{"--zone", "UTC+15"}, "--zone \"UTC+15\" is more than 14 hours from UTC"},
        {{"--zone", "UTC-14:01"}, "--zone \"UTC-14:01\" is more than 14 hours from UTC"},
        {{"--zone", "UTC+99"}, "is more than 14 hours from UTC"},
        // The hour the clocks skip in spring, whichever comes first.
        {{"--zone", "Europe/Berlin", "--start", "2026-03-29 02:30:00"},
         "--start \"2026-03-29 02:30:00\" does not exist in Europe/Berlin"},
        {{"--end", "2026-03-29 02:00:00", "--zone", "Europe/Berlin"},
         "--end \"2026-03-29 02:00:00\" does not exist in Europe/Berlin"},
        {{"--zone", "America/New_York", "--end", "2026-03-08 02:59:59"},
         "--end \"2026-03-08 02:59:59\" does not exist in America/New_York"},
        {{"--zone", "Australia/Adelaide", "--start", "2026-10-04 02:30:00"},
         "--start \"2026-10-04 02:30:00\" does not exist in Australia/Adelaide"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.problem);
        const std::string problem = usageProblem(c.arguments);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
    const Variable zone("FENNICK_ZONE", "Mars");
    EXPECT_NE(usageProblem({}).find("FENNICK_ZONE needs a zone"), std::string::npos);
}

sys_seconds utc(year_month_day date, seconds time) {
    return sys_days{date} + time;
}

// Berlin's clocks go forward at 01:00 UTC on 29 March 2026 and back at
// 01:00 UTC on 25 October 2026 (the whole days around them: zone_run_test).
TEST(ZoneRunTimes, ClockTimesNotShownOnceAreReadOneWay) {
    const auto berlin = parseOptions({"--zone", "Europe/Berlin"}).zone;
    const LocalTime now = local_days{2026y / 12 / 5} + 2h;
    struct Case {
        const char* name;
        std::optional<LocalTime> start;
        std::optional<LocalTime> end;
        sys_seconds windowStart;
        sys_seconds windowEnd;
    };
    const Case cases[] = {
        {"a skipped day-before, read with the offset before the gap", std::nullopt,
         local_days{2026y / 3 / 30} + 2h + 30min, utc(2026y / 3 / 29, 1h + 30min),
         utc(2026y / 3 / 30, 30min)},
        {"a start shown twice is the earlier", local_days{2026y / 10 / 25} + 2h + 30min,
         local_days{2026y / 10 / 25} + 3h, utc(2026y / 10 / 25, 30min), utc(2026y / 10 / 25, 2h)},
        {"the end is now", std::nullopt, std::nullopt, utc(2026y / 12 / 4, 1h),
         utc(2026y / 12 / 5, 1h)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Options options;
        options.zone = berlin;
        options.start = c.start;
        options.end = c.end;
        const RunTimes times = runTimes(options, now);
        EXPECT_EQ(times.end, c.end.value_or(now)) << "the page is named after the end";
        const Window window = computeWindow(times.pickers);
        EXPECT_EQ(window.StartEpoch, c.windowStart.time_since_epoch().count());
        EXPECT_EQ(window.EndEpoch, c.windowEnd.time_since_epoch().count());
        EXPECT_EQ(window.zone, berlin.get());
    }
}

TEST(ZoneRunTimes, PresentTimeIsTheZonesClock) {
    const auto utcNow = [] {
        return LocalTime{floor<seconds>(system_clock::now()).time_since_epoch()};
    };
    const Options options = parseOptions({"--zone", "UTC-03:30"});
    const LocalTime before = utcNow() - 3h - 30min;
    const LocalTime present = presentTime(options);
    EXPECT_LE(before, present);
    EXPECT_LE(present, utcNow() - 3h - 30min);
}

}  // namespace
}  // namespace fennick::cli
