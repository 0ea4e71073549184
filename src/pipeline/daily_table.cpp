#include "pipeline/daily_table.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/columns.h"
#include "common/failure.h"
#include "common/file_names.h"
#include "files/text_file.h"
#include "pipeline/job_index.h"
#include "pipeline/jobs_ahead.h"

namespace fennick {

namespace {

constexpr std::string_view kHeader =
    "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,"
    "Tx Rate,Job ID,Schedule Type";
constexpr std::string_view kNotProgrammed = "Not Programmed";

// Reads out.txt once, all of it: the table is joined in memory.
JobIndex readJobs(const std::filesystem::path& appDir, const std::vector<std::string>& policies,
                  const RetentionLabels& labels) {
    const std::filesystem::path path = fileIn(appDir, kJobsFile);
    LineReader reader(path, kJobsFile);
    std::error_code sizeUnknown;
    const std::uintmax_t bytes = std::filesystem::file_size(path, sizeUnknown);
    return readJobs(reader, policies, labels, sizeUnknown ? 0 : bytes);
}

// The job lines of one policy line, or its not-found line.
void writePolicy(LineWriter& table, std::string_view policy, const JobIndex& jobs) {
    const JobIndex::Rows rows = jobs.rowsOf(policy);
    if (rows.empty()) {
        if (!jobs.failure) {  // a failing run stops before this line
            table.write(policy);
            table.write(",");
            table.writeLine(kNotFound);
        }
        return;
    }
    table.write(policy);  // only the first job line carries the name
    for (const std::uint32_t* row = rows.begin; row != rows.end; ++row)
        table.writeLine(jobs.tail(*row));
}

}  // namespace

std::string_view retentionText(std::string_view code, const RetentionLabels& labels) {
    // Only the plain texts "0".."28": no sign, blank or leading zero.
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t level = 0;
    if (code.size() == 1 && digit(code[0])) {
        level = static_cast<std::size_t>(code[0] - '0');
    } else if (code.size() == 2 && digit(code[0]) && code[0] != '0' && digit(code[1])) {
        level = static_cast<std::size_t>((code[0] - '0') * 10 + (code[1] - '0'));
        if (level >= labels.size()) {
            return kNotProgrammed;
        }
    } else {
        return kNotProgrammed;
    }
    return labels[level];
}

std::string_view scheduleText(std::string_view code) {
    if (code == "0")
        return "Full Backup";
    if (code == "1")
        return "Differential";
    if (code == "2")
        return "User Backup";
    if (code == "4")
        return "Cumulative";
    return kNotProgrammed;
}

void writeDailyTable(const std::filesystem::path& appDir, const RetentionLabels& labels,
                     JobsAhead* ahead, WriteWatcher* tableWatcher) {
    LineReader policyReader(fileIn(appDir, kPolicyFile), kPolicyFile);
    LineWriter table(fileIn(appDir, kTableFile), kTableFile);
    table.watch(tableWatcher);
    table.writeLine(kHeader);

    const PolicyList policies = readPolicies(policyReader);
    // out.txt is read once, and only when there is a policy line to join.
    if (!policies.names.empty()) {
        std::optional<JobIndex> early;
        if (ahead != nullptr)
            early = ahead->take(policies.names);
        const JobIndex jobs = early ? std::move(*early) : readJobs(appDir, policies.names, labels);
        writePolicy(table, policies.names.front(), jobs);
        if (jobs.failure)
            throw *jobs.failure;
        for (std::size_t i = 1; i < policies.names.size(); ++i)
            writePolicy(table, policies.names[i], jobs);
    }
    if (policies.failure)
        throw *policies.failure;
    table.close();
}

}  // namespace fennick
