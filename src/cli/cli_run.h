// One run of fennick-cli from parsed options to exit status: the dump
// refreshed and the report made under the folder's lock, then the metrics
// written and the mail handed over.
#pragma once

#include "cli/options.h"

namespace fennick::cli {

// Exit statuses; 1 is the unattended run's for a failed run.
inline constexpr int kDone = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;
inline constexpr int kNotDelivered = 3;
inline constexpr int kNeedsAttention = 4;

// Runs what `options` asks for and tells the outcome as fennick-cli does:
// the summary line on standard output, failures on standard error.
int runCli(const Options& options);

// "import": records the older dumps of `options` in the history, under the
// folder's lock, and prints one line per dump and the history's size.
int runImport(const Options& options);

}  // namespace fennick::cli
