// The files of a run, by the names they have in AppDir; failures use the
// same names.
#pragma once

#include <string_view>

namespace fennick {

inline constexpr std::string_view kConfigFile = "fennick_config.txt";
inline constexpr std::string_view kDumpFile = "bpdbjobs.txt";
inline constexpr std::string_view kJobsFile = "out.txt";
inline constexpr std::string_view kOtherJobsFile = "out2.txt";
inline constexpr std::string_view kPolicyFile = "policy_list.txt";
// Optional: what the status codes mean, for fennick-cli's summary.
inline constexpr std::string_view kStatusCodesFile = "status_codes.txt";
inline constexpr std::string_view kTableFile = "out1.txt";
// Optional: how often the policies that do not run daily should succeed.
inline constexpr std::string_view kPolicyIntervalsFile = "policy_intervals.txt";
// fennick-cli's page of the nights that the job history remembers.
inline constexpr std::string_view kHistoryPageFile = "history.html";

}  // namespace fennick
