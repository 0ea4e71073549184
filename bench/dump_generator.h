// Synthetic AppDir contents for the benchmarks and the demo folder: a job
// dump shaped like the backup server's, a daily policy list and the
// retention-level labels.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fennick::bench {

struct DumpOptions {
    long long jobs = 2000;
    long long now = 0;  // epoch seconds: the newest job starts no later than this
    double spanHours = 72;
    int policies = 20;
    std::uint64_t seed = 1;
};

// A daily policy that is listed but never runs, so a report always has a
// "Not Found" line.
inline constexpr std::string_view kRetiredPolicy = "daily_retired_01";

// Policy `index` (from 0) of the pool: "daily_fs_01", "daily_db_01",
// "weekly_db_01", "daily_vm_01", "weekly_fs_01", "daily_fs_02", ...
std::string policyName(int index);
bool isDailyPolicy(int index);

// bpdbjobs.txt: `jobs` lines, newest first, start times spread evenly with
// jitter over the span before `now`. The same options give the same bytes.
// Returns the file's size in bytes.
std::uintmax_t writeDump(const std::filesystem::path& dir, const DumpOptions& options);

// policy_list.txt: four of every five daily policies of the pool, then
// kRetiredPolicy.
void writePolicyList(const std::filesystem::path& dir, int policies);

// fennick_config.txt: a comment line and RL00..RL28 with readable labels.
void writeConfig(const std::filesystem::path& dir);

// Creates `dir` if needed and writes all three files; returns the dump's size.
std::uintmax_t generateAppDir(const std::filesystem::path& dir, const DumpOptions& options);

// Reads back what generateAppDir wrote with `options` and lists every way it
// misses the shape that the pipeline and the benchmarks rely on; empty when
// all is well.
std::vector<std::string> checkAppDir(const std::filesystem::path& dir, const DumpOptions& options);

}  // namespace fennick::bench
