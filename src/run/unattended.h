// The start that asks nothing of anybody: the first job id of the dump,
// whether the command line asks for the unattended run, and that run itself.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "run/process.h"

namespace fennick {

// The switch of the unattended run.
inline constexpr const char* kUnattendedSwitch = "-q";

// Field 0 of the first line of bpdbjobs.txt in `appDir`: the text before the
// first comma. A missing dump is "file not found", an empty one "input past
// end", and a first line without a comma "invalid argument". Only the first
// line is read.
std::string firstJobId(const std::filesystem::path& appDir);

// True only for exactly one argument that is exactly "-q": "-Q", "/q", "-q "
// and "-q" followed by anything else all mean the interactive run.
bool isUnattended(const std::vector<std::string>& arguments);

// The pickers of a run that reports on the day before `end`: the date
// pickers one calendar day apart, ending at `end`; the time pickers at
// `times` (the clock time they held when the window was made).
Pickers dayBefore(LocalTime end, LocalTime times);

// The unattended run, which builds no window because it would never show
// one: the start-up's read of the dump's first line, then "Process" on the
// pickers of the day before the present moment. Failures propagate.
ReportFile runUnattended(const std::filesystem::path& appDir, const Clock& now);

// A failed run as nobody watching it learns of it: "fennick: <message>" on
// standard error. "fennick -q" and fennick-cli print it word for word alike.
void printFailure(const char* message);

// The directory that holds the running program file; `argv0` is the fallback
// where the system cannot say.
std::filesystem::path programDir(const char* argv0);

}  // namespace fennick
