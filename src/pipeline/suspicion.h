// Successes that look wrong next to the stream's own recent ones: a job
// that saved nothing, far less than usual, or ran far longer.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace fennick {

// What makes a success suspicious; the defaults are the options' defaults.
struct SuspicionRules {
    double smallPercent = 10;        // below this share of the usual kilobytes
    double smallLeastKb = 1048576;   // and at least this much less (1 GiB)
    double longFactor = 3;           // more than this many times the usual elapsed
    double longLeastSeconds = 3600;  // and at least this much longer
};

enum class Suspicion : std::uint8_t { NoData, Small, Long };
// "no data", "small", "long".
std::string_view suspicionName(Suspicion reason);

// A success's kilobytes and elapsed seconds, as the dump gives them.
struct JobSize {
    double kbytes = 0, elapsed = 0;

    bool operator==(const JobSize&) const = default;
};

// A stream's usual kilobytes and elapsed seconds: the median of each over
// its five newest successes before the job, given in any order.
JobSize usualOf(std::span<const JobSize, 5> earlier);

// Why `job` (a success) looks wrong next to `usual`, each reason once, in
// the order no data, small, long; empty when it does not.
std::vector<Suspicion> suspicionsOf(const JobSize& job, const JobSize& usual,
                                    const SuspicionRules& rules);

}  // namespace fennick
