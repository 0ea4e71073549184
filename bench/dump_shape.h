// Where the generated dump puts what the pipeline reads; shared by the
// generator and its check.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "common/columns.h"

namespace fennick::bench {

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
    static constexpr std::array<std::size_t, 14> kFixed = {dump::kJobId,        1,
                                                           dump::kStatus,       dump::kPolicy,
                                                           dump::kSchedule,     dump::kClient,
                                                           dump::kStart,        dump::kElapsed,
                                                           dump::kEnd,          dump::kPageFlag,
                                                           dump::kKilobytes,    dump::kFiles,
                                                           dump::kScheduleType, dump::kRetention};
    std::vector<std::size_t> counts;
    for (std::size_t count = std::max(fewest, dump::kRetention + 1); count <= most; ++count) {
        const std::size_t last = count - 1;
        if (last < dump::kFlaggedTransferRateFromEnd)
            continue;
        const std::array<std::size_t, 3> moving = {last - dump::kRoutingMarkFromEnd,
                                                   last - dump::kTransferRateFromEnd,
                                                   last - dump::kFlaggedTransferRateFromEnd};
        const bool clash = std::any_of(moving.begin(), moving.end(), [](std::size_t field) {
            return std::find(kFixed.begin(), kFixed.end(), field) != kFixed.end();
        });
        if (!clash)
            counts.push_back(count);
    }
    return counts;
}

}  // namespace fennick::bench
