#include "run/remembered_findings.h"

#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/columns.h"
#include "common/failure.h"
#include "common/numbers.h"
#include "pipeline/extraction.h"
#include "run/run_lock.h"

namespace fennick {

namespace {

constexpr double kDaySeconds = 86400;

// The findings' history-borne facts from the known jobs. The history holds
// today's lines by now, so its answers are the known jobs' answers.
void widen(Findings& findings, JobHistory& history, std::span<const std::string> dailyPolicies,
           const Window& window) {
    for (FailingStream& stream : findings.failing) {
        const JobStream key{stream.policy, stream.schedule, stream.client};
        stream.lastSuccess = history.lastSuccess(key);
        const FailedRun failed = history.failedSince(key, stream.lastSuccess, window.EndEpoch);
        stream.failingSince = failed.earliest;
        stream.failedSinceSuccess = failed.count;
    }
    sortFailing(findings.failing);
    for (MissingPolicy& policy : findings.notFound) {
        const PolicyLast last = history.policyLast(policy.policy);
        policy.lastJob = last.job;
        policy.lastSuccess = last.success;
    }
    findings.dailyLastSuccess.clear();
    std::unordered_set<std::string_view> listed;
    for (const std::string& policy : dailyPolicies) {
        if (!listed.insert(policy).second)
            continue;
        if (const std::optional<double> success = history.policyLast(policy).success)
            findings.dailyLastSuccess.emplace_back(policy, *success);
    }
    findings.knownSince = history.knownSince();
}

}  // namespace

Findings findRemembering(LineReader& dump, const Window& window,
                         std::span<const std::string> dailyPolicies, int lookbackDays,
                         const HistoryRequest& request, HistoryState& state) {
    state = HistoryState{};
    state.file = request.file;
    std::optional<JobHistory> history;
    try {
        history.emplace(request.file, request.patience);
        history->compareSince(window.StartEpoch - lookbackDays * kDaySeconds);
    } catch (const Failure& failure) {
        state.error = failure.what();
        history.reset();
    }
    JobSeen seen;
    if (history) {
        seen = [&history, &state](const EdgeFields& fields, double start) {
            if (!history)
                return;
            try {
                history->record(fields, start);
            } catch (const Failure& failure) {
                // Rolled back: the findings go on with the dump alone.
                state.error = failure.what();
                history.reset();
            }
        };
    }
    Findings findings = findActions(dump, window, dailyPolicies, lookbackDays, seen);
    if (!history)
        return findings;
    try {
        Findings remembered = findings;
        widen(remembered, *history, dailyPolicies, window);
        history->removeStartedBefore(window.StartEpoch - request.keepDays * kDaySeconds);
        const std::size_t jobs = history->jobs();
        const std::size_t recorded = history->recorded();
        history->commit();
        state.jobs = jobs;
        state.recorded = recorded;
        return remembered;
    } catch (const Failure& failure) {
        state.error = failure.what();
        return findings;
    }
}

ImportResult importDumps(const std::filesystem::path& appDir, const std::filesystem::path& history,
                         std::span<const std::filesystem::path> dumps) {
    using namespace dump;
    const RunLock lock(appDir);
    JobHistory kept(history);
    ImportResult result;
    std::vector<ImportedDump>& imported = result.dumps;
    EdgeFields fields;
    for (const std::filesystem::path& file : dumps) {
        ImportedDump& one = imported.emplace_back();
        one.file = file;
        const std::size_t before = kept.recorded();
        LineReader reader(file, file.string());
        while (!reader.atEnd()) {
            const std::string_view line = reader.readLine();
            if (line.empty())
                continue;
            fields.split(line, kRetention + 1);
            double start = 0;
            try {
                start = parseNumber(fields.at(kStart));
                if (start == 0)
                    continue;  // still queued: nothing to remember yet
                const JobRoute route = routeOf(fields);
                if (route != JobRoute::Marked && route != JobRoute::Flagged)
                    continue;
                fields.at(kRetention);
                ++one.jobs;
            } catch (const Failure&) {
                ++one.skipped;
                continue;
            }
            kept.recordOlder(fields, start);
        }
        one.recorded = kept.recorded() - before;
    }
    result.jobs = kept.jobs();
    kept.commit();
    return result;
}

}  // namespace fennick
