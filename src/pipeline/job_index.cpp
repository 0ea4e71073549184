#include "pipeline/job_index.h"

#include "common/columns.h"
#include "common/file_names.h"
#include "common/located.h"
#include "common/numbers.h"
#include "pipeline/daily_table.h"
#include "pipeline/time_string.h"

namespace fennick {

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

void JobIndex::reserve(std::uintmax_t bytes) {
    text_.reserve(static_cast<std::size_t>(bytes + bytes / 8));
    const auto rows = static_cast<std::size_t>(bytes / 64);  // a row is ~130 bytes
    ends_.reserve(rows);
    owners_.reserve(rows);
}

// Everything of a job line after its Policy field, starting with ",", goes
// to the shared text. The coded fields are looked at in the order 5, 8, 12,
// so a short or bad row names the same field whatever its policy.
void JobIndex::add(const Fields& fields, const RetentionLabels& labels) {
    using namespace column;
    const std::string_view elapsedField = fields.at(kElapsed);
    const std::int32_t elapsed =
        inField(kElapsed, [elapsedField] { return parseInt32(elapsedField); });
    const std::string_view retention = retentionText(fields.at(kRetention), labels);
    const std::string_view schedule = scheduleText(fields.at(kScheduleType));

    const std::uint32_t owner = policies_.find(fields[kPolicy]);
    if (owner == PolicyNumbers::kNone)
        return;  // no policy line names it: it appears nowhere
    const auto add = [this](std::string_view text) {
        text_ += ',';
        text_ += text;
    };
    add(fieldRun(fields[kSchedule], fields[kEnd]));
    add(TimeString(elapsed));
    add(fieldRun(fields[kKilobytes], fields[kFiles]));
    add(retention);
    add(fieldRun(fields[kStatus], fields[kJobId]));
    add(schedule);
    ends_.push_back(text_.size());
    owners_.push_back(owner);
}

void JobIndex::group() {
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

JobsReading::JobsReading(const std::vector<std::string>& policies, const RetentionLabels& labels,
                         std::uintmax_t expectedBytes)
    : jobs_(policies), labels_(labels) {
    jobs_.reserve(expectedBytes);
}

bool JobsReading::readFrom(LineReader& reader, const std::atomic<bool>* pause) {
    try {
        while (!done_) {
            if (pause != nullptr && pause->load(std::memory_order_relaxed))
                return false;
            if (reader.atEnd()) {
                done_ = true;
                break;
            }
            fields_.split(reader.readLine());
            located(kJobsFile, reader.lineNumber(), Failure::kNoField,
                    [&] { jobs_.add(fields_, labels_); });
        }
    } catch (Failure& failure) {
        jobs_.failure = std::move(failure);
        done_ = true;
    }
    return true;
}

JobIndex JobsReading::finish() && {
    jobs_.group();
    return std::move(jobs_);
}

JobIndex readJobs(LineReader& reader, const std::vector<std::string>& policies,
                  const RetentionLabels& labels, std::uintmax_t expectedBytes) {
    JobsReading reading(policies, labels, expectedBytes);
    reading.readFrom(reader);
    return std::move(reading).finish();
}

}  // namespace fennick
