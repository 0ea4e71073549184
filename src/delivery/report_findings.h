// What the report mail lists from the daily table: the failed jobs and the
// daily policies without jobs, as the page highlights them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace fennick {

struct FailedJob {
    std::string policy, client, schedule, status, jobId, start;

    bool operator==(const FailedJob&) const = default;
};

struct ReportFindings {
    std::vector<FailedJob> failed;      // the first `keep` in table order
    std::vector<std::string> notFound;  // the first `keep` policy names
    std::size_t failedCount = 0;        // all of them
    std::size_t notFoundCount = 0;
};

// Reads out1.txt (`tableFile`): line 1 is the heading; a job line is failed
// when its status is neither "0" nor "1", and names its policy, or leaves
// column 0 empty for the policy of the line before. Failures name the file
// and line; a job line without a status, or a failed one without a job id,
// is "subscript out of range".
ReportFindings readFindings(const std::filesystem::path& tableFile, std::size_t keep = 100);

}  // namespace fennick
