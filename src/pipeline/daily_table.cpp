#include "pipeline/daily_table.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/failure.h"
#include "common/fields.h"
#include "common/numbers.h"
#include "common/text_file.h"
#include "pipeline/extraction.h"
#include "pipeline/time_string.h"

namespace fennick {

namespace {

constexpr std::string_view kHeader =
    "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,"
    "Tx Rate,Job ID,Schedule Type";
constexpr std::string_view kNotFound = ",Not Found";
constexpr std::string_view kNotProgrammed = "Not Programmed";

// Owned policy names, looked up with the borrowed views of the policy list.
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept {
        return std::hash<std::string_view>{}(name);
    }
};

// The jobs of out.txt, converted once. Only the rows of listed policies are
// kept: every row's job line minus its Policy field (it begins with the
// comma) lies in one shared text, and the rows of each policy keep their file
// order. Rows of other policies are converted and dropped, so a bad one still
// stops the run where a row-by-row join would.
class JobIndex {
  public:
    explicit JobIndex(const std::vector<std::string>& policies) {
        rows_.reserve(policies.size());
        for (const std::string& policy : policies)
            rows_.try_emplace(policy);
    }

    // Room for about `bytes` of job lines, so the shared text is not copied
    // over and over while it grows.
    void reserve(std::uintmax_t bytes) {
        text_.reserve(static_cast<std::size_t>(bytes + bytes / 8));
    }

    // Converts one split row and keeps it when its policy is listed.
    void add(const Fields& fields, const RetentionLabels& labels);

    // The kept rows of `policy` in file order; empty when it has none.
    struct Span {
        std::size_t offset;
        std::size_t length;
    };
    const std::vector<Span>& rowsOf(std::string_view policy) const {
        static const std::vector<Span> kNone;
        const auto found = rows_.find(policy);
        return found == rows_.end() ? kNone : found->second;
    }

    std::string_view tail(const Span& row) const {
        return std::string_view(text_).substr(row.offset, row.length);
    }

    // The first failure met while reading out.txt. The rows before it are
    // kept: a run fails at that row during the first policy line, after that
    // line's jobs from the earlier rows have been written.
    std::optional<Failure> failure;

  private:
    std::string text_;
    std::unordered_map<std::string, std::vector<Span>, NameHash, std::equal_to<>> rows_;
};

// Everything of a job line after its Policy field, starting with ",", goes
// to the shared text. The coded fields are looked at in the order 5, 8, 12,
// so a short or bad row names the same field whatever its policy.
void JobIndex::add(const Fields& fields, const RetentionLabels& labels) {
    const std::string_view elapsedField = fields.at(5);
    std::int32_t elapsed = 0;
    try {
        elapsed = parseInt32(elapsedField);
    } catch (Failure& failure) {
        failure.at({}, Failure::kNoLine, 5);
        throw;
    }
    const std::string_view retention = retentionText(fields.at(8), labels);
    const std::string_view schedule = scheduleText(fields.at(12));

    const auto found = rows_.find(fields[0]);
    if (found == rows_.end())
        return;  // no policy line names it: it appears nowhere
    const std::size_t offset = text_.size();
    const auto add = [this](std::string_view text) {
        text_ += ',';
        text_ += text;
    };
    add(fieldRun(fields[1], fields[4]));
    add(TimeString(elapsed));
    add(fieldRun(fields[6], fields[7]));
    add(retention);
    add(fieldRun(fields[9], fields[11]));
    add(schedule);
    found->second.push_back({offset, text_.size() - offset});
}

// Reads out.txt once. Reading stops at the first failure, which is kept in
// the index rather than raised, because the table must first be written up
// to the point where a row-by-row join would have stopped.
JobIndex readJobs(const std::filesystem::path& appDir, const std::vector<std::string>& policies,
                  const RetentionLabels& labels) {
    const std::filesystem::path path = fileIn(appDir, kJobsFile);
    LineReader reader(path, kJobsFile);
    JobIndex jobs(policies);
    std::error_code sizeUnknown;
    const std::uintmax_t bytes = std::filesystem::file_size(path, sizeUnknown);
    if (!sizeUnknown)
        jobs.reserve(bytes);
    Fields fields;
    try {
        while (!reader.atEnd()) {
            fields.split(reader.readLine());
            jobs.add(fields, labels);
        }
    } catch (Failure& failure) {
        failure.at(kJobsFile, reader.lineNumber());
        jobs.failure = std::move(failure);
    }
    return jobs;
}

// The job lines of one policy line, or its not-found line.
void writePolicy(LineWriter& table, std::string_view policy, const JobIndex& jobs) {
    const auto& rows = jobs.rowsOf(policy);
    if (rows.empty()) {
        if (!jobs.failure) {  // a failing run stops before this line
            table.write(policy);
            table.writeLine(kNotFound);
        }
        return;
    }
    table.write(policy);  // only the first job line carries the name
    for (const auto& row : rows)
        table.writeLine(jobs.tail(row));
}

// The policy list read whole (it is short), so that only the rows of listed
// policies need to be kept. A failure while reading it is kept too, and
// raised where reading line by line would have met it.
struct PolicyList {
    std::vector<std::string> names;
    std::optional<Failure> failure;
};

PolicyList readPolicies(LineReader& reader) {
    PolicyList list;
    try {
        while (!reader.atEnd())
            list.names.emplace_back(reader.readLine());
    } catch (Failure& failure) {
        list.failure = std::move(failure);
    }
    return list;
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

void writeDailyTable(const std::filesystem::path& appDir, const RetentionLabels& labels) {
    LineReader policyReader(fileIn(appDir, kPolicyFile), kPolicyFile);
    LineWriter table(fileIn(appDir, kTableFile), kTableFile);
    table.writeLine(kHeader);

    const PolicyList policies = readPolicies(policyReader);
    // out.txt is read once, and only when there is a policy line to join.
    if (!policies.names.empty()) {
        const JobIndex jobs = readJobs(appDir, policies.names, labels);
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
