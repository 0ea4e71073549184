#include "pipeline/daily_table.h"

#include <system_error>

#include "common/columns.h"
#include "common/file_names.h"
#include "common/located.h"
#include "common/numbers.h"
#include "pipeline/time_string.h"

namespace fennick {

namespace {

constexpr std::string_view kHeader =
    "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,"
    "Tx Rate,Job ID,Schedule Type";
constexpr std::string_view kNotProgrammed = "Not Programmed";

// The job lines of one policy line, or its not-found line.
void writePolicy(LineWriter& table, std::string_view policy, const JobRows& jobs) {
    const JobRows::Rows rows = jobs.rowsOf(policy);
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

PolicyList readPolicies(LineReader& reader) {
    PolicyList list;
    try {
        while (!reader.atEnd()) {
            const std::string_view name = reader.readLine();
            // A comma would split the name across the table's columns, and
            // every later column would stand one place off.
            if (name.find(',') != std::string_view::npos) {
                throw Failure(FailureKind::InvalidArgument,
                              "is a policy name with a comma, which the table cannot hold")
                    .at(kPolicyFile, reader.lineNumber());
            }
            list.names.emplace_back(name);
        }
    } catch (Failure& failure) {
        list.failure = std::move(failure);
    }
    return list;
}

PolicyNumbers::PolicyNumbers(const std::vector<std::string>& names) {
    numbers_.reserve(names.size());
    for (const std::string& name : names)  // a name listed twice keeps its first number
        numbers_.try_emplace(name, static_cast<std::uint32_t>(numbers_.size()));
}

JobRows::JobRows(const std::vector<std::string>& policies, const RetentionLabels& labels,
                 std::uintmax_t expectedBytes)
    : labels_(&labels), policies_(policies) {
    text_.reserve(static_cast<std::size_t>(expectedBytes + expectedBytes / 8));
    const auto rows = static_cast<std::size_t>(expectedBytes / 64);  // a row is ~130 bytes
    ends_.reserve(rows);
    owners_.reserve(rows);
}

bool JobRows::readRow(LineReader& jobs) {
    if (done_)
        return false;
    try {
        if (jobs.atEnd()) {
            done_ = true;
            return false;
        }
        fields_.split(jobs.readLine());
        located(kJobsFile, jobs.lineNumber(), Failure::kNoField, [this] { add(); });
        return true;
    } catch (Failure& caught) {
        failure = std::move(caught);
        done_ = true;
        return false;
    }
}

// Everything of a job line after its Policy field, starting with ",", goes
// to the shared text. The coded fields are looked at in the order 5, 8, 12,
// so a short or bad row names the same field whatever its policy.
void JobRows::add() {
    using namespace column;
    const std::string_view elapsedField = fields_.at(kElapsed);
    const std::int32_t elapsed =
        inField(kElapsed, [elapsedField] { return parseInt32(elapsedField); });
    const std::string_view retention = retentionText(fields_.at(kRetention), *labels_);
    const std::string_view schedule = scheduleText(fields_.at(kScheduleType));

    const std::uint32_t owner = policies_.find(fields_[kPolicy]);
    if (owner == PolicyNumbers::kNone)
        return;  // no policy line names it: it appears nowhere
    const auto append = [this](std::string_view text) {
        text_ += ',';
        text_ += text;
    };
    append(fieldRun(fields_[kSchedule], fields_[kEnd]));
    append(TimeString(elapsed));
    append(fieldRun(fields_[kKilobytes], fields_[kFiles]));
    append(retention);
    append(fieldRun(fields_[kStatus], fields_[kJobId]));
    append(schedule);
    ends_.push_back(text_.size());
    owners_.push_back(owner);
}

void JobRows::group() {
    starts_.assign(policies_.count() + 1, 0);
    for (const std::uint32_t owner : owners_)
        ++starts_[owner + 1];
    for (std::size_t number = 1; number < starts_.size(); ++number)
        starts_[number] += starts_[number - 1];
    std::vector<std::size_t> next(starts_.begin(), starts_.end() - 1);
    order_.resize(owners_.size());
    for (std::size_t row = 0; row < owners_.size(); ++row)
        order_[next[owners_[row]]++] = static_cast<std::uint32_t>(row);
    owners_ = {};
}

JobRows readJobRows(const std::filesystem::path& appDir, const std::vector<std::string>& policies,
                    const RetentionLabels& labels) {
    const std::filesystem::path path = fileIn(appDir, kJobsFile);
    LineReader reader(path, kJobsFile);
    std::error_code sizeUnknown;
    const std::uintmax_t bytes = std::filesystem::file_size(path, sizeUnknown);
    JobRows rows(policies, labels, sizeUnknown ? 0 : bytes);
    while (rows.readRow(reader)) {
    }
    return rows;
}

PolicyFile readPolicyFile(const std::filesystem::path& appDir) {
    PolicyFile file;
    try {
        LineReader reader(fileIn(appDir, kPolicyFile), kPolicyFile);
        file.list = readPolicies(reader);
    } catch (Failure& failure) {
        file.openFailure = std::move(failure);
    }
    return file;
}

void writeDailyTable(LineReader& policies, LineWriter& table, const ReadJobRows& readRows) {
    writeDailyTable(readPolicies(policies), table, readRows);
}

void writeDailyTable(const PolicyList& list, LineWriter& table, const ReadJobRows& readRows) {
    table.writeLine(kHeader);
    // out.txt is read once, and only when there is a policy line to join.
    if (!list.names.empty()) {
        JobRows jobs = readRows(list.names);
        jobs.group();
        writePolicy(table, list.names.front(), jobs);
        if (jobs.failure)
            throw *jobs.failure;
        for (std::size_t i = 1; i < list.names.size(); ++i)
            writePolicy(table, list.names[i], jobs);
    }
    if (list.failure)
        throw *list.failure;
    table.close();
}

void writeDailyTable(const std::filesystem::path& appDir, const RetentionLabels& labels) {
    LineReader policies(fileIn(appDir, kPolicyFile), kPolicyFile);
    LineWriter table(fileIn(appDir, kTableFile), kTableFile);
    writeDailyTable(policies, table, [&appDir, &labels](const std::vector<std::string>& names) {
        return readJobRows(appDir, names, labels);
    });
}

}  // namespace fennick
