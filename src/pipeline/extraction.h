// Selects the window's jobs from bpdbjobs.txt into out.txt and out2.txt.
#pragma once

#include <filesystem>

#include "common/report_time.h"

namespace fennick {

inline constexpr const char* kDumpFile = "bpdbjobs.txt";
inline constexpr const char* kJobsFile = "out.txt";
inline constexpr const char* kOtherJobsFile = "out2.txt";

// Reads the dump (newest job first) up to the first job older than the
// window and writes each selected job to out.txt (13 columns) or out2.txt
// (14 columns). The outputs are created only once the dump has opened.
void extractJobs(const std::filesystem::path& appDir, const Window& window);

}  // namespace fennick
