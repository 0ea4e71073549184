// The findings of a run for other tools: one JSON document, written after
// every run, failed runs included.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "common/report_time.h"
#include "pipeline/findings.h"
#include "run/history_state.h"
#include "run/report_file.h"

namespace fennick {

struct JsonRun {
    std::filesystem::path folder;
    Window window;
    int lookbackDays = 0;
    // A finished run has its page and findings; a failed one its error.
    const ReportFile* report = nullptr;
    const Findings* findings = nullptr;
    const std::map<std::string, std::string, std::less<>>* meanings = nullptr;
    std::string error;
    // The run's job history, when it keeps one.
    const HistoryState* history = nullptr;
};

// The document, ending in a newline. Keys: success, error (failed runs),
// folder, page, window {start, end}, zone (only when the window has one:
// the name its times were shown in), lookback_days, dump_out_of_order,
// counts, failing (each with failing_since, failed_since_success and
// nights: its states of the mail's 14 nights), not_found, overdue (the
// policies of policy_intervals.txt without a success within their interval:
// policy, interval_days, last_success, last_job), suspicious (the window's
// successes to check: policy, client, schedule, job_id, start, kbytes,
// elapsed, usual_kbytes, usual_elapsed and reasons, each "no data", "small"
// or "long"), recovered, nights (only without a history: {nights,
// policies} as the history has them, or null), history (null without one;
// else file, jobs, recorded, known_since, error, null when it was read, and
// the mail's nights: nights, nights 0 to 13 as {start, end}, and policies,
// each daily policy's {policy, nights}, in the daily list's order).
// Nights' lists are night 0 (the window) first, each state "unknown",
// "none", "running", "ok", "partial" or "failed"; they are null when the
// nights were not gathered. Times are seconds since 1970 (UTC) or null,
// texts UTF-8 (8-bit text that is not UTF-8 read as windows-1252). A failed
// run has null for the page, the counts and the lists.
std::string reportJson(const JsonRun& run);

}  // namespace fennick
