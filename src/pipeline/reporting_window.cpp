#include "pipeline/reporting_window.h"

#include "common/time_zone.h"

namespace fennick {

namespace {

// The date of `date` at the time of day of `time`, both taken as civil times.
LocalTime picked(LocalTime date, LocalTime time) {
    using std::chrono::days;
    using std::chrono::floor;
    return floor<days>(date) + (time - floor<days>(time));
}

// Seconds from 1970-01-01 00:00:00 to the civil time.
double bound(LocalTime date, LocalTime time) {
    return static_cast<double>(picked(date, time).time_since_epoch().count());
}

double boundIn(const TimeZone& zone, LocalTime date, LocalTime time) {
    return static_cast<double>(
        zone.instantsOf(picked(date, time)).earlier.time_since_epoch().count());
}

}  // namespace

Window computeWindow(const Pickers& pickers) {
    Window window;
    if (pickers.zone != nullptr) {
        window.StartEpoch = boundIn(*pickers.zone, pickers.dp1, pickers.tp1);
        window.EndEpoch = boundIn(*pickers.zone, pickers.dp2, pickers.tp2);
        window.zone = pickers.zone;
        return window;
    }
    window.StartEpoch = bound(pickers.dp1, pickers.tp1);
    window.EndEpoch = bound(pickers.dp2, pickers.tp2);
    // The picked moments are report-zone times; the bounds count UTC seconds.
    window.StartEpoch -= static_cast<double>(kReportZoneOffset);
    window.EndEpoch -= static_cast<double>(kReportZoneOffset);
    return window;
}

}  // namespace fennick
