#include "common/report_time.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string>

#include "common/civil_date.h"
#include "common/failure.h"
#include "common/time_zone.h"

namespace fennick {

namespace {

using std::chrono::days;
using std::chrono::local_days;
using std::chrono::seconds;

const LocalTime kEarliest = local_days{std::chrono::year{100} / 1 / 1};
const LocalTime kLatest = local_days{std::chrono::year{10000} / 1 / 1} - seconds{1};

void appendTwo(std::string& out, unsigned value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

}  // namespace

void appendDateText(std::string& out, LocalTime time) {
    if (time < kEarliest || time > kLatest) {
        throw Failure(FailureKind::Overflow, "is a date outside the years 100 to 9999");
    }
    appendCivilText(out, time.time_since_epoch().count());
}

void appendReportZoneText(std::string& out, double epochSeconds) {
    const double shown = std::nearbyint(epochSeconds) + static_cast<double>(kReportZoneOffset);
    // Compare as doubles first: a huge value must not reach the integer cast.
    const double earliest = static_cast<double>(kEarliest.time_since_epoch().count());
    const double latest = static_cast<double>(kLatest.time_since_epoch().count());
    if (!(shown >= earliest && shown <= latest)) {
        throw Failure(FailureKind::Overflow, "is a time outside the years 100 to 9999");
    }
    appendCivilText(out, static_cast<long long>(shown));
}

void appendZoneText(std::string& out, double epochSeconds, const TimeZone* zone) {
    if (zone == nullptr) {
        appendReportZoneText(out, epochSeconds);
        return;
    }
    const double instant = std::nearbyint(epochSeconds);
    // Two days either side of the years shown leave room for any offset,
    // and keep a huge value from the integer cast and from the zone's rules.
    const double margin = 2.0 * 86400;
    const double earliest = static_cast<double>(kEarliest.time_since_epoch().count()) - margin;
    const double latest = static_cast<double>(kLatest.time_since_epoch().count()) + margin;
    if (!(instant >= earliest && instant <= latest)) {
        throw Failure(FailureKind::Overflow, "is a time outside the years 100 to 9999");
    }
    const auto at = static_cast<long long>(instant);
    const LocalTime shown{seconds{at + zone->offsetAt(at)}};
    if (shown < kEarliest || shown > kLatest) {
        throw Failure(FailureKind::Overflow, "is a time outside the years 100 to 9999");
    }
    appendCivilText(out, shown.time_since_epoch().count());
}

std::string zoneText(double epochSeconds, const TimeZone* zone) {
    std::string text;
    appendZoneText(text, epochSeconds, zone);
    return text;
}

std::string reportZoneText(double epochSeconds) {
    std::string text;
    appendReportZoneText(text, epochSeconds);
    return text;
}

std::string dayMonthYearText(std::chrono::year_month_day date) {
    std::string text;
    appendTwo(text, static_cast<unsigned>(date.day()));
    text += '-';
    appendTwo(text, static_cast<unsigned>(date.month()));
    text += '-';
    const int year = static_cast<int>(date.year());
    appendTwo(text, static_cast<unsigned>(((year % 100) + 100) % 100));
    return text;
}

LocalTime localNow() {
    // The operator's clock is the one place the machine's zone counts.
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    const local_days day = local_days{std::chrono::year{parts.tm_year + 1900} /
                                      std::chrono::month{static_cast<unsigned>(parts.tm_mon + 1)} /
                                      std::chrono::day{static_cast<unsigned>(parts.tm_mday)}};
    return day + std::chrono::hours{parts.tm_hour} + std::chrono::minutes{parts.tm_min} +
           seconds{std::min(parts.tm_sec, 59)};
}

}  // namespace fennick
