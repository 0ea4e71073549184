// The reporting window from the four pickers.
#pragma once

#include "common/report_time.h"

namespace fennick {

// The four picker values as local date-times. Only the date of dp1/dp2 and
// only the time of day of tp1/tp2 count.
struct Pickers {
    LocalTime dp1;
    LocalTime tp1;
    LocalTime dp2;
    LocalTime tp2;
    // The zone the clock times are read in; null for the report zone.
    const TimeZone* zone = nullptr;
};

// StartEpoch from dp1's date at tp1's time of day, EndEpoch from dp2's date
// at tp2's time of day, both read as report-zone times, or as times of the
// pickers' zone, which the window then keeps. There, a clock time that comes
// twice is its earlier instant, and one the clocks skipped is read with the
// offset before the gap. Nothing is validated: a start after the end is kept
// as it is.
Window computeWindow(const Pickers& pickers);

}  // namespace fennick
