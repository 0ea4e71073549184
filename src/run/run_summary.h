// What a finished run tells the operator: where the page is and what it shows.
#pragma once

#include <string>

#include "run/report_file.h"

namespace fennick {

// "/srv/fennick/report_05-12-26.html: 478 jobs, 35 failed, 1 daily policy
// not found".
std::string summaryLine(const ReportFile& report);

// The counts alone: "478 jobs, 35 failed, 1 daily policy not found".
std::string countsText(const PageCounts& counts);

// True when the page has a row highlighted as failed or a policy not found:
// backups need looking at even though the run itself succeeded.
bool needsAttention(const PageCounts& counts);

}  // namespace fennick
