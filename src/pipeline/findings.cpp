#include "pipeline/findings.h"

#include <algorithm>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "common/columns.h"
#include "common/failure.h"
#include "common/fields.h"
#include "common/file_names.h"
#include "common/job_status.h"
#include "common/numbers.h"
#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"

namespace fennick {

namespace {

using namespace dump;

// Split as the extraction splits: up to field 27, which every line it
// writes has.
constexpr std::size_t kFrontFields = kRetention + 1;
constexpr double kDaySeconds = 86400;

struct Success {
    double start = 0;
    std::string jobId;
};

// Keeps `start` if it is the earliest so far; on a tie the job read later
// (lower in the dump) wins, wherever the tie is met.
void keepEarliest(std::optional<Success>& best, double start, std::string_view jobId) {
    if (!best)
        best.emplace();
    else if (start > best->start)
        return;
    best->start = start;
    best->jobId.assign(jobId);
}

struct FailedWindowJob;

// One policy, schedule and client: what the findings need of its jobs,
// whatever their number.
struct Stream {
    std::optional<double> lastJob;
    std::optional<double> lastSuccess;
    // The two earliest distinct starts of the successes read so far. A
    // failed job read now is made good by the first that started after it:
    // in a dump sorted newest first that is the earliest, or the second when
    // the earliest started at the same second as the failure.
    std::optional<Success> earliest;
    std::optional<Success> secondEarliest;
    // Its failed window jobs, for successes read below them, and the
    // earliest start among them.
    std::vector<std::size_t> failures;
    double oldestFailure = 0;
    // The starts of all its failed jobs read, up to the window's end.
    std::vector<double> failedStarts;
    bool windowJob = false;
    // Filled at the end: its failed jobs nothing made good.
    std::size_t open = 0;
    const FailedWindowJob* newestOpen = nullptr;
};

using Streams = std::unordered_map<std::string, Stream, TransparentHash, std::equal_to<>>;
using StreamEntry = Streams::value_type;

struct FailedWindowJob {
    StreamEntry* stream;
    std::string jobId, status;
    double start;
    std::optional<Success> recoveredBy;
};

void noteSuccess(Stream& stream, double start, std::string_view jobId) {
    std::optional<Success>& first = stream.earliest;
    if (first && start > first->start) {
        keepEarliest(stream.secondEarliest, start, jobId);
        return;
    }
    // An earlier one: the earliest moves to second place, and the old
    // second's text is reused for the new earliest.
    if (first && start < first->start)
        std::swap(first, stream.secondEarliest);
    keepEarliest(first, start, jobId);
}

void keepLatest(std::optional<double>& latest, double start) {
    if (!latest || start > *latest)
        latest = start;
}

// The stream key is fields 4 to 6 as they stand in the line, "policy,
// schedule,client": no field holds a comma, so it parts again exactly.
struct StreamName {
    std::string_view policy, schedule, client;
};
StreamName nameOf(std::string_view key) {
    const std::size_t first = key.find(',');
    const std::size_t second = key.find(',', first + 1);
    return {key.substr(0, first), key.substr(first + 1, second - first - 1),
            key.substr(second + 1)};
}

class Scan {
  public:
    Scan(const Window& window, int lookbackDays, const JobSeen& seen)
        : window_(window),
          lookbackStart_(window.StartEpoch - lookbackDays * kDaySeconds),
          seen_(seen) {}

    void read(LineReader& dump) {
        EdgeFields fields;
        while (!dump.atEnd()) {
            fields.split(dump.readLine(), kFrontFields);
            try {
                if (!readJob(fields))
                    return;
            } catch (const Failure&) {
                // Only the findings read this line, or the run would have
                // failed on it: a summary is still worth sending.
                ++counts_.skippedLines;
            }
        }
    }

    Findings finish(std::span<const std::string> dailyPolicies) &&;

  private:
    // False once the line lies before the lookback: the scan ends there.
    bool readJob(EdgeFields& fields) {
        const double start = parseNumber(fields.at(kStart));
        // The extraction's own rule, so that the window jobs are its jobs.
        const StartPlace place = placeOfStart(start, window_);
        if (place == StartPlace::NotStarted)
            return true;
        const bool inside = place == StartPlace::Inside;
        if (place == StartPlace::BeforeStart) {
            pastWindow_ = true;  // the extraction stopped here
            if (start < lookbackStart_) {
                // A dump that opens with a job this old is stale or runs
                // oldest first; only reading on tells which.
                if (readWithinLookback_)
                    return false;
                return true;
            }
        }
        readWithinLookback_ = true;
        const JobRoute route = routeOf(fields);
        if (route != JobRoute::Marked && route != JobRoute::Flagged)
            return true;
        fields.at(kRetention);  // the extraction writes no shorter line
        // A window job below the stop is one the page left out: the dump is
        // not newest first.
        if (pastWindow_ && inside)
            ++counts_.leftOutOfPage;
        if (!knownSince_ || start < *knownSince_)
            knownSince_ = start;
        noteJob(fields, start, inside && !pastWindow_);
        if (seen_)
            seen_(fields, start);
        return true;
    }

    // Below the window no job joins the window any more, so a stream first
    // met here needs no entry: only its policy's last job and success count,
    // and a stream already met keeps its own.
    void noteHistory(const EdgeFields& fields, double start) {
        const JobStatus kind = jobStatus(fields.at(kStatus));
        const bool success = kind == JobStatus::Succeeded || kind == JobStatus::Partial;
        const std::string_view policy = fields.at(kPolicy);
        auto history = belowWindow_.find(policy);
        if (history == belowWindow_.end())
            history = belowWindow_.emplace(policy, History{}).first;
        keepLatest(history->second.lastJob, start);
        if (success)
            keepLatest(history->second.lastSuccess, start);
        const auto found = streams_.find(fieldRun(policy, fields.at(kClient)));
        if (found == streams_.end())
            return;
        Stream& stream = found->second;
        keepLatest(stream.lastJob, start);
        if (!success) {
            noteFailure(stream, kind, start);
            return;
        }
        keepLatest(stream.lastSuccess, start);
        if (!stream.failures.empty() && start > stream.oldestFailure) {
            const std::string_view jobId = fields.at(kJobId);
            for (const std::size_t index : stream.failures) {
                if (start > failed_[index].start)
                    keepEarliest(failed_[index].recoveredBy, start, jobId);
            }
        }
    }

    void noteFailure(Stream& stream, JobStatus kind, double start) {
        if (kind == JobStatus::Failed && start <= window_.EndEpoch)
            stream.failedStarts.push_back(start);
    }

    void noteJob(const EdgeFields& fields, double start, bool inWindow) {
        if (pastWindow_) {
            noteHistory(fields, start);
            return;
        }
        const std::string_view key = fieldRun(fields.at(kPolicy), fields.at(kClient));
        auto found = streams_.find(key);
        if (found == streams_.end())
            found = streams_.emplace(key, Stream{}).first;
        Stream& stream = found->second;
        const std::string_view jobId = fields.at(kJobId);
        const std::string_view status = fields.at(kStatus);
        const JobStatus kind = jobStatus(status);

        keepLatest(stream.lastJob, start);
        noteFailure(stream, kind, start);
        if (kind == JobStatus::Succeeded || kind == JobStatus::Partial) {
            keepLatest(stream.lastSuccess, start);
            noteSuccess(stream, start, jobId);
            // A failure read above it that it started after: only in a dump
            // out of order, so a sorted one never walks the list.
            if (!stream.failures.empty() && start > stream.oldestFailure) {
                for (const std::size_t index : stream.failures) {
                    if (start > failed_[index].start)
                        keepEarliest(failed_[index].recoveredBy, start, jobId);
                }
            }
        }
        if (!inWindow)
            return;
        stream.windowJob = true;
        ++counts_.jobs;
        if (kind == JobStatus::Partial)
            ++counts_.partial;
        else if (kind == JobStatus::Running)
            ++counts_.running;
        if (kind != JobStatus::Failed)
            return;
        ++counts_.failed;
        FailedWindowJob& job = failed_.emplace_back(
            FailedWindowJob{&*found, std::string(jobId), std::string(status), start, std::nullopt});
        for (const std::optional<Success>* success : {&stream.earliest, &stream.secondEarliest}) {
            if (*success && (*success)->start > start) {
                job.recoveredBy = **success;
                break;
            }
        }
        if (stream.failures.empty() || start < stream.oldestFailure)
            stream.oldestFailure = start;
        stream.failures.push_back(failed_.size() - 1);
    }

    Window window_;
    double lookbackStart_;
    const JobSeen& seen_;
    std::optional<double> knownSince_;
    bool pastWindow_ = false;
    bool readWithinLookback_ = false;
    Streams streams_;
    struct History {
        std::optional<double> lastJob, lastSuccess;
    };
    std::unordered_map<std::string, History, TransparentHash, std::equal_to<>> belowWindow_;
    std::vector<FailedWindowJob> failed_;  // in dump order
    FindingCounts counts_;
};

struct PolicyHistory {
    bool windowJob = false;
    bool listed = false;  // already looked at, for a name listed twice
    std::optional<double> lastJob;
    std::optional<double> lastSuccess;
};

void keepLatest(std::optional<double>& latest, const std::optional<double>& start) {
    if (start)
        keepLatest(latest, *start);
}

Findings Scan::finish(std::span<const std::string> dailyPolicies) && {
    Findings findings;
    for (FailedWindowJob& job : failed_) {
        const StreamName name = nameOf(job.stream->first);
        if (job.recoveredBy) {
            findings.recovered.push_back({std::string(name.policy), std::string(name.client),
                                          std::string(name.schedule), std::move(job.jobId),
                                          std::move(job.status), job.start,
                                          std::move(job.recoveredBy->jobId)});
            continue;
        }
        Stream& stream = job.stream->second;
        ++stream.open;
        if (!stream.newestOpen || job.start > stream.newestOpen->start)
            stream.newestOpen = &job;
    }

    std::unordered_map<std::string_view, PolicyHistory> daily;
    for (const std::string& policy : dailyPolicies)
        daily.try_emplace(policy);
    for (const auto& [key, stream] : streams_) {
        const auto found = daily.find(nameOf(key).policy);
        if (found == daily.end())
            continue;
        PolicyHistory& history = found->second;
        history.windowJob = history.windowJob || stream.windowJob;
        keepLatest(history.lastJob, stream.lastJob);
        keepLatest(history.lastSuccess, stream.lastSuccess);
    }
    for (const auto& [policy, below] : belowWindow_) {
        const auto found = daily.find(policy);
        if (found == daily.end())
            continue;
        keepLatest(found->second.lastJob, below.lastJob);
        keepLatest(found->second.lastSuccess, below.lastSuccess);
    }

    for (const FailedWindowJob& job : failed_) {
        const Stream& stream = job.stream->second;
        if (stream.newestOpen != &job)
            continue;
        const StreamName name = nameOf(job.stream->first);
        FailingStream& failing = findings.failing.emplace_back();
        failing.policy = name.policy;
        failing.client = name.client;
        failing.schedule = name.schedule;
        failing.daily = daily.contains(name.policy);
        failing.status = job.status;
        failing.jobId = job.jobId;
        failing.start = job.start;
        failing.failedJobs = stream.open;
        failing.lastSuccess = stream.lastSuccess;
        for (const double start : stream.failedStarts) {
            if (stream.lastSuccess && start <= *stream.lastSuccess)
                continue;
            ++failing.failedSinceSuccess;
            if (!failing.failingSince || start < *failing.failingSince)
                failing.failingSince = start;
        }
    }
    sortFailing(findings.failing);

    for (const std::string& policy : dailyPolicies) {
        PolicyHistory& history = daily.find(policy)->second;
        if (history.listed)
            continue;
        history.listed = true;
        if (history.lastSuccess)
            findings.dailyLastSuccess.push_back({policy, *history.lastSuccess});
        if (!history.windowJob)
            findings.notFound.push_back({policy, history.lastJob, history.lastSuccess});
    }

    findings.knownSince = knownSince_;
    counts_.recovered = findings.recovered.size();
    counts_.failing = findings.failing.size();
    counts_.notFound = findings.notFound.size();
    findings.counts = counts_;
    return findings;
}

}  // namespace

void sortFailing(std::vector<FailingStream>& failing) {
    const auto rank = [](const FailingStream& stream) {
        return std::tie(stream.policy, stream.client, stream.schedule);
    };
    std::sort(failing.begin(), failing.end(),
              [&rank](const FailingStream& a, const FailingStream& b) {
                  if (a.daily != b.daily)
                      return a.daily;
                  if (a.lastSuccess != b.lastSuccess)
                      return a.lastSuccess < b.lastSuccess;  // none first
                  return rank(a) < rank(b);
              });
}

Findings findActions(LineReader& dump, const Window& window,
                     std::span<const std::string> dailyPolicies, int lookbackDays,
                     const JobSeen& seen) {
    if (lookbackDays < 0) {
        throw Failure(
            FailureKind::InvalidArgument,
            "is a lookback of " + std::to_string(lookbackDays) + " days: it cannot be negative");
    }
    Scan scan(window, lookbackDays, seen);
    scan.read(dump);
    return std::move(scan).finish(dailyPolicies);
}

Findings findActions(const std::filesystem::path& appDir, const Window& window, int lookbackDays) {
    LineReader policyReader(fileIn(appDir, kPolicyFile), kPolicyFile);
    const PolicyList policies = readPolicies(policyReader);
    if (policies.failure)
        throw *policies.failure;
    LineReader dump(fileIn(appDir, kDumpFile), kDumpFile);
    return findActions(dump, window, policies.names, lookbackDays);
}

}  // namespace fennick
