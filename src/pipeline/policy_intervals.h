// How often the policies that do not run daily are expected to succeed,
// from the optional policy_intervals.txt of AppDir.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "files/text_file.h"

namespace fennick {

// The longest interval a line may give, in days: a leap year.
inline constexpr int kLongestIntervalDays = 366;

struct PolicyIntervals {
    // Policy and days, in the order of their first lines; a later line for
    // the same policy sets its days.
    std::vector<std::pair<std::string, int>> intervals;
    // "policy_intervals.txt line 3: not POLICY=DAYS (1 to 366), skipped".
    std::vector<std::string> warnings;
};

// Lines "POLICY=DAYS": the policy is everything before the last "=", as the
// dump holds it; DAYS a whole number from 1 to 366, digits only. Empty lines
// and lines that start with "#" are comments. Any other line is skipped with
// a warning, and a read that fails keeps the lines before it with a warning:
// nothing here fails a run.
PolicyIntervals readPolicyIntervals(LineReader& lines);

// The same on policy_intervals.txt of `appDir`; no file means no intervals.
PolicyIntervals readPolicyIntervals(const std::filesystem::path& appDir);

}  // namespace fennick
