// The unattended run, which asks nobody anything: the start-up's look at the
// dump's first job id, the pickers of the day before, and the run itself.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/reporting_window.h"
#include "run/report_run.h"

namespace fennick {

// Field 0 of the first line of bpdbjobs.txt in `appDir`: the text before the
// first comma. A missing dump is "file not found", an empty one "input past
// end", and a first line without a comma "invalid argument". Only the first
// line is read.
std::string firstJobId(const std::filesystem::path& appDir);

// The pickers of a run that reports on the day before `end`: the date
// pickers one calendar day apart, ending at `end`; the time pickers at
// `times` (the clock time they held when the window was made).
Pickers dayBefore(LocalTime end, LocalTime times);

// The unattended run, which builds no window because it would never show
// one: the start-up's read of the dump's first line, then "Process" on the
// pickers of the day before the present moment. Failures propagate.
ReportFile runUnattended(const std::filesystem::path& appDir, const Clock& now);

}  // namespace fennick
