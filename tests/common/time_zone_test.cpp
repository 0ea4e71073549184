#include "common/time_zone.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"

namespace fennick {
namespace {

using namespace std::chrono;
using Kind = TimeZone::Instants::Kind;

constexpr long long kChange = 1'000'000'000;  // 2001-09-09 01:46:40 UTC

// Clocks that change once, at kChange, from `before` to `after` seconds east.
class OneChange final : public TimeZone::Rules {
  public:
    OneChange(long long before, long long after) : before_(before), after_(after) {}
    TimeZone::Span spanAt(long long epochSeconds) const override {
        if (epochSeconds < kChange)
            return {std::numeric_limits<long long>::min(), kChange, before_};
        return {kChange, std::numeric_limits<long long>::max(), after_};
    }

  private:
    long long before_;
    long long after_;
};

TimeZone oneChange(long long before, long long after) {
    return TimeZone("Test/Zone", std::make_shared<OneChange>(before, after));
}

LocalTime clock(long long secondsOfTheZone) {
    return LocalTime{seconds{secondsOfTheZone}};
}

sys_seconds instant(long long epochSeconds) {
    return sys_seconds{seconds{epochSeconds}};
}

TEST(TimeZoneInstants, ClockTimesAroundAChangeAreOnceSkippedOrTwice) {
    struct Case {
        const char* name;
        long long before;
        long long after;
        long long clockTime;  // seconds of the zone's clock
        Kind kind;
        long long earlier;
        long long later;
    };
    constexpr long long h = 3600;
    const Case cases[] = {
        // Clocks forward an hour at kChange: [kChange+h, kChange+2h) never shows.
        {"forward: first skipped", h, 2 * h, kChange + h, Kind::Skipped, kChange, kChange},
        {"forward: last skipped", h, 2 * h, kChange + 2 * h - 1, Kind::Skipped, kChange + h - 1,
         kChange + h - 1},
        {"forward: first after", h, 2 * h, kChange + 2 * h, Kind::Once, kChange, kChange},
        // Clocks back an hour at kChange: [kChange+h, kChange+2h) shows twice.
        {"back: first repeated", 2 * h, h, kChange + h, Kind::Twice, kChange - h, kChange},
        {"back: last repeated", 2 * h, h, kChange + 2 * h - 1, Kind::Twice, kChange - 1,
         kChange + h - 1},
        {"back: first after", 2 * h, h, kChange + 2 * h, Kind::Once, kChange + h, kChange + h},
        // West of UTC, half hours.
        {"forward west: skipped", -5 * h - h / 2, -4 * h - h / 2, kChange - 5 * h, Kind::Skipped,
         kChange + h / 2, kChange + h / 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TimeZone::Instants found =
            oneChange(c.before, c.after).instantsOf(clock(c.clockTime));
        EXPECT_EQ(found.kind, c.kind);
        EXPECT_EQ(found.earlier, instant(c.earlier));
        EXPECT_EQ(found.later, instant(c.later));
    }
}

// The offsets are kept between calls: jumps back over the change, and
// another zone between two calls, must still get their own instant's offset.
TEST(TimeZoneOffset, EachInstantGetsItsOwnOffsetWhateverWasAskedBefore) {
    const TimeZone east = oneChange(3600, 7200);
    const TimeZone west = oneChange(-18000, -14400);
    struct Question {
        const TimeZone& zone;
        long long at;
        long long offset;
    };
    const Question questions[] = {
        {east, kChange - 1, 3600},   {east, kChange, 7200},       {east, kChange - 1, 3600},
        {west, kChange - 1, -18000}, {east, kChange - 2, 3600},   {west, kChange + 5, -14400},
        {west, kChange, -14400},     {west, kChange - 1, -18000}, {east, kChange + 1, 7200},
        {east, kChange + 1, 7200},   {west, kChange + 1, -14400}, {east, kChange - 7, 3600},
    };
    for (const Question& q : questions) {
        EXPECT_EQ(q.zone.offsetAt(q.at), q.offset) << q.at;
    }
}

TEST(ZoneText, ShowsTheOffsetInForceAndFailsOutsideTheYearsShown) {
    const TimeZone zone = oneChange(-3600, 3600);
    EXPECT_EQ(zoneText(kChange - 1, &zone), "09/09/2001 00:46:39");
    EXPECT_EQ(zoneText(kChange, &zone), "09/09/2001 02:46:40");
    const TimeZone east = TimeZone::fixed(hours{14});
    EXPECT_EQ(zoneText(253402300799.0 - 14 * 3600, &east), "12/31/9999 23:59:59");
    for (double epoch :
         {253402300800.0 - 14 * 3600, -59011459201.0 - 14 * 3600, 1e300, -1e19,
          std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        const auto failure = test::failureOf([&] { zoneText(epoch, &east); });
        ASSERT_TRUE(failure) << epoch;
        EXPECT_EQ(failure->kind(), FailureKind::Overflow) << epoch;
    }
}

}  // namespace
}  // namespace fennick
