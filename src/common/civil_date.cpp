#include "common/civil_date.h"

#include <cstring>
#include <limits>

namespace fennick {

namespace {

void appendTwo(char* out, unsigned value) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

struct CivilDate {
    long long year;
    unsigned month;
    unsigned day;
};

// The proleptic Gregorian date `dayNumber` days after 1970-01-01 (H. Hinnant's
// civil_from_days): every date column of every job passes here, and this is
// a few integer steps without tables.
CivilDate civilFromDays(long long dayNumber) {
    dayNumber += 719468;  // from 0000-03-01
    const long long era = (dayNumber >= 0 ? dayNumber : dayNumber - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(dayNumber - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;  // March is 0
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const long long year = static_cast<long long>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

}  // namespace

void appendCivilText(std::string& out, long long count) {
    const long long dayNumber = (count >= 0 ? count : count - 86399) / 86400;
    const auto secondOfDay = static_cast<unsigned>(count - dayNumber * 86400);

    // Jobs next to each other in a dump mostly share their day: the date
    // part of the last day shown is kept.
    struct LastDay {
        long long number = std::numeric_limits<long long>::min();
        char text[10];
    };
    thread_local LastDay last;
    char text[19];
    if (dayNumber != last.number) {
        const CivilDate date = civilFromDays(dayNumber);
        const auto year = static_cast<unsigned>(date.year);
        appendTwo(last.text, date.month);
        last.text[2] = '/';
        appendTwo(last.text + 3, date.day);
        last.text[5] = '/';
        appendTwo(last.text + 6, year / 100);
        appendTwo(last.text + 8, year % 100);
        last.number = dayNumber;
    }
    std::memcpy(text, last.text, sizeof last.text);
    if (secondOfDay == 0) {
        out.append(text, 10);
        return;
    }
    text[10] = ' ';
    appendTwo(text + 11, secondOfDay / 3600);
    text[13] = ':';
    appendTwo(text + 14, secondOfDay / 60 % 60);
    text[16] = ':';
    appendTwo(text + 17, secondOfDay % 60);
    out.append(text, 19);
}

}  // namespace fennick
