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
    int policies = 20;  // the pool the jobs' policy names come from
    std::uint64_t seed = 1;
    // Field counts per line; few fields are common, many are rare.
    std::size_t fewestFields = 40;
    std::size_t mostFields = 400;
    // Line length in bytes without CR LF, growing with the field count; 0 and
    // 0 leave the unread fields short ("natural" lines of about 80 to 800 bytes).
    std::size_t shortestLine = 0;
    std::size_t longestLine = 0;
    // Daily policies of the pool named in policy_list.txt; -1 lists four of
    // every five.
    int listedDaily = -1;
    // Daily policies listed after them that never run.
    int absentPolicies = 1;
};

// Listed daily policies that never run, so a report always has "Not Found"
// lines: "daily_retired_01", "daily_retired_02", ...
std::string retiredPolicyName(int index);

// Policy `index` (from 0) of the pool: "daily_fs_01", "daily_db_01",
// "weekly_db_01", "daily_vm_01", "weekly_fs_01", "daily_fs_02", ...
std::string policyName(int index);
bool isDailyPolicy(int index);

// bpdbjobs.txt: `jobs` lines, newest first, start times spread evenly with
// jitter over the span before `now`. The same options give the same bytes.
// Returns the file's size in bytes.
std::uintmax_t writeDump(const std::filesystem::path& dir, const DumpOptions& options);

// Daily policies of the pool that policy_list.txt names, in list order.
std::vector<std::string> listedPolicies(const DumpOptions& options);

// policy_list.txt: listedPolicies(), then the absent (retired) policies.
void writePolicyList(const std::filesystem::path& dir, const DumpOptions& options);

// fennick_config.txt: a comment line and RL00..RL28 with readable labels.
void writeConfig(const std::filesystem::path& dir);

// Creates `dir` if needed and writes all three files; returns the dump's size.
std::uintmax_t generateAppDir(const std::filesystem::path& dir, const DumpOptions& options);

// Reads back what generateAppDir wrote with `options` and lists every way it
// misses the shape that the pipeline and the benchmarks rely on; empty when
// all is well.
std::vector<std::string> checkAppDir(const std::filesystem::path& dir, const DumpOptions& options);

}  // namespace fennick::bench
