// What a finished run tells the operator: where the page is and what it shows.
#pragma once

#include <string>

#include "run/report_file.h"

namespace fennick {

// fennick-cli's line: "/srv/fennick/report_05-12-26.html: 478 jobs, 34
// failed, 1 still running, 1 daily policy not found". Failed are the page's
// jobs that ended without their backup; a job still running or queued is
// counted as that (and left out when there is none), never as failed.
std::string summaryLine(const ReportFile& report);

// The window's counts: "478 jobs, 35 failed, 1 daily policy not found",
// where "failed" are the rows the page highlights, running jobs included,
// as the window has always shown them.
std::string countsText(const PageCounts& counts);

// True when the page has a failed job or a policy not found: backups need
// looking at even though the run itself succeeded. A job still running is
// not yet a failure.
bool needsAttention(const PageCounts& counts);

}  // namespace fennick
