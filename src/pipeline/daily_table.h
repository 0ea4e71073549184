// Joins the daily policy list with out.txt into out1.txt: each row of
// out.txt becomes its job line of out1.txt here, grouped under its policy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/failure.h"
#include "common/fields.h"
#include "files/huge_pages.h"
#include "files/text_file.h"
#include "pipeline/retention_labels.h"

namespace fennick {

// The Retention Period text of a level code: the label for "0".."28",
// "Not Programmed" for any other text.
std::string_view retentionText(std::string_view code, const RetentionLabels& labels);

// The Schedule Type text of a schedule-type code.
std::string_view scheduleText(std::string_view code);

// The policy list read whole (it is short), so that only the rows of listed
// policies need to be kept. A failure while reading it is kept too, and
// raised where reading line by line would have met it.
struct PolicyList {
    std::vector<std::string> names;
    std::optional<Failure> failure;
};

PolicyList readPolicies(LineReader& reader);

// policy_list.txt of `appDir` read once for a whole run: its list, or the
// failure to open it, which the table step raises when its turn comes.
struct PolicyFile {
    PolicyList list;
    std::optional<Failure> openFailure;
};
PolicyFile readPolicyFile(const std::filesystem::path& appDir);

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

    explicit PolicyNumbers(const std::vector<std::string>& names);

    // The number of `name`, or kNone when the list does not hold it.
    std::uint32_t find(std::string_view name) const {
        const auto found = numbers_.find(name);
        return found == numbers_.end() ? kNone : found->second;
    }

    std::size_t count() const noexcept { return numbers_.size(); }

  private:
    std::unordered_map<std::string, std::uint32_t, TransparentHash, std::equal_to<>> numbers_;
};

// The rows of out.txt, each converted once into its job line minus the
// Policy field (which begins with the comma). Only the rows of listed
// policies are kept, in one shared text; rows of other policies are
// converted and dropped, so a bad one still stops the run where a
// row-by-row join would. Reading may stop between rows and go on later.
class JobRows {
  public:
    // `expectedBytes` of out.txt size the memory beforehand: nothing is copied
    // over and over while it grows, and room that stays unused costs none.
    JobRows(const std::vector<std::string>& policies, const RetentionLabels& labels,
            std::uintmax_t expectedBytes);

    // Reads and converts the next row of `jobs`; false once there is none
    // or a failure was met. The first failure, of reading or of a row, is
    // kept in `failure` rather than raised: the table must first be written
    // up to the point where a row-by-row join would have stopped.
    bool readRow(LineReader& jobs);

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
    void add();

    const RetentionLabels* labels_;
    Fields fields_;
    bool done_ = false;
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

// All of out.txt of `appDir`, read for `policies`.
JobRows readJobRows(const std::filesystem::path& appDir, const std::vector<std::string>& policies,
                    const RetentionLabels& labels);

// The rows of out.txt for the policy list's names.
using ReadJobRows = std::function<JobRows(const std::vector<std::string>& policies)>;

// Writes out1.txt to `table`, and closes it: the header line, then for each
// line of `policies` its job lines (the name on the first only) or its
// not-found line. A policy line with a comma is an invalid argument, met
// when that line's turn comes. out.txt is read by `readRows`, once, and
// only when the list has a line to join.
void writeDailyTable(LineReader& policies, LineWriter& table, const ReadJobRows& readRows);

// The same for a list read before: its failure is met where the reading
// would have met it.
void writeDailyTable(const PolicyList& policies, LineWriter& table, const ReadJobRows& readRows);

// The same on the files of `appDir`.
void writeDailyTable(const std::filesystem::path& appDir, const RetentionLabels& labels);

}  // namespace fennick
