// The start-up that needs no window: the first job id of the dump, whether
// the command line asks for the unattended run, and that run itself.
#pragma once

#include <QStringList>
#include <filesystem>
#include <string>

#include "pipeline/process.h"

namespace fennick::app {

// The switch of the unattended run.
inline constexpr const char* kUnattendedSwitch = "-q";

// Field 0 of the first line of bpdbjobs.txt in `appDir`: the text before the
// first comma. A missing dump is "file not found", an empty one "input past
// end", and a first line without a comma "invalid argument". Only the first
// line is read.
std::string firstJobId(const std::filesystem::path& appDir);

// True only for exactly one argument that is exactly "-q": "-Q", "/q", "-q "
// and "-q" followed by anything else all mean the interactive run.
bool isUnattended(const QStringList& arguments);

// The pickers of the unattended run: the date pickers one day apart, ending
// at the present moment; the time pickers as they were when the window was
// made (`created`).
Pickers unattendedPickers(LocalTime created, const Clock& now);

// The unattended run without building a window, which it would never show:
// the start-up's read of the dump's first line, then "Process" on the
// unattended pickers. Failures propagate.
Window runUnattended(const std::filesystem::path& appDir, const Clock& now);

// The directory that holds the running program file; `argv0` is the fallback
// where the system cannot say.
std::filesystem::path programDir(const char* argv0);

}  // namespace fennick::app
