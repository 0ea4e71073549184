// "Process": the whole run from the configuration file to the report page.
// Every front end (the window, the unattended start, the command-line
// runner) runs it through here.
#pragma once

#include <filesystem>
#include <functional>

#include "common/report_time.h"
#include "pipeline/reporting_window.h"
#include "run/report_file.h"
#include "run/run_lock.h"

namespace fennick {

// The operator's present local date and time; tests pass a fixed one.
using Clock = std::function<LocalTime()>;

// Runs the five steps in order: retention labels, window, extraction, daily
// table, report page, holding the AppDir's run lock throughout. `window` is
// the owner's StartEpoch/EndEpoch: it is set as soon as the window is
// computed, so it holds the new values even when a later step fails. The
// first failure propagates.
ReportFile process(const std::filesystem::path& appDir, const Pickers& pickers, const Clock& now,
                   Window& window);

// The same run for a caller that already holds the AppDir's run lock (and
// shows it by handing it in), so that it can do more under the same lock:
// refresh the dump before, read the table and the page after.
ReportFile processHeld(const RunLock& held, const std::filesystem::path& appDir,
                       const Pickers& pickers, const Clock& now, Window& window);

// The report page step alone (the hidden "HTML Report" button): the page of
// `window` from the out1.txt on disk, named after the date `now` gives.
ReportFile writeTodaysReport(const std::filesystem::path& appDir, const Window& window,
                             const Clock& now);

}  // namespace fennick
