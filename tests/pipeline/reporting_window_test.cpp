#include "pipeline/reporting_window.h"

#include <gtest/gtest.h>

#include "common/time_zone.h"

namespace fennick {
namespace {

using namespace std::chrono;

LocalTime at(year_month_day date, int h, int m, int s) {
    return local_days{date} + hours{h} + minutes{m} + seconds{s};
}

// A picker pair whose date comes only from the date picker and whose time of
// day comes only from the time picker: the other halves are noise.
Pickers startAt(year_month_day date, int h, int m, int s) {
    const LocalTime noiseDate = at(2011y / 7 / 4, 17, 45, 12);
    return Pickers{at(date, 23, 59, 0), at(1999y / 12 / 31, h, m, s), noiseDate, noiseDate};
}

TEST(ReportingWindow, StartBoundsFromDateAndTimeOfDay) {
    struct Case {
        year_month_day date;
        int h, m, s;
        double epoch;
    };
    const Case cases[] = {
        {1970y / 1 / 1, 8, 0, 0, 0},
        {1970y / 1 / 2, 8, 0, 0, 86400},
        {1970y / 1 / 1, 7, 59, 59, -1},
        {1970y / 1 / 1, 0, 0, 0, -28800},
        {1969y / 12 / 31, 8, 0, 0, -86400},
        {1970y / 1 / 1, 8, 0, 59, 59},
        {2026y / 12 / 5, 0, 0, 0, 1796428800.0 - 28800},
        {1601y / 1 / 1, 0, 0, 0, -11644473600.0 - 28800},
        {9999y / 12 / 31, 23, 59, 59, 253402300799.0 - 28800},
    };
    for (const Case& c : cases) {
        const Window window = computeWindow(startAt(c.date, c.h, c.m, c.s));
        EXPECT_EQ(window.StartEpoch, c.epoch) << static_cast<int>(c.date.year());
    }
}

TEST(ReportingWindow, EndBoundUsesEndPickersOnly) {
    const Pickers pickers{at(2026y / 12 / 4, 0, 0, 0), at(2026y / 12 / 4, 2, 15, 0),
                          at(2026y / 12 / 5, 23, 59, 0), at(1990y / 1 / 1, 2, 15, 0)};
    const Window window = computeWindow(pickers);
    EXPECT_EQ(window.StartEpoch, 1796350500.0 - 28800);
    EXPECT_EQ(window.EndEpoch, 1796436900.0 - 28800);
}

TEST(ReportingWindow, StartAfterEndIsKeptAsComputed) {
    const Pickers pickers{at(2026y / 12 / 6, 0, 0, 0), at(2026y / 12 / 6, 10, 0, 0),
                          at(2026y / 12 / 5, 0, 0, 0), at(2026y / 12 / 5, 9, 0, 0)};
    const Window window = computeWindow(pickers);
    EXPECT_GT(window.StartEpoch, window.EndEpoch);
    EXPECT_EQ(window.StartEpoch - window.EndEpoch, 86400 + 3600);
}

// fennick-cli's --zone: the picked clock times are that zone's, not the
// report zone's, and the page shows the window in it.
TEST(ReportingWindow, PickersOfAZoneAreReadWithItsOffsetAndTheWindowKeepsIt) {
    const TimeZone zone = TimeZone::fixed(-5h);
    const Pickers pickers{at(2026y / 12 / 4, 23, 59, 0), at(1999y / 12 / 31, 8, 30, 0),
                          at(2026y / 12 / 5, 0, 0, 0), at(1990y / 1 / 1, 22, 15, 30), &zone};
    const Window window = computeWindow(pickers);
    const auto utc = [](sys_days date, seconds time) {
        return static_cast<double>((date + time).time_since_epoch().count());
    };
    EXPECT_EQ(window.StartEpoch, utc(2026y / 12 / 4, 13h + 30min));
    EXPECT_EQ(window.EndEpoch, utc(2026y / 12 / 6, 3h + 15min + 30s));
    EXPECT_EQ(window.zone, &zone);
}

}  // namespace
}  // namespace fennick
