#include "run/remembered_findings.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/columns.h"
#include "common/failure.h"
#include "common/job_status.h"
#include "common/numbers.h"
#include "pipeline/daily_table.h"
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

// The lines the findings read, as the intervals, the suspicious successes
// and the nights need them: all of them are known jobs, and with a history
// they are its newest rows. Kept lean, as a week of a large server's lines
// is hundreds of thousands: policies by number, names only of the window's
// successes.
struct DumpLines {
    struct Line {
        std::int64_t stream = 0;
        double start = 0;
        std::optional<double> kbytes, elapsed;
        std::uint32_t policy = 0;  // in policies
        std::uint32_t id = 0;      // in successes, for the window's successes
        JobStatus status = JobStatus::Running;
    };
    // A window success: what a listed one shows.
    struct Shown {
        std::string jobId, client, schedule;
    };
    std::vector<Line> lines = reserved();
    std::vector<std::string> policies;
    std::unordered_map<std::string, std::uint32_t, TransparentHash, std::equal_to<>> policyIndex;
    std::vector<Shown> successes{Shown{}};

    void add(const EdgeFields& fields, double start, const Window& window) {
        using namespace dump;
        const std::string_view policy = fields.at(kPolicy), schedule = fields.at(kSchedule),
                               client = fields.at(kClient);
        Line& line = lines.emplace_back();
        line.stream = streamKey(policy, schedule, client);
        line.start = start;
        line.status = jobStatus(fields.at(kStatus));
        line.kbytes = storedNumber(fields.at(kKilobytes));
        line.elapsed = storedNumber(fields.at(kElapsed));
        if (const auto found = policyIndex.find(policy); found != policyIndex.end()) {
            line.policy = found->second;
        } else {
            line.policy = static_cast<std::uint32_t>(policies.size());
            policies.emplace_back(policy);
            policyIndex.emplace(policy, line.policy);
        }
        if (line.status == JobStatus::Succeeded && start >= window.StartEpoch &&
            start <= window.EndEpoch) {
            line.id = static_cast<std::uint32_t>(successes.size());
            successes.push_back(
                {std::string(fields.at(kJobId)), std::string(client), std::string(schedule)});
        }
    }
    const std::string& policyOf(const Line& line) const { return policies[line.policy]; }

    // Room for a large server's week from the start, so that the lines are
    // not copied over and over as they come.
    static std::vector<Line> reserved() {
        std::vector<Line> lines;
        lines.reserve(std::size_t{1} << 18);
        return lines;
    }
};

// Up to five successes of a stream before a start, newest first, where the
// lines do not hold five: the history's, or none without one.
using EarlierSuccesses = std::function<std::vector<JobSize>(std::int64_t stream, double before)>;

// The window's successes with status "0" that look wrong next to the five
// newest earlier ones of their stream.
std::vector<SuspiciousJob> suspiciousOf(const DumpLines& read, const Window& window,
                                        const SuspicionRules& rules,
                                        const EarlierSuccesses& earlierOf) {
    struct Success {
        double start = 0;
        JobSize size;
        const DumpLines::Line* line = nullptr;
    };
    // Only a success whose sizes are numbers can be compared or compare.
    std::unordered_map<std::int64_t, std::vector<Success>> byStream;
    std::unordered_set<std::int64_t> judged;
    for (const DumpLines::Line& line : read.lines) {
        if (line.id != 0 && line.kbytes && line.elapsed)
            judged.insert(line.stream);
    }
    for (const DumpLines::Line& line : read.lines) {
        if (line.status == JobStatus::Succeeded && line.kbytes && line.elapsed &&
            line.start <= window.EndEpoch && judged.contains(line.stream))
            byStream[line.stream].push_back({line.start, {*line.kbytes, *line.elapsed}, &line});
    }
    std::vector<SuspiciousJob> found;
    for (auto& [stream, successes] : byStream) {
        std::sort(successes.begin(), successes.end(),
                  [](const Success& a, const Success& b) { return a.start > b.start; });
        for (auto job = successes.begin(); job != successes.end(); ++job) {
            if (job->line->id == 0)
                continue;
            // Earlier: a smaller start; a job that started with it is not.
            std::vector<JobSize> five;
            const auto first = std::upper_bound(
                job, successes.end(), job->start,
                [](double start, const Success& success) { return start > success.start; });
            for (auto at = first; at != successes.end() && five.size() < 5; ++at)
                five.push_back(at->size);
            if (five.size() < 5)
                five = earlierOf(stream, job->start);
            if (five.size() < 5)
                continue;
            const JobSize usual = usualOf(std::span<const JobSize, 5>(five.data(), 5));
            std::vector<Suspicion> reasons = suspicionsOf(job->size, usual, rules);
            if (reasons.empty())
                continue;
            const DumpLines::Shown& shown = read.successes[job->line->id];
            found.push_back({read.policyOf(*job->line), shown.client, shown.schedule, shown.jobId,
                             job->start, job->size, usual, std::move(reasons)});
        }
    }
    std::sort(found.begin(), found.end(), [](const SuspiciousJob& a, const SuspiciousJob& b) {
        if (a.policy != b.policy)
            return a.policy < b.policy;
        if (a.client != b.client)
            return a.client < b.client;
        if (a.schedule != b.schedule)
            return a.schedule < b.schedule;
        if (a.start != b.start)
            return a.start > b.start;
        return a.jobId < b.jobId;
    });
    return found;
}

// Each policy's newest job and success that started no later than the
// window's end, among the lines.
std::unordered_map<std::string_view, PolicyLast> policyLasts(const DumpLines& read,
                                                             const Window& window) {
    std::unordered_map<std::string_view, PolicyLast> lasts;
    const auto newer = [](std::optional<double>& kept, double start) {
        kept = std::max(kept.value_or(start), start);
    };
    for (const DumpLines::Line& line : read.lines) {
        if (line.start > window.EndEpoch)
            continue;
        PolicyLast& last = lasts[read.policyOf(line)];
        newer(last.job, line.start);
        if (line.status == JobStatus::Succeeded || line.status == JobStatus::Partial)
            newer(last.success, line.start);
    }
    return lasts;
}

IntervalPolicy::Verdict verdictOf(const IntervalPolicy& policy, const Window& window,
                                  std::optional<double> knownSince) {
    const double from = window.EndEpoch - policy.intervalDays * kDaySeconds;
    if (policy.lastSuccess && *policy.lastSuccess >= from)
        return IntervalPolicy::Verdict::Kept;
    // Only known jobs that reach back over the whole interval can say that
    // it held no success.
    if (knownSince && *knownSince <= from)
        return IntervalPolicy::Verdict::Overdue;
    return IntervalPolicy::Verdict::Unknown;
}

// The intervals' verdicts and the suspicious successes, from the lines, and
// from the history where it is given.
void recall(Findings& findings, const DumpLines& read, const Window& window,
            const RecallRequest& request, JobHistory* history) {
    std::unordered_map<std::string_view, PolicyLast> lasts;
    if (!history && !request.intervals.empty())
        lasts = policyLasts(read, window);
    for (const auto& [policy, days] : request.intervals) {
        IntervalPolicy& shown = findings.intervals.emplace_back();
        shown.policy = policy;
        shown.intervalDays = days;
        PolicyLast last;
        if (history) {
            last = history->policyLastUpTo(policy, window.EndEpoch);
        } else if (const auto found = lasts.find(policy); found != lasts.end()) {
            last = found->second;
        }
        shown.lastSuccess = last.success;
        shown.lastJob = last.job;
        shown.verdict = verdictOf(shown, window, findings.knownSince);
        findings.counts.overdue += shown.verdict == IntervalPolicy::Verdict::Overdue ? 1 : 0;
    }
    findings.suspicious = suspiciousOf(read, window, request.suspicion,
                                       [history](std::int64_t stream, double before) {
                                           if (!history)
                                               return std::vector<JobSize>();
                                           return history->successesBefore(stream, before, 5);
                                       });
    findings.counts.suspicious = findings.suspicious.size();
}

// The nights' states of the daily policies, once each in the list's order,
// and the totals, from each night's summary.
void showNights(Findings& findings, const std::vector<NightSummary>& summaries,
                std::span<const std::string> dailyPolicies) {
    for (const NightSummary& summary : summaries)
        findings.nightTotals.push_back(summary.totals);
    std::unordered_set<std::string_view> listed;
    for (const std::string& policy : dailyPolicies) {
        if (!listed.insert(policy).second)
            continue;
        PolicyNights& shown = findings.dailyNights.emplace_back();
        shown.policy = policy;
        for (std::size_t k = 0; k < summaries.size(); ++k) {
            const auto found = summaries[k].policies.find(policy);
            shown.nights.push_back(found != summaries[k].policies.end() ? found->second
                                   : nightUnknown(findings.nights, k, findings.knownSince)
                                       ? NightState::Unknown
                                       : NightState::None);
        }
    }
}

void nightsFromHistory(Findings& findings, JobHistory& history,
                       std::span<const std::string> dailyPolicies, const Window& window) {
    findings.nights = nightsOf(window, kPageNights);
    std::vector<NightSummary> summaries;
    for (std::size_t k = 0; k < findings.nights.size(); ++k)
        summaries.push_back(history.night(findings.nights, k));
    history.forgetNightsBefore(findings.nights.back().start);
    showNights(findings, summaries, dailyPolicies);
    for (FailingStream& stream : findings.failing) {
        stream.nights =
            history.streamNights(streamKey(stream.policy, stream.schedule, stream.client),
                                 findings.nights, window, findings.knownSince);
    }
}

void nightsFromLines(Findings& findings, const DumpLines& read,
                     std::span<const std::string> dailyPolicies, const Window& window) {
    findings.nights = nightsOf(window, kPageNights);
    std::vector<NightSummer> summers(kPageNights);
    std::unordered_map<std::int64_t, StreamNights> failing;
    for (const FailingStream& stream : findings.failing)
        failing.try_emplace(streamKey(stream.policy, stream.schedule, stream.client), kPageNights);
    for (const DumpLines::Line& line : read.lines) {
        const std::optional<std::size_t> k = nightIndex(window, line.start, kPageNights);
        if (!k)
            continue;
        summers[*k].add(line.stream, read.policyOf(line), line.start, line.status, line.kbytes);
        if (const auto found = failing.find(line.stream); found != failing.end())
            found->second.add(*k, line.start, line.status);
    }
    std::vector<NightSummary> summaries;
    for (NightSummer& summer : summers)
        summaries.push_back(summer.take());
    showNights(findings, summaries, dailyPolicies);
    for (FailingStream& stream : findings.failing) {
        stream.nights = failing.at(streamKey(stream.policy, stream.schedule, stream.client))
                            .states(findings.nights, findings.knownSince);
    }
}

}  // namespace

Findings findRecalling(LineReader& dump, const Window& window,
                       std::span<const std::string> dailyPolicies, int lookbackDays,
                       const RecallRequest& recallRequest, const HistoryRequest* request,
                       HistoryState* state) {
    std::optional<JobHistory> history;
    if (request) {
        *state = HistoryState{};
        state->file = request->file;
        try {
            history.emplace(request->file, request->patience);
            history->compareSince(window.StartEpoch - lookbackDays * kDaySeconds);
        } catch (const Failure& failure) {
            state->error = failure.what();
            history.reset();
        }
    }
    // Kept also beside a history, which may fail half-way: the findings then
    // go on with the dump alone, and so do the nights.
    DumpLines lines;
    const JobSeen seen = [&](const EdgeFields& fields, double start) {
        lines.add(fields, start, window);
        if (!history)
            return;
        try {
            history->record(fields, start);
        } catch (const Failure& failure) {
            // Rolled back: the findings go on with the dump alone.
            state->error = failure.what();
            history.reset();
        }
    };
    Findings findings = findActions(dump, window, dailyPolicies, lookbackDays, seen);
    if (history) {
        try {
            Findings remembered = findings;
            widen(remembered, *history, dailyPolicies, window);
            recall(remembered, lines, window, recallRequest, &*history);
            nightsFromHistory(remembered, *history, dailyPolicies, window);
            history->removeStartedBefore(window.StartEpoch - request->keepDays * kDaySeconds);
            const std::size_t jobs = history->jobs();
            const std::size_t recorded = history->recorded();
            history->commit();
            state->jobs = jobs;
            state->recorded = recorded;
            return remembered;
        } catch (const Failure& failure) {
            state->error = failure.what();
        }
    }
    recall(findings, lines, window, recallRequest, nullptr);
    nightsFromLines(findings, lines, dailyPolicies, window);
    return findings;
}

Findings findRemembering(LineReader& dump, const Window& window,
                         std::span<const std::string> dailyPolicies, int lookbackDays,
                         const HistoryRequest& request, HistoryState& state) {
    return findRecalling(dump, window, dailyPolicies, lookbackDays, RecallRequest{}, &request,
                         &state);
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
