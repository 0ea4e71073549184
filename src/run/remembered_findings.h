// What needs action, read from the dump and from the jobs that earlier runs
// recorded: the dump forgets finished jobs within days, the history keeps
// them, so last successes and failing streams' beginnings reach back further.
#pragma once

#include <chrono>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/report_time.h"
#include "files/text_file.h"
#include "pipeline/findings.h"
#include "pipeline/suspicion.h"
#include "run/history_state.h"
#include "run/job_history.h"

namespace fennick {

// By default rows are kept for this many days before the window's start.
inline constexpr int kDefaultHistoryDays = 400;

struct HistoryRequest {
    std::filesystem::path file;
    int keepDays = kDefaultHistoryDays;
    std::chrono::milliseconds patience = kHistoryPatience;
};

// What the known jobs are asked beyond the dump's findings.
struct RecallRequest {
    // Policies of policy_intervals.txt and their days.
    std::vector<std::pair<std::string, int>> intervals;
    SuspicionRules suspicion;
};

// The findings of `dump` with what the known jobs tell of the policies of
// `recall.intervals` and of the window's successes. The known jobs are the
// history's rows when `history` is given (then as the overload below), the
// lines the findings read otherwise, or when the history could not be used.
// The five earlier successes of a window job come from the lines where they
// hold five, else from the history.
Findings findRecalling(LineReader& dump, const Window& window,
                       std::span<const std::string> dailyPolicies, int lookbackDays,
                       const RecallRequest& recall, const HistoryRequest* history,
                       HistoryState* state);

// The findings of `dump` (as findActions reads them), with every job they
// keep recorded in the history, and with the last successes, last jobs,
// failing since, failed since the last success and known since taken from
// the known jobs: the history's rows with today's lines in place of their
// own. The window's jobs, the failing streams, the recovered jobs and every
// count stay the dump's. Rows that started more than `keepDays` before the
// window's start are removed. A history that cannot be used leaves the
// findings those of the dump alone and says why in `state`; it is never
// left half-written.
Findings findRemembering(LineReader& dump, const Window& window,
                         std::span<const std::string> dailyPolicies, int lookbackDays,
                         const HistoryRequest& request, HistoryState& state);

// Records the route-1 and route-2 jobs of each of `dumps` (copies of older
// dumps an operator kept) in the history at `history`, under the folder's
// run lock, all or nothing; a row already there stays unless it was still
// running. Lines that cannot be read as jobs are skipped and counted.
struct ImportedDump {
    std::filesystem::path file;
    std::size_t jobs = 0;      // job lines of the two routes read
    std::size_t recorded = 0;  // rows written or replaced
    std::size_t skipped = 0;   // lines that could not be read as jobs
};
struct ImportResult {
    std::vector<ImportedDump> dumps;
    std::size_t jobs = 0;  // the history's rows afterwards
};
ImportResult importDumps(const std::filesystem::path& appDir, const std::filesystem::path& history,
                         std::span<const std::filesystem::path> dumps);

}  // namespace fennick
