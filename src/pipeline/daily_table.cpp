#include "pipeline/daily_table.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/columns.h"
#include "common/failure.h"
#include "common/fields.h"
#include "common/file_names.h"
#include "common/huge_pages.h"
#include "common/located.h"
#include "common/numbers.h"
#include "common/text_file.h"
#include "pipeline/time_string.h"

namespace fennick {

namespace {

constexpr std::string_view kHeader =
    "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,"
    "Tx Rate,Job ID,Schedule Type";
constexpr std::string_view kNotProgrammed = "Not Programmed";

// Lets the table find a row's policy by a view of its field 0, without
// making a string of it.
struct TransparentHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept {
        return std::hash<std::string_view>{}(name);
    }
};

// The distinct names of the policy list, each with a number, found by the
// rows' field 0.
class PolicyNumbers {
  public:
    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

    explicit PolicyNumbers(const std::vector<std::string>& names) {
        numbers_.reserve(names.size());
        for (const std::string& name : names)  // a name listed twice keeps its first number
            numbers_.try_emplace(name, static_cast<std::uint32_t>(numbers_.size()));
    }

    // The number of `name`, or kNone when the list does not hold it.
    std::uint32_t find(std::string_view name) const {
        const auto found = numbers_.find(name);
        return found == numbers_.end() ? kNone : found->second;
    }

    std::size_t count() const noexcept { return numbers_.size(); }

  private:
    std::unordered_map<std::string, std::uint32_t, TransparentHash, std::equal_to<>> numbers_;
};

// The jobs of out.txt, converted once. Only the rows of listed policies are
// kept: every row's job line minus its Policy field (it begins with the
// comma) lies in one shared text. Rows of other policies are converted and
// dropped, so a bad one still stops the run where a row-by-row join would.
class JobIndex {
  public:
    explicit JobIndex(const std::vector<std::string>& policies) : policies_(policies) {}

    // Room for about `bytes` of job lines and their rows, so that nothing is
    // copied over and over while it grows. Reserved room that stays unused
    // costs no memory.
    void reserve(std::uintmax_t bytes) {
        text_.reserve(static_cast<std::size_t>(bytes + bytes / 8));
        const auto rows = static_cast<std::size_t>(bytes / 64);  // a row is ~130 bytes
        ends_.reserve(rows);
        owners_.reserve(rows);
    }

    // Converts one split row and keeps it when its policy is listed.
    void add(const Fields& fields, const RetentionLabels& labels);

    // Groups the kept rows by policy, each group in file order (a counting
    // sort: rows plus policies, however the rows are spread).
    void group();

    // Kept rows by number; a policy's rows, after group(), in file order.
    struct Rows {
        const std::uint32_t* begin;
        const std::uint32_t* end;
        bool empty() const { return begin == end; }
    };
    Rows rowsOf(std::string_view policy) const {
        const std::uint32_t number = policies_.find(policy);
        if (number == PolicyNumbers::kNone)
            return {nullptr, nullptr};
        return {order_.data() + starts_[number], order_.data() + starts_[number + 1]};
    }

    std::string_view tail(std::uint32_t row) const {
        const std::size_t begin = row == 0 ? 0 : ends_[row - 1];
        return std::string_view(text_).substr(begin, ends_[row] - begin);
    }

    // The first failure met while reading out.txt. The rows before it are
    // kept: a run fails at that row during the first policy line, after that
    // line's jobs from the earlier rows have been written.
    std::optional<Failure> failure;

  private:
    // Every page of memory that a run touches for the first time costs; so
    // a kept row takes its text and 16 bytes, not a copy of its place per
    // step. Row numbers fit 32 bits: 2^32 rows would be half a terabyte.
    PolicyNumbers policies_;
    template <typename T>
    using Big = std::vector<T, HugePageAllocator<T>>;
    std::basic_string<char, std::char_traits<char>, HugePageAllocator<char>>
        text_;                         // the kept rows' tails, back to back
    Big<std::size_t> ends_;            // where each kept row's tail ends in text_
    Big<std::uint32_t> owners_;        // the policy number of each kept row
    Big<std::uint32_t> order_;         // kept row numbers, policy by policy
    std::vector<std::size_t> starts_;  // policy n's rows are order_[starts_[n], starts_[n+1])
};

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
            located(kJobsFile, reader.lineNumber(), Failure::kNoField,
                    [&] { jobs.add(fields, labels); });
        }
    } catch (Failure& failure) {
        jobs.failure = std::move(failure);
    }
    jobs.group();
    return jobs;
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
