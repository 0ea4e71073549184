// Selects the window's jobs from bpdbjobs.txt into out.txt and out2.txt.
#pragma once

#include <filesystem>

#include "common/report_time.h"
#include "common/text_file.h"

namespace fennick {

// Reads the dump (newest job first) up to the first job older than the
// window and writes each selected job to `jobs` (out.txt, 13 columns) or
// `otherJobs` (out2.txt, 14 columns), then closes both.
void extractJobs(LineReader& dump, LineWriter& jobs, LineWriter& otherJobs, const Window& window);

// The same on the files of `appDir`: the outputs are created only once the
// dump has opened, so a missing dump leaves earlier outputs as they were.
// `jobsWatcher` hears how far out.txt is written.
void extractJobs(const std::filesystem::path& appDir, const Window& window,
                 WriteWatcher* jobsWatcher = nullptr);

}  // namespace fennick
