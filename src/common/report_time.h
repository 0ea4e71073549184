// Times of the report zone (a fixed 8 hours ahead of UTC) and their text.
#pragma once

#include <chrono>
#include <string>

namespace fennick {

class TimeZone;

// The report zone's offset from UTC, in seconds; never the machine's zone.
inline constexpr long long kReportZoneOffset = 28800;

// The reporting window: whole seconds since 1970-01-01 00:00:00 UTC. Both 0
// until the window is first computed.
struct Window {
    double StartEpoch = 0;
    double EndEpoch = 0;
    // The zone every time of the run is shown in; null for the report zone.
    // Borrowed: the zone outlives the run.
    const TimeZone* zone = nullptr;
};

// A civil date and time of the report zone (or of the operator's clock),
// counted in seconds from 1970-01-01 00:00:00 of that same zone.
using LocalTime = std::chrono::local_seconds;

// What the window's pickers accept, and so what fennick-cli takes for a
// window's bounds: a time outside could never be picked.
inline constexpr LocalTime kFirstPickable =
    std::chrono::local_days{std::chrono::year{1601} / 1 / 1};
inline constexpr LocalTime kLastPickable =
    std::chrono::local_days{std::chrono::year{9999} / 12 / 31} + std::chrono::hours{23} +
    std::chrono::minutes{59} + std::chrono::seconds{59};

// Appends the date text of every date column and of the page's window line:
// "MM/DD/YYYY HH:mm:ss", or "MM/DD/YYYY" alone at exactly midnight. The same
// on every machine, whatever its locale. A year outside 100..9999 is an
// overflow.
void appendDateText(std::string& out, LocalTime time);

// The date text of epoch seconds n shown in the report zone, that is of the
// civil time n + 28800 s after 1970-01-01 00:00:00. A fraction of a second
// rounds to the nearest second, halves to even.
std::string reportZoneText(double epochSeconds);
void appendReportZoneText(std::string& out, double epochSeconds);

// The same shown in `zone`, with the offset in force at that instant; the
// report zone's text when `zone` is null.
std::string zoneText(double epochSeconds, const TimeZone* zone);
void appendZoneText(std::string& out, double epochSeconds, const TimeZone* zone);

// "DD-MM-YY": the page's name part.
std::string dayMonthYearText(std::chrono::year_month_day date);

// The machine's present local date and time, to the second.
LocalTime localNow();

}  // namespace fennick
