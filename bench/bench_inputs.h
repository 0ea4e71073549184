// Inputs of the benchmarks, generated once per run into a scratch directory
// (never timed) and removed when the run ends.
#pragma once

#include <cstdint>
#include <filesystem>

#include "common/report_time.h"

namespace fennick::bench {

// The newest start time of every benchmark dump: 2026-01-01 00:00:00 UTC.
inline constexpr long long kBenchNow = 1767225600;
// A busy server: the dump's length grows with its age, not its density, so a
// one-day window always holds about this many jobs.
inline constexpr long long kJobsPerDay = 50000;
inline constexpr double kDay = 86400;

struct DumpDir {
    std::filesystem::path dir;  // AppDir with bpdbjobs.txt, policy_list.txt, fennick_config.txt
    std::uintmax_t bytes = 0;   // size of bpdbjobs.txt
    double spanSeconds = 0;     // the oldest job starts up to this long before kBenchNow
};

// A dump of `jobs` jobs at kJobsPerDay over a pool of 20 policies.
const DumpDir& dumpDir(long long jobs);

// An AppDir whose out.txt holds exactly `rows` extracted jobs of a pool of
// `policies` policies, and whose policy_list.txt names every one of them.
const std::filesystem::path& tableDir(long long rows, int policies);

// The window of the newest day of a dump.
Window topDay();

long long lineCount(const std::filesystem::path& path);

void removeScratch();

}  // namespace fennick::bench
