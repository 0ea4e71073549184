// "Process": the whole run from the configuration file to the report page.
#pragma once

#include <filesystem>
#include <functional>

#include "common/report_time.h"
#include "pipeline/reporting_window.h"

namespace fennick {

// The operator's present local date and time; tests pass a fixed one.
using Clock = std::function<LocalTime()>;

// Runs the five steps in order: retention labels, window, extraction, daily
// table, report page. `window` is the owner's StartEpoch/EndEpoch: it is set
// as soon as the window is computed, so it holds the new values even when a
// later step fails. Returns the same values. The first failure propagates.
Window process(const std::filesystem::path& appDir, const Pickers& pickers, const Clock& now,
               Window& window);

// The report page step alone: the page of `window`, named after the date
// that `now` gives.
void writeTodaysReport(const std::filesystem::path& appDir, const Window& window, const Clock& now);

}  // namespace fennick
