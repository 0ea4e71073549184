// How each stream and policy fared night after night: what the known jobs
// tell of the nights before the window.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/job_status.h"
#include "common/report_time.h"
#include "pipeline/daily_table.h"

namespace fennick {

// The mail's grid shows this many nights, the history page this many.
inline constexpr std::size_t kMailNights = 14;
inline constexpr std::size_t kPageNights = 30;

// Worst last: a policy's night is the worst of its streams'. `Unknown` is a
// night without a known job that began before the earliest known job: its
// jobs may have gone unseen.
enum class NightState : std::uint8_t { Unknown, None, Running, Ok, Partial, Failed };

// "unknown", "none", "running", "ok", "partial", "failed".
std::string_view nightStateName(NightState state);

// Night 0 is the window itself, start and end included; night k >= 1 holds
// the starts from the window's start minus k window lengths up to, not
// including, the start minus k - 1 lengths.
struct Night {
    double start = 0, end = 0;

    bool operator==(const Night&) const = default;
};

// Nights 0 to count - 1, night 0 first.
std::vector<Night> nightsOf(const Window& window, std::size_t count);

// The night of `count` that a job started at `start` belongs to; nothing
// after the window's end or before the oldest night.
std::optional<std::size_t> nightIndex(const Window& window, double start, std::size_t count);

// Night 0 first.
using NightStates = std::vector<NightState>;

// The known jobs of one night, every policy's.
struct NightTotals {
    std::size_t jobs = 0, failed = 0;
    double kbytes = 0;

    bool operator==(const NightTotals&) const = default;
};

// One stream's one night as its jobs come, in any order: the newest start
// with a status so far and its state, and whether a job still runs.
struct NightCell {
    std::optional<double> decided;
    NightState state = NightState::None;
    bool running = false;

    void add(double start, JobStatus status);
};

// A stream's nights from its known jobs, given in any order: the newest job
// of a night that has a status decides it (the worse state when two such
// start together); a night of jobs all still running is `Running`, one
// without a job `None`.
class StreamNights {
  public:
    explicit StreamNights(std::size_t nights) : cells_(nights) {}
    void add(std::size_t night, double start, JobStatus status);
    // Nights that ended before `knownSince` (all of them without one) are
    // `Unknown`.
    NightStates states(std::span<const Night> nights, std::optional<double> knownSince) const;

  private:
    std::vector<NightCell> cells_;
};

// What one night's known jobs say: its totals and each policy's state (a
// policy without a job there is not in it).
struct NightSummary {
    NightTotals totals;
    std::unordered_map<std::string, NightState, TransparentHash, std::equal_to<>> policies;
};

// Sums up one night from its known jobs, given in any order: each stream's
// state as StreamNights decides it, each policy's the worst of its streams'.
class NightSummer {
  public:
    void add(std::int64_t stream, std::string_view policy, double start, JobStatus status,
             std::optional<double> kbytes);
    NightSummary take();

  private:
    // A stream's night as StreamNights keeps it, without a vector of its
    // own: a large night holds some hundred thousand streams.
    struct Stream {
        NightCell night;
        NightState* policy = nullptr;  // in summary_.policies, whose nodes stay put
    };
    NightSummary summary_;
    std::unordered_map<std::int64_t, Stream> streams_;
};

// Whether night `index` of `nights` is not known whole: it began before the
// earliest known job (or none is known). Its policies and streams without a
// job there are `Unknown`, not `None`, and its totals are not told.
bool nightUnknown(std::span<const Night> nights, std::size_t index,
                  std::optional<double> knownSince);

// The worse of two nights: failed, partial, ok, running, none, unknown.
NightState worseNight(NightState a, NightState b);

// A stream's night states folded into its policy's, night by night.
void foldWorst(NightStates& policy, const NightStates& stream);

}  // namespace fennick
