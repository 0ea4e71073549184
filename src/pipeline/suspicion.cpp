#include "pipeline/suspicion.h"

#include <algorithm>
#include <array>

namespace fennick {

std::string_view suspicionName(Suspicion reason) {
    switch (reason) {
        case Suspicion::NoData:
            return "no data";
        case Suspicion::Small:
            return "small";
        case Suspicion::Long:
            return "long";
    }
    return "";
}

JobSize usualOf(std::span<const JobSize, 5> earlier) {
    std::array<double, 5> kbytes{}, elapsed{};
    for (std::size_t i = 0; i < earlier.size(); ++i) {
        kbytes[i] = earlier[i].kbytes;
        elapsed[i] = earlier[i].elapsed;
    }
    std::nth_element(kbytes.begin(), kbytes.begin() + 2, kbytes.end());
    std::nth_element(elapsed.begin(), elapsed.begin() + 2, elapsed.end());
    return {kbytes[2], elapsed[2]};
}

std::vector<Suspicion> suspicionsOf(const JobSize& job, const JobSize& usual,
                                    const SuspicionRules& rules) {
    std::vector<Suspicion> reasons;
    if (job.kbytes == 0 && usual.kbytes > 0)
        reasons.push_back(Suspicion::NoData);
    if (job.kbytes < usual.kbytes * rules.smallPercent / 100 &&
        usual.kbytes - job.kbytes >= rules.smallLeastKb)
        reasons.push_back(Suspicion::Small);
    if (job.elapsed > usual.elapsed * rules.longFactor &&
        job.elapsed - usual.elapsed >= rules.longLeastSeconds)
        reasons.push_back(Suspicion::Long);
    return reasons;
}

}  // namespace fennick
