// The two inputs of the daily table's join, read into memory: the policy
// list, and the rows of out.txt that belong to its policies.
#pragma once

#include <atomic>
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

// The policy list read whole (it is short), so that only the rows of listed
// policies need to be kept. A failure while reading it is kept too, and
// raised where reading line by line would have met it.
struct PolicyList {
    std::vector<std::string> names;
    std::optional<Failure> failure;
};

PolicyList readPolicies(LineReader& reader);

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
    void reserve(std::uintmax_t bytes);

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

// out.txt read row by row into a JobIndex, up to its end or its first
// failure, which is kept in the index rather than raised: the table must
// first be written up to the point where a row-by-row join would have
// stopped. Reading may pause between rows and go on later, on another thread.
class JobsReading {
  public:
    // `expectedBytes` sizes the index's memory ahead.
    JobsReading(const std::vector<std::string>& policies, const RetentionLabels& labels,
                std::uintmax_t expectedBytes);

    // Reads rows from `reader` until its end, the first failure, or `pause`
    // is set; true once there is nothing more to read.
    bool readFrom(LineReader& reader, const std::atomic<bool>* pause = nullptr);

    // The rows, grouped by policy, once readFrom() has returned true.
    JobIndex finish() &&;

  private:
    JobIndex jobs_;
    const RetentionLabels& labels_;
    Fields fields_;
    bool done_ = false;
};

// All of out.txt from `reader`.
JobIndex readJobs(LineReader& reader, const std::vector<std::string>& policies,
                  const RetentionLabels& labels, std::uintmax_t expectedBytes);

}  // namespace fennick
