// The jobs fennick-cli has read, kept in an SQLite database, so that what
// the morning mail says can reach back further than the dump, which the
// backup server keeps for a few days only.
//
// The table `jobs` is an interface for operators' own queries: one row per
// job id, the times in seconds since 1970, the status text as in the dump.
// `streams` sums it up per policy, schedule and client (its rows, last job
// and last success), and stays true whatever is done to `jobs`.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/fields.h"
#include "pipeline/nights.h"
#include "pipeline/suspicion.h"

struct sqlite3;
struct sqlite3_stmt;

namespace fennick {

// The file in the folder that holds the history by default.
inline constexpr std::string_view kHistoryFile = "fennick_history.db";

// The schema's version, kept as the database's user_version: a history of a
// newer version is never written.
inline constexpr int kHistoryVersion = 1;

// Marks the file as ours (its application_id): an SQLite database of
// somebody else's at the path is never written.
inline constexpr std::int32_t kHistoryApplicationId = 0x466E6B48;  // "FnkH"
// The database pages a run keeps in memory at most, in KiB.
inline constexpr int kHistoryCacheKiB = 32768;
// New rows wait in memory up to this many, then go into the history: a
// night's fit, a first run on a month's dump does not need to.
inline constexpr std::size_t kHistoryStagedRows = 65536;

// Longest a run waits for another process's write to the history.
inline constexpr std::chrono::milliseconds kHistoryPatience = std::chrono::seconds(10);

// One policy, schedule and client.
struct JobStream {
    std::string_view policy, schedule, client;
};

// The key of a stream's rows: its three names as the dump holds them side
// by side, hashed.
std::int64_t streamKey(std::string_view policy, std::string_view schedule, std::string_view client);

// The number a field's row holds: a finite decimal, blanks around it
// allowed; nothing for a blank field or any other text, which is kept as text.
std::optional<double> storedNumber(std::string_view text);

// A stream's failed jobs after a moment, up to another.
struct FailedRun {
    std::optional<double> earliest;
    std::size_t count = 0;
};

struct PolicyLast {
    std::optional<double> job, success;  // any status; status "0" or "1"
};

// A statement prepared once, reset after each use.
class Statement {
  public:
    Statement() = default;
    Statement(sqlite3* db, std::string_view sql, const std::filesystem::path& file);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;

    sqlite3_stmt* get() const { return statement_; }

  private:
    sqlite3_stmt* statement_ = nullptr;
};

// The history opened for one run: everything it writes is one transaction,
// which only commit() makes lasting; a failure, an exception or a kill
// before it leaves the history as the run found it.
class JobHistory {
  public:
    // Opens the history at `file`, or creates it there when nothing is at
    // the path, and takes its write lock, waiting up to `patience` for
    // another process that holds it. Anything at the path that is not a
    // history of ours (another file, an SQLite database of another program,
    // a folder, a device, a history of a newer version) is left as it is and
    // is a Failure naming the file and the reason, as is every later fault.
    explicit JobHistory(const std::filesystem::path& file,
                        std::chrono::milliseconds patience = kHistoryPatience);
    ~JobHistory();
    JobHistory(const JobHistory&) = delete;
    JobHistory& operator=(const JobHistory&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // The rows that started at or after `since` are those today's lines will
    // be compared with: a line that its row already holds is not written
    // again. Called once, before record().
    void compareSince(double since);

    // The job of a dump line split as the findings split it, which started
    // at `start`: its row is written unless the row holds exactly it.
    void record(const EdgeFields& fields, double start);
    // The same for a line of an older dump: a row already there is newer
    // and stays, unless it was still running.
    void recordOlder(const EdgeFields& fields, double start);
    // Rows written or replaced so far.
    std::size_t recorded() const { return recorded_; }

    std::optional<double> lastSuccess(const JobStream& stream);
    // The stream's failed jobs that started after `after` (all of them when
    // nothing) and no later than `until`.
    FailedRun failedSince(const JobStream& stream, std::optional<double> after, double until);
    PolicyLast policyLast(std::string_view policy);
    // The same of the jobs that started no later than `until`.
    PolicyLast policyLastUpTo(std::string_view policy, double until);
    // The earliest start of all rows.
    std::optional<double> knownSince();
    // Up to `count` of the stream's successes with status "0" and sizes that
    // are numbers, that started before `before`, newest first.
    std::vector<JobSize> successesBefore(std::int64_t stream, double before, std::size_t count);
    std::size_t jobs();

    // Night `index` of `nights` (night 0 holds its end), summed up from the
    // rows: kept from an earlier run of a night that held the same jobs (the
    // same, or a few seconds apart with no job started in between) unless a
    // row of it has changed since, else counted and kept for the next.
    NightSummary night(std::span<const Night> nights, std::size_t index);
    // Forgets the nights kept that ended before `start`.
    void forgetNightsBefore(double start);
    // The stream's states over `nights`.
    NightStates streamNights(std::int64_t stream, std::span<const Night> nights,
                             const Window& window, std::optional<double> knownSince);

    // Removes the rows that started before `start`; how many went.
    std::size_t removeStartedBefore(double start);

    // Makes what the run wrote lasting.
    void commit();

  private:
    void open(std::chrono::milliseconds patience);
    void check();
    void create();
    void prepare();
    void recountStale();
    void flush();
    void write(const EdgeFields& fields, double start, Statement& statement);
    [[noreturn]] void fail(std::string_view doing) const;
    void step(Statement& statement, std::string_view doing);
    void run(std::string_view sql, std::string_view doing);
    std::optional<double> newestUpTo(std::int64_t stream, double until, bool successOnly);
    std::optional<NightSummary> keptNight(const Night& night, int closed);

    std::filesystem::path file_;
    sqlite3* db_ = nullptr;
    bool inTransaction_ = false;
    std::size_t recorded_ = 0;
    bool mayBeStale_ = true;            // rows changed since the streams were last counted
    std::vector<std::uint64_t> known_;  // digests of the compared rows, sorted
    std::size_t staged_ = 0;            // rows waiting in the staging table
    Statement stage_, flush_, clear_, replaceRunning_, lastSuccess_, failedSince_, failedAll_,
        policyLast_, knownSince_, count_, forget_, remove_, digests_, anyStale_, policyStreams_,
        successes_, newestSuccess_, newestOther_, keptNight_, keptPolicies_, nightRows_, keepNight_,
        keepPolicy_, forgetNights_, streamFailures_, streamSuccesses_, anyStarted_, forgetNight_;
};

}  // namespace fennick
