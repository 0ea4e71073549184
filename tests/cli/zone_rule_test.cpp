// The POSIX TZ rules at the end of the zone files, in every form RFC 8536
// allows, and the reading of a TZif file's end. The data's own footers are
// checked against Python's zoneinfo in zone_data_test.cpp.
#include "cli/zone_rule.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace fennick::cli {
namespace {

using namespace std::chrono;

constexpr long long kMin = std::numeric_limits<long long>::min();
constexpr long long kMax = std::numeric_limits<long long>::max();

long long utc(year_month_day date, seconds time = seconds{0}) {
    return (sys_days{date} + time).time_since_epoch().count();
}

TEST(ZoneRule, GivesTheOffsetAndTheChangesAroundAnInstant) {
    struct Case {
        const char* rule;
        long long at;
        long long offset;
        long long begin;
        long long end;
    };
    // The data's own footers (zone_data_test.cpp) hold the common forms;
    // these are the ones it does not, and one of them for a start.
    const Case cases[] = {
        // Last Sundays, 02:00 (the default) standard time and 03:00 daylight
        // time; from the first second of the change to the last before the
        // next.
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc(2040y / 3 / 25, 1h), 7200, utc(2040y / 3 / 25, 1h),
         utc(2040y / 10 / 28, 1h)},
        // A negative time: 23:00 on the Saturday before.
        {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", utc(2040y / 3 / 25, 1h) - 1, -7200,
         utc(2039y / 10 / 30, 1h), utc(2040y / 3 / 25, 1h)},
        // 167 hours either way: into the next week and back into the last.
        {"<+02>-2<+03>,M3.1.0/167,M10.1.0/-167", utc(2040y / 6 / 1), 10800,
         utc(2040y / 3 / 10, 21h), utc(2040y / 9 / 29, 22h)},
        // Each year's changes fall a week into the next year, so the one
        // before early January is two years' rule back.
        {"<+00>0<+01>,J364/167,J365/167", utc(2041y / 1 / 2), 0, utc(2040y / 1 / 6, 22h),
         utc(2041y / 1 / 5, 23h)},
        // Southern hemisphere, daylight saving time half an hour ahead.
        {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", utc(2026y / 1 / 15), 39600,
         utc(2025y / 10 / 4, 15h + 30min), utc(2026y / 4 / 4, 15h)},
        // Jn never counts 29 February: J60 is 1 March and J300 27 October,
        // in a leap year too; n counts it from 0.
        {"<-03>3<-02>,J60/0,J300/0", utc(2040y / 6 / 1), -7200, utc(2040y / 3 / 1, 3h),
         utc(2040y / 10 / 27, 2h)},
        {"<-03>3<-02>,59/0,299/0", utc(2040y / 6 / 1), -7200, utc(2040y / 2 / 29, 3h),
         utc(2040y / 10 / 26, 2h)},
        {"<-03>3<-02>,59/0,299/0", utc(2041y / 6 / 1), -7200, utc(2041y / 3 / 1, 3h),
         utc(2041y / 10 / 27, 2h)},
        // Daylight saving time all year: it ends as the next year's starts.
        {"EST5EDT,0/0,J365/25", utc(2040y / 1 / 1, 5h) - 1, -14400, utc(2039y / 1 / 1, 5h),
         utc(2040y / 1 / 1, 5h)},
        // No daylight saving time: one span for all time.
        {"<+0545>-5:45", utc(2040y / 6 / 1), 20700, kMin, kMax},
        {"LMT+0:53:28", utc(2040y / 6 / 1), -3208, kMin, kMax},
    };
    for (const Case& c : cases) {
        const auto rule = ZoneRule::parse(c.rule);
        ASSERT_TRUE(rule) << c.rule;
        const TimeZone::Span span = rule->spanAt(c.at);
        EXPECT_EQ(span.offset, c.offset) << c.rule << " at " << c.at;
        EXPECT_EQ(span.begin, c.begin) << c.rule << " at " << c.at;
        EXPECT_EQ(span.end, c.end) << c.rule << " at " << c.at;
    }
}

// However far off an instant is, its span holds it, as the zone's cache of
// spans needs.
TEST(ZoneRule, SpansHoldInstantsFarOutside) {
    const auto rule = ZoneRule::parse("CET-1CEST,M3.5.0,M10.5.0/3");
    ASSERT_TRUE(rule);
    for (long long at : {kMin, kMin / 2, -1LL << 40, 0LL, 1LL << 40, kMax / 2, kMax - 1}) {
        const TimeZone::Span span = rule->spanAt(at);
        EXPECT_LE(span.begin, at);
        EXPECT_GT(span.end, at);
        EXPECT_TRUE(span.offset == 3600 || span.offset == 7200) << at;
    }
}

TEST(ZoneRule, RefusesWhatIsNoRule) {
    for (const char* text :
         {"", "EST", "ES5", "E5T5", "<ES>5", "<EST5", "5EST", "EST+", "EST25", "EST24:30", "EST5:6",
          "EST5:60", "EST5:00:60", "EST5 EDT,M3.2.0,M11.1.0",
          // Daylight saving time wants its start and its end.
          "EST5EDT", "EST5EDT4", "EST5EDT,M3.2.0", "EST5EDT,M3.2.0,", "JST-9,M3.2.0,M11.1.0",
          "EST5EDT,M3.2.0,M11.1.0,", "EST5EDT,M3.2.0,M11.1.0x", "EST5EDT4M3.2.0,M11.1.0",
          // Months 1 to 12, weeks 1 to 5, days 0 to 6.
          "EST5EDT,M0.2.0,M11.1.0", "EST5EDT,M13.2.0,M11.1.0", "EST5EDT,M3.0.0,M11.1.0",
          "EST5EDT,M3.6.0,M11.1.0", "EST5EDT,M3.2.7,M11.1.0", "EST5EDT,M3.2,M11.1.0",
          "EST5EDT,M3,M11.1.0",
          // J1 to J365, 0 to 365.
          "EST5EDT,J0,J300", "EST5EDT,J1,J366", "EST5EDT,0,366", "EST5EDT,J,J300",
          // Times up to 167 hours either way.
          "EST5EDT,M3.2.0/168,M11.1.0", "EST5EDT,M3.2.0,M11.1.0/-168",
          "EST5EDT,M3.2.0/167:00:01,M11.1.0", "EST5EDT,M3.2.0/,M11.1.0",
          "EST5EDT,M3.2.0/2:0,M11.1.0"}) {
        EXPECT_FALSE(ZoneRule::parse(text)) << text;
    }
}

// Europe/Berlin's file, its footer changed or cut.
TEST(ZoneFileTail, GivesTheFooterOfAVersion2File) {
    std::ifstream in("/usr/share/zoneinfo/Europe/Berlin", std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::size_t footer = file.rfind('\n', file.size() - 2);
    ASSERT_NE(footer, std::string::npos);
    const std::string data = file.substr(0, footer);
    // Where the version 1 data ends and the second header starts.
    const std::size_t second = file.find("TZif", 4);
    std::string versionOne = file.substr(0, second) + "\nCET-1\n";
    versionOne[4] = '\0';
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {file, "CET-1CEST,M3.5.0,M10.5.0/3"},
        {data + "\n\n", ""},
        {data, std::nullopt},
        {data + "\nCET-1", std::nullopt},
        // A version 1 file has no footer, whatever follows its data.
        {versionOne, std::nullopt},
    };
    for (const auto& [bytes, expected] : cases) {
        const auto tail = readZoneFileTail(bytes);
        ASSERT_TRUE(tail) << bytes.size() << " bytes";
        EXPECT_TRUE(tail->lastChange);
        EXPECT_EQ(tail->footer, expected) << bytes.size() << " bytes";
    }
    // Cut inside the first header, the first block, the second header or
    // the second block.
    for (std::size_t size : {std::size_t{43}, second - 1, second + 43, footer - 1})
        EXPECT_FALSE(readZoneFileTail(data.substr(0, size))) << size << " bytes";
    EXPECT_FALSE(readZoneFileTail("TZiF" + file.substr(4)));
}

}  // namespace
}  // namespace fennick::cli
