// When a success looks wrong next to its stream's usual: each rule at its
// edges, with the default thresholds and with changed ones.
#include "pipeline/suspicion.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace fennick {
namespace {

constexpr double kGiB = 1048576;  // in kilobytes

std::string reasonsOf(const std::vector<Suspicion>& reasons) {
    std::string text;
    for (const Suspicion reason : reasons)
        text.append(text.empty() ? "" : ",").append(suspicionName(reason));
    return text;
}

TEST(Suspicion, EachRuleHoldsFromItsEdgeOn) {
    const SuspicionRules defaults;
    SuspicionRules changed;
    changed.smallPercent = 50;
    changed.smallLeastKb = 10;
    changed.longFactor = 1.5;
    changed.longLeastSeconds = 60;
    const struct {
        const char* name;
        JobSize job, usual;
        SuspicionRules rules;
        const char* reasons;
    } cases[] = {
        {"nothing written where the stream writes",
         {0, 60},
         {12 * kGiB, 60},
         defaults,
         "no data,small"},
        {"nothing written where a little is usual: no floor reached",
         {0, 60},
         {100, 60},
         defaults,
         "no data"},
        {"nothing written where nothing is usual", {0, 60}, {0, 60}, defaults, ""},
        {"a drop of exactly 1 GiB below a tenth", {116508, 60}, {1165084, 60}, defaults, "small"},
        {"a drop of one kilobyte less than 1 GiB", {116509, 60}, {1165084, 60}, defaults, ""},
        {"exactly a tenth is not below it", {2 * kGiB, 60}, {20 * kGiB, 60}, defaults, ""},
        {"exactly three times is not more", {10, 5400}, {10, 1800}, defaults, ""},
        {"a second more than three times and an hour more",
         {10, 5401},
         {10, 1800},
         defaults,
         "long"},
        {"more than three times but not an hour more", {10, 3699}, {10, 100}, defaults, ""},
        {"three times plus exactly an hour", {10, 3700}, {10, 100}, defaults, "long"},
        {"all reasons at once", {0, 90000}, {5 * kGiB, 600}, defaults, "no data,small,long"},
        {"changed thresholds catch a halved job", {40, 100}, {100, 30}, changed, "small,long"},
        {"changed thresholds keep their floors", {95, 80}, {100, 30}, changed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(reasonsOf(suspicionsOf(c.job, c.usual, c.rules)), c.reasons);
    }
}

TEST(Suspicion, TheUsualIsEachFiguresMedianOfFiveInAnyOrder) {
    const std::array<JobSize, 5> earlier{{{500, 7}, {100, 3}, {400, 9}, {200, 1}, {300, 5}}};
    EXPECT_EQ(usualOf(earlier), (JobSize{300, 5}));
    const std::array<JobSize, 5> ties{{{0, 60}, {0, 60}, {9, 1}, {0, 2}, {9, 60}}};
    EXPECT_EQ(usualOf(ties), (JobSize{0, 60}));
}

}  // namespace
}  // namespace fennick
