#include "common/report_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"

namespace fennick {
namespace {

using namespace std::chrono;
using test::failureOf;

std::string dateText(LocalTime time) {
    std::string text;
    appendDateText(text, time);
    return text;
}

// Sets the process's time zone for one test and puts the old one back.
class ZoneOverride {
  public:
    explicit ZoneOverride(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneOverride() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ZoneOverride(const ZoneOverride&) = delete;
    ZoneOverride& operator=(const ZoneOverride&) = delete;

  private:
    std::optional<std::string> old_;
};

struct Shown {
    double epoch;
    const char* text;
};

// Epochs chosen so the report-zone time (epoch + 8 h) lands on edges of the day,
// of months and leap years, and of the years 100..9999.
const Shown kShown[] = {
    {0, "01/01/1970 08:00:00"},
    {-28800, "01/01/1970"},
    {-28799, "01/01/1970 00:00:01"},
    {-28801, "12/31/1969 23:59:59"},
    {57599, "01/01/1970 23:59:59"},
    {57600, "01/02/1970"},
    {57601, "01/02/1970 00:00:01"},
    {1700000000, "11/15/2023 06:13:20"},
    {1709179200, "02/29/2024 12:00:00"},
    {951753600, "02/29/2000"},
    {-2203920001, "02/28/1900 23:59:59"},
    {-2203920000, "03/01/1900"},  // 1900 is not a leap year
    {-11644502400, "01/01/1601"},
    {-11644502399, "01/01/1601 00:00:01"},
    {-59011488000, "01/01/0100"},
    {253402271999, "12/31/9999 23:59:59"},
    {253402185600, "12/31/9999"},
    // A fraction of a second goes to the nearest second, a half to the even one.
    {0.4, "01/01/1970 08:00:00"},
    {0.5, "01/01/1970 08:00:00"},
    {1.5, "01/01/1970 08:00:02"},
    {-28800.5, "01/01/1970"},
    {-28801.5, "12/31/1969 23:59:58"},
};

TEST(ReportZoneText, ShowsEpochEightHoursAheadOfUtc) {
    for (const Shown& c : kShown) {
        EXPECT_EQ(reportZoneText(c.epoch), c.text) << std::fixed << c.epoch;
    }
}

TEST(ReportZoneText, IgnoresTheMachinesTimeZone) {
    // A POSIX rule needs no zone database, so at least one zone surely differs.
    for (const char* zone : {"America/New_York", "EST5EDT,M3.2.0,M11.1.0", "JST-9", "UTC"}) {
        ZoneOverride override(zone);
        for (const Shown& c : kShown) {
            EXPECT_EQ(reportZoneText(c.epoch), c.text) << zone << ' ' << std::fixed << c.epoch;
        }
    }
}

TEST(ReportZoneText, YearsOutside100To9999AreOverflow) {
    const double outside[] = {
        253402272000,  // 10000-01-01 00:00:00
        -59011488001,  // 0099-12-31 23:59:59
        1e300,
        -1e300,
        1e19,  // beyond long long
        -1e19,
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(),
    };
    for (double epoch : outside) {
        const auto failure = failureOf([&] { reportZoneText(epoch); });
        ASSERT_TRUE(failure) << epoch;
        EXPECT_EQ(failure->kind(), FailureKind::Overflow) << epoch;
    }
}

TEST(ReportZoneText, HalfSecondBeforeTheLastSecondRoundsIntoRange) {
    // 253402271998.5 rounds to the even ...998, 253402271999.5 to ...272000.
    EXPECT_EQ(reportZoneText(253402271998.5), "12/31/9999 23:59:58");
    const auto failure = failureOf([] { reportZoneText(253402271999.5); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::Overflow);
}

TEST(DateText, LeavesOutTheTimeOnlyAtExactMidnight) {
    const local_days day{year{2026} / 12 / 6};
    EXPECT_EQ(dateText(day), "12/06/2026");
    EXPECT_EQ(dateText(day + seconds{1}), "12/06/2026 00:00:01");
    EXPECT_EQ(dateText(day + hours{12}), "12/06/2026 12:00:00");
    EXPECT_EQ(dateText(day + hours{23} + minutes{59} + seconds{59}), "12/06/2026 23:59:59");
    EXPECT_EQ(dateText(day + hours{24}), "12/07/2026");
}

TEST(DateText, AcceptsExactlyTheYears100To9999) {
    const LocalTime first = local_days{year{100} / 1 / 1};
    const LocalTime last = local_days{year{9999} / 12 / 31} + hours{23} + minutes{59} + seconds{59};
    EXPECT_EQ(dateText(first), "01/01/0100");
    EXPECT_EQ(dateText(last), "12/31/9999 23:59:59");
    EXPECT_EQ(dateText(local_days{year{1000} / 10 / 10} + seconds{61}), "10/10/1000 00:01:01");
    for (LocalTime outside :
         {first - seconds{1}, last + seconds{1}, LocalTime{local_days{year{-1} / 1 / 1}}}) {
        const auto failure = failureOf([&] { dateText(outside); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::Overflow);
    }
}

// "MM/DD/YYYY" from the standard library's calendar, the reference for the
// conversion of day counts that the date text does by hand.
std::string referenceDate(local_days day) {
    const year_month_day date{day};
    char text[16];
    std::snprintf(text, sizeof text, "%02u/%02u/%04d", static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(date.year()));
    return text;
}

TEST(DateText, EveryDayOfTheYears100To9999MatchesTheStandardCalendar) {
    const local_days first{year{100} / 1 / 1};
    const local_days last{year{9999} / 12 / 31};
    std::string text;
    long long mismatches = 0;
    for (local_days day = first; day <= last; day += days{1}) {
        text.clear();
        appendDateText(text, day + seconds{1});
        if (text.compare(0, 10, referenceDate(day)) != 0 && ++mismatches <= 5)
            ADD_FAILURE() << text << " for " << referenceDate(day);
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(DateText, DayKeptFromTheLastCallNeverLeaksIntoAnother) {
    const local_days day{year{2024} / 2 / 29};
    const LocalTime sequence[] = {day + hours{1},
                                  day + hours{2},
                                  day + days{1},
                                  day - days{1} + hours{23},
                                  day + hours{1},
                                  day + days{366},
                                  local_days{year{100} / 1 / 1},
                                  day};
    for (const LocalTime time : sequence) {
        const local_days shownDay = floor<days>(time);
        std::string expected = referenceDate(shownDay);
        if (time != shownDay) {
            const hh_mm_ss clock{time - shownDay};
            char rest[16];
            std::snprintf(rest, sizeof rest, " %02d:%02d:%02d",
                          static_cast<int>(clock.hours().count()),
                          static_cast<int>(clock.minutes().count()),
                          static_cast<int>(clock.seconds().count()));
            expected += rest;
        }
        EXPECT_EQ(dateText(time), expected);
    }
}

TEST(DateText, AppendingKeepsWhatTheTextHeld) {
    std::string text = "start,";
    appendDateText(text, local_days{year{2026} / 12 / 6});
    appendReportZoneText(text, 0);
    EXPECT_EQ(text, "start,12/06/202601/01/1970 08:00:00");
    const auto failure = failureOf([&] { appendReportZoneText(text, 1e300); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::Overflow);
    EXPECT_EQ(text, "start,12/06/202601/01/1970 08:00:00");  // nothing of the failed one
}

TEST(DayMonthYearText, WritesTwoDigitsEachWithTheYearsLastTwo) {
    struct Case {
        year_month_day date;
        const char* text;
    };
    const Case cases[] = {
        {year{2026} / 12 / 6, "06-12-26"},  {year{2000} / 1 / 1, "01-01-00"},
        {year{1999} / 12 / 31, "31-12-99"}, {year{2009} / 7 / 5, "05-07-09"},
        {year{100} / 2 / 3, "03-02-00"},    {year{9999} / 11 / 30, "30-11-99"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dayMonthYearText(c.date), c.text) << c.text;
    }
}

TEST(LocalNow, FollowsTheMachinesTimeZone) {
    // localNow is the one reading of the machine's zone: 9 hours apart here.
    const auto utcNow = [] {
        return LocalTime{floor<seconds>(system_clock::now()).time_since_epoch()};
    };
    {
        ZoneOverride override("UTC0");
        const auto before = utcNow();
        const LocalTime now = localNow();
        EXPECT_LE(before, now);
        EXPECT_LE(now, utcNow());
    }
    {
        ZoneOverride override("JST-9");
        const auto before = utcNow() + hours{9};
        const LocalTime now = localNow();
        EXPECT_LE(before, now);
        EXPECT_LE(now, utcNow() + hours{9});
    }
}

}  // namespace
}  // namespace fennick
