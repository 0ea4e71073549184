// What needs the operator's action after a run: the streams whose failures
// no later job fixed and the daily policies without a job, read from the
// dump itself with some days of history before the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/fields.h"
#include "common/report_time.h"
#include "files/text_file.h"
#include "pipeline/nights.h"
#include "pipeline/suspicion.h"

namespace fennick {

// A policy, client and schedule whose failed window jobs were not all made
// good by a later success. Times are epoch seconds, as in the dump.
struct FailingStream {
    std::string policy, client, schedule;
    bool daily = false;  // the policy is on the daily list
    // The newest failed window job that no later success made good.
    std::string status, jobId;
    double start = 0;
    std::size_t failedJobs = 0;  // its failed window jobs not made good
    // The newest success of the stream among the known jobs.
    std::optional<double> lastSuccess;
    // Of its failed known jobs that started after the last success (all of
    // them when it has none) and no later than the window's end: the
    // earliest start and how many there are.
    std::optional<double> failingSince;
    std::size_t failedSinceSuccess = 0;
    // Its nights (kPageNights of them), night 0 first; empty when the
    // nights were not gathered.
    NightStates nights;

    bool operator==(const FailingStream&) const = default;
};

// A daily policy without a job in the window, and when it last ran.
struct MissingPolicy {
    std::string policy;
    std::optional<double> lastJob;  // any status
    std::optional<double> lastSuccess;

    bool operator==(const MissingPolicy&) const = default;
};

// A failed window job that a later success of its stream made good.
struct RecoveredJob {
    std::string policy, client, schedule, jobId, status;
    double start = 0;
    std::string recoveredBy;  // the job id of the earliest later success

    bool operator==(const RecoveredJob&) const = default;
};

// A daily policy's nights: each the worst of its streams' that night.
struct PolicyNights {
    std::string policy;
    NightStates nights;  // kPageNights of them, night 0 first

    bool operator==(const PolicyNights&) const = default;
};

// A policy of policy_intervals.txt and what the known jobs say of it.
struct IntervalPolicy {
    std::string policy;
    int intervalDays = 0;
    // Its newest success (status "0" or "1") and newest job of any status
    // that started no later than the window's end.
    std::optional<double> lastSuccess, lastJob;
    enum class Verdict : std::uint8_t {
        Kept,     // a success within the interval before the window's end
        Overdue,  // none, and the known jobs reach back over the interval
        Unknown,  // none among the known jobs, which start within the interval
    } verdict = Verdict::Kept;

    bool operator==(const IntervalPolicy&) const = default;
};

// A window success that looks wrong next to its stream's five newest
// earlier successes.
struct SuspiciousJob {
    std::string policy, client, schedule, jobId;
    double start = 0;
    JobSize size, usual;
    std::vector<Suspicion> reasons;

    bool operator==(const SuspiciousJob&) const = default;
};

struct FindingCounts {
    std::size_t jobs = 0;       // window jobs: those that go to out.txt
    std::size_t failed = 0;     // window jobs with a failed status
    std::size_t recovered = 0;  // of the failed, made good later
    std::size_t running = 0;    // window jobs without a status yet
    std::size_t partial = 0;    // window jobs with status "1"
    std::size_t failing = 0;    // failing streams
    std::size_t notFound = 0;   // missing daily policies
    std::size_t skippedLines = 0;
    // Window jobs below the line where the extraction stopped, which the
    // page therefore left out: more than 0 only in a dump that is not
    // newest first.
    std::size_t leftOutOfPage = 0;
    std::size_t overdue = 0;     // overdue policies of policy_intervals.txt
    std::size_t suspicious = 0;  // suspicious successes

    bool operator==(const FindingCounts&) const = default;
};

struct Findings {
    // Daily policies first, then by last success, oldest (or none) first,
    // then by policy, client and schedule.
    std::vector<FailingStream> failing;
    // In the order of the daily list, each name once.
    std::vector<MissingPolicy> notFound;
    // In dump order, newest job first.
    std::vector<RecoveredJob> recovered;
    // Each daily policy with a success among the lines read, and the start
    // of its newest one; in the order of the daily list, each name once.
    std::vector<std::pair<std::string, double>> dailyLastSuccess;
    // The earliest start among the known jobs: nothing said of the time
    // before it can rest on the data.
    std::optional<double> knownSince;
    // Nights 0 to kPageNights - 1 (night 0 first) and every policy's known
    // jobs of each; empty when the nights were not gathered.
    std::vector<Night> nights;
    std::vector<NightTotals> nightTotals;
    // In the order of the daily list, each name once.
    std::vector<PolicyNights> dailyNights;
    // In the order of policy_intervals.txt, each policy once.
    std::vector<IntervalPolicy> intervals;
    // By policy, client, schedule, then newest first.
    std::vector<SuspiciousJob> suspicious;
    FindingCounts counts;
};

// Told of every job line the findings keep (those routed to out.txt), split
// with at least the fields up to the retention's, and of its start. It must
// not throw: a line it cannot take is its own business, not a bad line.
using JobSeen = std::function<void(const EdgeFields& fields, double start)>;

// Daily policies first, then by last success, oldest (or none) first, then
// by policy, client and schedule.
void sortFailing(std::vector<FailingStream>& failing);

// Reads `dump` (newest job first) from its top down to the first job that
// started more than `lookbackDays` days before the window's start (read on
// past such jobs while none newer has come: a dump that runs oldest first
// opens with them). Window
// jobs are exactly those the extraction writes to out.txt; the lines after
// the window's end and before its start only add history: a failed window
// job is made good by a success (status "0" or "1", routed to out.txt) of
// its stream that started later, and last jobs and successes come from all
// lines read. A line that cannot be read as a job is skipped and counted.
// `dailyPolicies` are the lines of the policy list. A negative lookback is
// an invalid argument. `seen`, when given, is told of each job kept.
Findings findActions(LineReader& dump, const Window& window,
                     std::span<const std::string> dailyPolicies, int lookbackDays,
                     const JobSeen& seen = {});

// The same on bpdbjobs.txt and policy_list.txt of `appDir`, both read as
// the run reads them: a missing file or a policy name with a comma fails.
Findings findActions(const std::filesystem::path& appDir, const Window& window, int lookbackDays);

}  // namespace fennick
