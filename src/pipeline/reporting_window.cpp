#include "pipeline/reporting_window.h"

namespace fennick {

namespace {

// Seconds from 1970-01-01 00:00:00 to the date of `date` at the time of day
// of `time`, both taken as civil times.
double bound(LocalTime date, LocalTime time) {
    using std::chrono::days;
    using std::chrono::floor;
    const auto day = floor<days>(date);
    const auto timeOfDay = time - floor<days>(time);
    return static_cast<double>((day + timeOfDay).time_since_epoch().count());
}

}  // namespace

Window computeWindow(const Pickers& pickers) {
    Window window;
    window.StartEpoch = bound(pickers.dp1, pickers.tp1);
    window.EndEpoch = bound(pickers.dp2, pickers.tp2);
    // The picked moments are report-zone times; the bounds count UTC seconds.
    window.StartEpoch -= static_cast<double>(kReportZoneOffset);
    window.EndEpoch -= static_cast<double>(kReportZoneOffset);
    return window;
}

}  // namespace fennick
