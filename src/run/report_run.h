// The run as a whole, one entry for every front end (the window's "Process",
// the unattended start, fennick-cli): under the folder's lock, the dump's
// refresh, the start-up's look at the dump, the steps and, when asked for,
// what needs action.
#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "common/report_time.h"
#include "pipeline/findings.h"
#include "pipeline/reporting_window.h"
#include "pipeline/status_codes.h"
#include "run/dump_refresh.h"
#include "run/history_state.h"
#include "run/remembered_findings.h"
#include "run/report_file.h"

namespace fennick {

// The operator's present local date and time; tests pass a fixed one.
using Clock = std::function<LocalTime()>;

struct RunRequest {
    RunRequest(std::filesystem::path folder, const Pickers& picked, Clock clock)
        : appDir(std::move(folder)), pickers(picked), now(std::move(clock)) {}

    std::filesystem::path appDir;
    // The window as the pickers hold it (the zone they are read in with it).
    Pickers pickers;
    // The date the page is named after, asked for when the page is written.
    Clock now;
    // Run first, under the lock; its output becomes the dump.
    std::optional<DumpCommand> dump;
    // The start-up's look at the dump's first line, which the window makes
    // when it starts and the unattended runs make here.
    bool readFirstJobId = false;
    // Read what needs action with this many days of history; nothing when
    // nobody reads it.
    std::optional<int> findingsLookbackDays;
    // With the findings: the job history they read and add to.
    std::optional<HistoryRequest> history;
    // With the findings: what makes a success suspicious.
    SuspicionRules suspicion;
};

struct RunResult {
    // StartEpoch and EndEpoch of the pickers, whether or not the run got far.
    Window window;
    // Whether the run came to the window's step, after the retention labels:
    // only then does the window's owner take the new values.
    bool windowStepRan = false;
    // The page and what it shows; nothing when the run failed.
    std::optional<ReportFile> report;
    // When asked for and the page was made.
    std::optional<Findings> findings;
    // When a history was asked for with the findings: what became of it.
    std::optional<HistoryState> history;
    // With the findings: the status codes' meanings, and the warnings of
    // status_codes.txt and policy_intervals.txt.
    StatusCodes codes;
    // The first failure (a Failure names its kind and where it happened).
    std::exception_ptr failure;

    bool succeeded() const { return report.has_value(); }
    // The failure's message; empty for a run that succeeded.
    std::string failureText() const;
};

// What runs while the run still holds the folder: the delivery of the run's
// files must describe the page on disk.
using WhileHeld = std::function<void(const RunResult&)>;

// Holds the folder's run lock, then: the dump command, the first job id,
// the removal of what killed runs left, the five steps (retention labels,
// window, extraction, daily table, page), the findings and the status
// codes; then `whileHeld`. The first failure ends the steps and is kept in
// the result; `whileHeld` runs after a failure too, without the lock when
// the lock was what failed. A stop by a signal (Interrupted) is no failure
// of the run: it propagates.
RunResult runReport(const RunRequest& request, const WhileHeld& whileHeld = {});

// The page of a run that must have made it; its failure is thrown.
ReportFile reportOf(const RunResult& result);

// The page step alone (the window's hidden "HTML Report" button): the page
// of `window` from the out1.txt on disk, named after the date `now` gives,
// under the folder's lock.
ReportFile writeTodaysReport(const std::filesystem::path& appDir, const Window& window,
                             const Clock& now);

}  // namespace fennick
