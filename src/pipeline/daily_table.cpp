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

// The jobs of out.txt, converted once. Every row's job line minus its Policy
// field (it begins with the comma) lies in one shared text; the rows of each
// policy name keep their file order.
class JobIndex {
  public:
    // Room for about `bytes` of job lines, so the shared text is not copied
    // over and over while it grows.
    void reserve(std::uintmax_t bytes) {
        text_.reserve(static_cast<std::size_t>(bytes + bytes / 8));
    }

    void add(std::string_view policy, std::string_view tail) {
        auto found = rows_.find(policy);  // no key copy for a policy seen before
        if (found == rows_.end()) {
            found = rows_.emplace(std::string(policy), std::vector<std::size_t>{}).first;
        }
        found->second.push_back(spans_.size());
        spans_.push_back({text_.size(), tail.size()});
        text_ += tail;
    }

    // Row numbers of `policy` in file order; empty when it has none.
    const std::vector<std::size_t>& rowsOf(std::string_view policy) const {
        static const std::vector<std::size_t> kNone;
        const auto found = rows_.find(policy);
        return found == rows_.end() ? kNone : found->second;
    }

    std::string_view tail(std::size_t row) const {
        return std::string_view(text_).substr(spans_[row].offset, spans_[row].length);
    }

    // The first failure met while reading out.txt. The rows before it are
    // kept: a run fails at that row during the first policy line, after that
    // line's jobs from the earlier rows have been written.
    std::optional<Failure> failure;

  private:
    struct Span {
        std::size_t offset;
        std::size_t length;
    };

    std::string text_;
    std::vector<Span> spans_;
    std::unordered_map<std::string, std::vector<std::size_t>, NameHash, std::equal_to<>> rows_;
};

// Everything of a job line after its Policy field, starting with ",". The
// coded fields are looked at in the order 5, 8, 12, so a short or bad row
// names the same field whatever its policy.
void appendTail(std::string& tail, const Fields& fields, const RetentionLabels& labels) {
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

    const auto add = [&tail](std::string_view text) {
        tail += ',';
        tail += text;
    };
    for (std::size_t i = 1; i <= 4; ++i)
        add(fields[i]);
    add(TimeString(elapsed));
    add(fields[6]);
    add(fields[7]);
    add(retention);
    for (std::size_t i = 9; i <= 11; ++i)
        add(fields[i]);
    add(schedule);
}

// Reads out.txt once. Reading stops at the first failure, which is kept in
// the index rather than raised, because the table must first be written up
// to the point where a row-by-row join would have stopped.
JobIndex readJobs(const std::filesystem::path& appDir, const RetentionLabels& labels) {
    const std::filesystem::path path = fileIn(appDir, kJobsFile);
    LineReader reader(path, kJobsFile);
    JobIndex jobs;
    std::error_code sizeUnknown;
    const std::uintmax_t bytes = std::filesystem::file_size(path, sizeUnknown);
    if (!sizeUnknown)
        jobs.reserve(bytes);
    Fields fields;
    std::string tail;
    try {
        while (!reader.atEnd()) {
            fields.split(reader.readLine());
            tail.clear();
            appendTail(tail, fields, labels);
            jobs.add(fields[0], tail);
        }
    } catch (Failure& failure) {
        failure.at(kJobsFile, reader.lineNumber());
        jobs.failure = std::move(failure);
    }
    return jobs;
}

// The job lines of one policy line, or its not-found line.
void writePolicy(LineWriter& table, std::string_view policy, const JobIndex& jobs) {
    const std::vector<std::size_t>& rows = jobs.rowsOf(policy);
    if (rows.empty()) {
        if (!jobs.failure) {  // a failing run stops before this line
            table.write(policy);
            table.writeLine(kNotFound);
        }
        return;
    }
    table.write(policy);  // only the first job line carries the name
    for (const std::size_t row : rows)
        table.writeLine(jobs.tail(row));
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
    LineReader policies(fileIn(appDir, kPolicyFile), kPolicyFile);
    LineWriter table(fileIn(appDir, kTableFile), kTableFile);
    table.writeLine(kHeader);

    // out.txt is read once, and only when there is a policy line to join.
    if (!policies.atEnd()) {
        const JobIndex jobs = readJobs(appDir, labels);
        writePolicy(table, policies.readLine(), jobs);
        if (jobs.failure)
            throw *jobs.failure;
        while (!policies.atEnd())
            writePolicy(table, policies.readLine(), jobs);
    }
    table.close();
}

}  // namespace fennick
