#include "pipeline/nights.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace fennick {

std::string_view nightStateName(NightState state) {
    switch (state) {
        case NightState::Unknown:
            return "unknown";
        case NightState::None:
            return "none";
        case NightState::Running:
            return "running";
        case NightState::Ok:
            return "ok";
        case NightState::Partial:
            return "partial";
        case NightState::Failed:
            return "failed";
    }
    return "unknown";
}

std::vector<Night> nightsOf(const Window& window, std::size_t count) {
    std::vector<Night> nights;
    nights.reserve(count);
    const double length = window.EndEpoch - window.StartEpoch;
    for (std::size_t k = 0; k < count; ++k) {
        if (k == 0) {
            nights.push_back({window.StartEpoch, window.EndEpoch});
        } else {
            const auto back = static_cast<double>(k);
            nights.push_back(
                {window.StartEpoch - back * length, window.StartEpoch - (back - 1) * length});
        }
    }
    return nights;
}

std::optional<std::size_t> nightIndex(const Window& window, double start, std::size_t count) {
    if (count == 0 || std::isnan(start) || start > window.EndEpoch)
        return std::nullopt;
    if (start >= window.StartEpoch)
        return 0;
    const double length = window.EndEpoch - window.StartEpoch;
    if (!(length > 0))
        return std::nullopt;
    const double before = window.StartEpoch - start;
    if (before > static_cast<double>(count - 1) * length)
        return std::nullopt;
    // Whole seconds divide exactly, but a window of fractions may not: the
    // bounds themselves decide.
    auto k = static_cast<std::size_t>(std::max(1.0, std::ceil(before / length)));
    while (k > 1 && before <= static_cast<double>(k - 1) * length)
        --k;
    while (before > static_cast<double>(k) * length)
        ++k;
    if (k >= count)
        return std::nullopt;
    return k;
}

void NightCell::add(double start, JobStatus status) {
    NightState shown = NightState::Failed;
    switch (status) {
        case JobStatus::Running:
            running = true;
            return;
        case JobStatus::Succeeded:
            shown = NightState::Ok;
            break;
        case JobStatus::Partial:
            shown = NightState::Partial;
            break;
        case JobStatus::Failed:
            break;
    }
    if (!decided || start > *decided) {
        decided = start;
        state = shown;
    } else if (start == *decided) {
        state = worseNight(state, shown);
    }
}

void StreamNights::add(std::size_t night, double start, JobStatus status) {
    cells_.at(night).add(start, status);
}

NightStates StreamNights::states(std::span<const Night> nights,
                                 std::optional<double> knownSince) const {
    NightStates states(cells_.size(), NightState::None);
    for (std::size_t k = 0; k < cells_.size(); ++k) {
        const NightCell& cell = cells_[k];
        if (cell.decided)
            states[k] = cell.state;
        else if (cell.running)
            states[k] = NightState::Running;
        else if (k < nights.size() && nightUnknown(nights, k, knownSince))
            states[k] = NightState::Unknown;
    }
    return states;
}

void NightSummer::add(std::int64_t stream, std::string_view policy, double start, JobStatus status,
                      std::optional<double> kbytes) {
    NightTotals& totals = summary_.totals;
    ++totals.jobs;
    totals.failed += status == JobStatus::Failed ? 1 : 0;
    totals.kbytes += kbytes.value_or(0);
    auto [at, added] = streams_.try_emplace(stream);
    Stream& kept = at->second;
    if (added) {
        auto found = summary_.policies.find(policy);
        if (found == summary_.policies.end())
            found = summary_.policies.emplace(std::string(policy), NightState::None).first;
        kept.policy = &found->second;
    }
    kept.night.add(start, status);
}

NightSummary NightSummer::take() {
    for (const auto& [stream, kept] : streams_) {
        const NightState state = kept.night.decided ? kept.night.state : NightState::Running;
        *kept.policy = worseNight(*kept.policy, state);
    }
    streams_.clear();
    return std::exchange(summary_, NightSummary{});
}

bool nightUnknown(std::span<const Night> nights, std::size_t index,
                  std::optional<double> knownSince) {
    // A night that began before the first known job is not known whole: a
    // job in its first part may have gone unseen.
    return !knownSince || *knownSince > nights[index].start;
}

NightState worseNight(NightState a, NightState b) {
    return std::max(a, b);
}

void foldWorst(NightStates& policy, const NightStates& stream) {
    if (policy.size() < stream.size())
        policy.resize(stream.size(), NightState::Unknown);
    for (std::size_t k = 0; k < stream.size(); ++k)
        policy[k] = worseNight(policy[k], stream[k]);
}

}  // namespace fennick
