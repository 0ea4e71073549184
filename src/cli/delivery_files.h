// The files a run delivers beside its report (the JSON, the metrics) are
// replaced whole at the end of the run: one that is also a file the run
// reads or writes would destroy it, and one that is the other delivery file
// would lose one of the two.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>

#include "cli/options.h"

namespace fennick::cli {

// A UsageError naming the option and the file it would replace when a
// delivery file of `options` is, by whatever path (".", "..", a symbolic or
// a hard link), one of the run's inputs or outputs in `dir` (the dump, the
// policy list, the configuration, status_codes.txt, out.txt, out2.txt,
// out1.txt, the page named after `pageDay` and the temporary files of the
// page and the dump), or another delivery file. The job history, when the
// run keeps one, is protected as a delivery file is. Reads no file's
// contents.
void checkDeliveryFiles(const Options& options, const std::filesystem::path& dir,
                        std::chrono::year_month_day pageDay,
                        const std::optional<std::filesystem::path>& history = std::nullopt);

}  // namespace fennick::cli
