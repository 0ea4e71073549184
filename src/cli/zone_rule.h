// What a zone file of the time-zone data says of the years after the
// changes it lists: the POSIX TZ rule in its footer (RFC 8536), such as
// "CET-1CEST,M3.5.0,M10.5.0/3". The date library reads the listed changes
// only; these take over from the last one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/time_zone.h"

namespace fennick::cli {

// std offset [dst [offset] ,start[/time],end[/time]]: names plain or in
// <...>, days as Mm.w.d, Jn or n, and the times of day RFC 8536 allows
// (negative, up to 167 hours), so that a change may fall on another day
// than its rule names.
class ZoneRule {
  public:
    // The rule the text states; nothing when it is no rule of that form. A
    // daylight saving time without its start and end is refused, as the
    // data always gives them.
    static std::optional<ZoneRule> parse(std::string_view text);

    // The offset in force at the instant, over a span that ends at the next
    // change of the rule (or a year boundary, where daylight saving time
    // runs all year) and begins at the one before.
    TimeZone::Span spanAt(long long epochSeconds) const;

    // A day of the year the clocks change on, and the clock time of that
    // day (seconds after its midnight, in the offset in force until then).
    struct Change {
        enum class Day { MonthWeek, Julian, FromZero };
        Day kind = Day::MonthWeek;
        int month = 0;    // Mm.w.d: 1 to 12
        int week = 0;     // 1 to 4, or 5 for the last
        int weekday = 0;  // 0 is Sunday
        int day = 0;      // Jn: 1 to 365, Feb 29 never counted; n: 0 to 365
        long long time = 2 * 3600;
    };

  private:
    // Seconds east of UTC, as TimeZone keeps them (the rule's text counts
    // them west).
    long long standard_ = 0;
    struct Daylight {
        long long offset;
        Change start;
        Change end;
    };
    std::optional<Daylight> daylight_;

    TimeZone::Span spanInYears(long long epochSeconds) const;
};

// What the end of a TZif file holds, read without trusting its counts.
struct ZoneFileTail {
    // The instant of the last change the file lists; nothing when it lists
    // none.
    std::optional<long long> lastChange;
    // The footer's text, between the file's last two newlines; nothing for
    // a version 1 file or one without a footer. It may be empty.
    std::optional<std::string> footer;
};

// Nothing when the bytes are no TZif file, or one cut short.
std::optional<ZoneFileTail> readZoneFileTail(std::string_view bytes);

}  // namespace fennick::cli
