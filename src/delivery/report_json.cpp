#include "delivery/report_json.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>

#include "common/time_zone.h"
#include "delivery/action_summary.h"
#include "delivery/text_encoding.h"

namespace fennick {

namespace {

// Keys in the order the format lists them, for a reader of the file.
using json = nlohmann::ordered_json;

json seconds(double epochSeconds) {
    // A dump's field may hold any number: only one that a whole count of
    // seconds can hold is cast to one; others stay as they are (null when
    // not finite, as JSON has no such number).
    if (std::isfinite(epochSeconds) && std::fabs(epochSeconds) < 9e18)
        return static_cast<long long>(epochSeconds);
    return std::isfinite(epochSeconds) ? json(epochSeconds) : json(nullptr);
}

json seconds(const std::optional<double>& epochSeconds) {
    return epochSeconds ? seconds(*epochSeconds) : json(nullptr);
}

// A size or a duration as the dump gave it: a whole number as one, any
// other finite number as it is, null where JSON has none.
json quantity(double value) {
    if (std::isfinite(value) && std::fabs(value) < 9e15 && value == std::trunc(value))
        return static_cast<long long>(value);
    return std::isfinite(value) ? json(value) : json(nullptr);
}

json meaningOf(std::string_view status, const JsonRun& run) {
    if (run.meanings == nullptr)
        return nullptr;
    const auto found = run.meanings->find(status);
    // As the mail shows it, so that one long meaning cannot fill every row.
    return found == run.meanings->end() ? json(nullptr)
                                        : json(shownUtf8(found->second, kMeaningMost));
}

json countsOf(const JsonRun& run) {
    const FindingCounts& counts = run.findings->counts;
    return {{"jobs", counts.jobs},
            {"page_jobs", run.report->counts.jobs},
            {"page_failed", run.report->counts.failed()},
            {"page_highlighted", run.report->counts.highlighted},
            {"failed", counts.failed},
            {"recovered", counts.recovered},
            {"running", counts.running},
            {"partial", counts.partial},
            {"failing", counts.failing},
            {"not_found", counts.notFound},
            {"overdue", counts.overdue},
            {"suspicious", counts.suspicious},
            {"skipped_lines", counts.skippedLines},
            {"left_out_of_page", counts.leftOutOfPage}};
}

// The mail's nights: night 0 first, each as nightStateName names it; null
// when the nights were not gathered.
json statesOf(const NightStates& states, const Findings& findings) {
    const std::size_t count = std::min(kMailNights, findings.nights.size());
    if (count == 0)
        return nullptr;
    json list = json::array();
    for (std::size_t k = 0; k < count; ++k) {
        // A stream or policy that holds fewer nights cannot tell the rest.
        const NightState state = k < states.size() ? states[k] : NightState::Unknown;
        list.push_back(std::string(nightStateName(state)));
    }
    return list;
}

json failingOf(const JsonRun& run) {
    json list = json::array();
    for (const FailingStream& stream : run.findings->failing) {
        list.push_back({{"policy", asUtf8(stream.policy)},
                        {"client", asUtf8(stream.client)},
                        {"schedule", asUtf8(stream.schedule)},
                        {"daily", stream.daily},
                        {"status", asUtf8(stream.status)},
                        {"meaning", meaningOf(stream.status, run)},
                        {"job_id", asUtf8(stream.jobId)},
                        {"start", seconds(stream.start)},
                        {"failed_jobs", stream.failedJobs},
                        {"last_success", seconds(stream.lastSuccess)},
                        {"failing_since", seconds(stream.failingSince)},
                        {"failed_since_success", stream.failedSinceSuccess},
                        {"nights", statesOf(stream.nights, *run.findings)}});
    }
    return list;
}

json notFoundOf(const JsonRun& run) {
    json list = json::array();
    for (const MissingPolicy& policy : run.findings->notFound) {
        list.push_back({{"policy", asUtf8(policy.policy)},
                        {"last_job", seconds(policy.lastJob)},
                        {"last_success", seconds(policy.lastSuccess)}});
    }
    return list;
}

// Only the overdue policies: a policy kept or not yet judged needs nobody.
json overdueOf(const JsonRun& run) {
    json list = json::array();
    for (const IntervalPolicy& policy : run.findings->intervals) {
        if (policy.verdict != IntervalPolicy::Verdict::Overdue)
            continue;
        list.push_back({{"policy", asUtf8(policy.policy)},
                        {"interval_days", policy.intervalDays},
                        {"last_success", seconds(policy.lastSuccess)},
                        {"last_job", seconds(policy.lastJob)}});
    }
    return list;
}

json suspiciousOf(const JsonRun& run) {
    json list = json::array();
    for (const SuspiciousJob& job : run.findings->suspicious) {
        json reasons = json::array();
        for (const Suspicion reason : job.reasons)
            reasons.push_back(std::string(suspicionName(reason)));
        list.push_back({{"policy", asUtf8(job.policy)},
                        {"client", asUtf8(job.client)},
                        {"schedule", asUtf8(job.schedule)},
                        {"job_id", asUtf8(job.jobId)},
                        {"start", seconds(job.start)},
                        {"kbytes", quantity(job.size.kbytes)},
                        {"elapsed", quantity(job.size.elapsed)},
                        {"usual_kbytes", quantity(job.usual.kbytes)},
                        {"usual_elapsed", quantity(job.usual.elapsed)},
                        {"reasons", std::move(reasons)}});
    }
    return list;
}

json recoveredOf(const JsonRun& run) {
    json list = json::array();
    for (const RecoveredJob& job : run.findings->recovered) {
        list.push_back({{"policy", asUtf8(job.policy)},
                        {"client", asUtf8(job.client)},
                        {"schedule", asUtf8(job.schedule)},
                        {"job_id", asUtf8(job.jobId)},
                        {"status", asUtf8(job.status)},
                        {"start", seconds(job.start)},
                        {"recovered_by", asUtf8(job.recoveredBy)}});
    }
    return list;
}

// The nights the mail shows and each daily policy's; both null when the
// run failed or gathered none.
std::pair<json, json> nightsOf(const JsonRun& run) {
    if (run.report == nullptr || run.findings == nullptr || run.findings->nights.empty())
        return {nullptr, nullptr};
    const Findings& findings = *run.findings;
    json nights = json::array();
    for (std::size_t k = 0; k < kMailNights && k < findings.nights.size(); ++k) {
        nights.push_back({{"start", seconds(findings.nights[k].start)},
                          {"end", seconds(findings.nights[k].end)}});
    }
    json policies = json::array();
    for (const PolicyNights& policy : findings.dailyNights) {
        policies.push_back(
            {{"policy", asUtf8(policy.policy)}, {"nights", statesOf(policy.nights, findings)}});
    }
    return {std::move(nights), std::move(policies)};
}

// What the run's job history held; the oldest known job is said beside it,
// as nothing before it rests on the data.
json historyOf(const JsonRun& run) {
    if (run.history == nullptr)
        return nullptr;
    const HistoryState& history = *run.history;
    std::pair<json, json> nights = nightsOf(run);
    return {{"file", asUtf8(history.file.string())},
            {"jobs", history.jobs ? json(*history.jobs) : json(nullptr)},
            {"recorded", history.recorded},
            {"known_since",
             run.findings != nullptr ? seconds(run.findings->knownSince) : json(nullptr)},
            {"error", history.used() ? json(nullptr) : json(asUtf8(history.error))},
            {"nights", std::move(nights.first)},
            {"policies", std::move(nights.second)}};
}

}  // namespace

std::string reportJson(const JsonRun& run) {
    const bool success = run.report != nullptr && run.findings != nullptr;
    json document = {{"success", success}};
    if (!success)
        document["error"] = asUtf8(run.error);
    document["folder"] = asUtf8(run.folder.string());
    document["page"] = success ? json(asUtf8(run.report->page.string())) : json(nullptr);
    document["window"] = {{"start", seconds(run.window.StartEpoch)},
                          {"end", seconds(run.window.EndEpoch)}};
    // Only a run given a zone names one, so that other runs' documents stay
    // as they were.
    if (run.window.zone != nullptr)
        document["zone"] = asUtf8(run.window.zone->name());
    document["lookback_days"] = run.lookbackDays;
    // Known only when the findings were read: a dump whose window jobs lie
    // below the line where the page's extraction stopped.
    document["dump_out_of_order"] =
        success ? json(run.findings->counts.leftOutOfPage > 0) : json(nullptr);
    document["counts"] = success ? countsOf(run) : json(nullptr);
    document["failing"] = success ? failingOf(run) : json(nullptr);
    document["not_found"] = success ? notFoundOf(run) : json(nullptr);
    document["overdue"] = success ? overdueOf(run) : json(nullptr);
    document["suspicious"] = success ? suspiciousOf(run) : json(nullptr);
    document["recovered"] = success ? recoveredOf(run) : json(nullptr);
    // A run without a history still gathered the nights from the dump's
    // lines: they stand on their own then, before the history's null.
    if (run.history == nullptr) {
        auto [nights, policies] = nightsOf(run);
        document["nights"] = nights.is_null() ? json(nullptr)
                                              : json{{"nights", std::move(nights)},
                                                     {"policies", std::move(policies)}};
    }
    document["history"] = historyOf(run);
    return document.dump(2) + '\n';
}

}  // namespace fennick
