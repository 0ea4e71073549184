// Where the generated dump puts what the pipeline reads; shared by the
// generator and its check.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

namespace fennick::bench {

inline constexpr std::size_t kJobIdField = 0;
inline constexpr std::size_t kStatusField = 3;
inline constexpr std::size_t kPolicyField = 4;
inline constexpr std::size_t kScheduleField = 5;
inline constexpr std::size_t kClientField = 6;
inline constexpr std::size_t kStartField = 8;
inline constexpr std::size_t kElapsedField = 9;
inline constexpr std::size_t kEndField = 10;
inline constexpr std::size_t kRouteFlagField = 11;
inline constexpr std::size_t kKilobytesField = 14;
inline constexpr std::size_t kFilesField = 15;
inline constexpr std::size_t kScheduleTypeField = 22;
inline constexpr std::size_t kRetentionField = 27;

// Counted back from the last field.
inline constexpr std::size_t kMarkBack = 19;
inline constexpr std::size_t kRateBack = 20;
inline constexpr std::size_t kOtherRateBack = 22;

inline constexpr long long kFirstJobId = 100000;

// The default range of field counts: a short fixed-shape job has about 40
// fields, one with many tries and file lists several hundred.
inline constexpr std::size_t kFewestFields = 40;
inline constexpr std::size_t kMostFields = 400;

// Field counts between `fewest` and `most` whose fields counted from the end
// do not land on a field read from the start, so every line keeps its policy,
// times and sizes while the mark and rates move about. From 51 fields on no
// count clashes.
inline std::vector<std::size_t> fieldCounts(std::size_t fewest = kFewestFields,
                                            std::size_t most = kMostFields) {
    static constexpr std::array<std::size_t, 14> kFixed = {
        kJobIdField,     1,           kStatusField,       kPolicyField,   kScheduleField,
        kClientField,    kStartField, kElapsedField,      kEndField,      kRouteFlagField,
        kKilobytesField, kFilesField, kScheduleTypeField, kRetentionField};
    std::vector<std::size_t> counts;
    for (std::size_t count = std::max(fewest, kRetentionField + 1); count <= most; ++count) {
        const std::size_t last = count - 1;
        if (last < kOtherRateBack)
            continue;
        const std::array<std::size_t, 3> moving = {last - kMarkBack, last - kRateBack,
                                                   last - kOtherRateBack};
        const bool clash = std::any_of(moving.begin(), moving.end(), [](std::size_t field) {
            return std::find(kFixed.begin(), kFixed.end(), field) != kFixed.end();
        });
        if (!clash)
            counts.push_back(count);
    }
    return counts;
}

}  // namespace fennick::bench
