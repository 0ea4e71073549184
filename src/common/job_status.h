// What a job's status text (the dump's field 3, out.txt's Status column)
// says about the job. The text is compared exactly: " 0" or "00" is neither
// success nor running.
#pragma once

#include <string_view>

namespace fennick {

enum class JobStatus {
    Succeeded,  // "0"
    Partial,    // "1": done, some files missed
    Running,    // empty: not finished, running or queued
    Failed,     // any other text
};

constexpr JobStatus jobStatus(std::string_view status) noexcept {
    if (status == "0")
        return JobStatus::Succeeded;
    if (status == "1")
        return JobStatus::Partial;
    if (status.empty())
        return JobStatus::Running;
    return JobStatus::Failed;
}

// "0" or "1": a job whose backup is there. The page highlights every other
// row, a job still running included, since the morning reader cannot yet
// rely on it.
constexpr bool isSuccess(std::string_view status) noexcept {
    return status == "0" || status == "1";
}

// Finished without its backup: neither a success nor still running.
constexpr bool isFailed(std::string_view status) noexcept {
    return jobStatus(status) == JobStatus::Failed;
}

}  // namespace fennick
