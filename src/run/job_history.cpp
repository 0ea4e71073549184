#include "run/job_history.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "common/columns.h"
#include "common/failure.h"
#include "common/job_status.h"
#include "common/numbers.h"
#include "files/replaced_file.h"
#include "files/sync_directory.h"

namespace fennick {

namespace {

using namespace dump;

// The start of an SQLite database file, whatever its content.
constexpr std::string_view kSqliteHeader{"SQLite format 3\0", 16};

// Each night adds about one row per stream, so every index keyed by stream
// would be written all over, every night: only time-ordered ones grow at
// their end. What the findings ask of a stream (its last job and success)
// is kept in `streams`, one small row per stream, by triggers whatever
// changes `jobs`; its failed jobs come from a partial index, as failures are
// few. A change that may take a stream's newest job or success away (a row
// removed by hand, a success turned into a failure) marks the stream stale,
// and the next run counts its values anew in one pass.
// A stream's successes newest first, with the sizes they are compared by,
// for the streams whose five recent successes today's lines do not hold.
// Histories made before it get it when they are next opened.
constexpr std::string_view kSucceededIndex =
    "CREATE INDEX IF NOT EXISTS jobs_succeeded ON jobs (stream, started, status, kbytes, "
    "elapsed) WHERE status IN ('0', '1');";

// Each night a run shows, summed up, so that the next runs read a few rows
// of it rather than every job it held. Any change to a row of a night
// forgets the night, whoever makes it, and the next run counts it anew.
// The index on the nights' ends keeps that cheap for a night's new rows,
// which start after every night kept but the newest one or two; the one on
// their starts for the old rows that the days kept remove.
constexpr std::string_view kNightTables = R"(
CREATE TABLE IF NOT EXISTS nights (
  night INTEGER PRIMARY KEY,
  start REAL NOT NULL,
  end REAL NOT NULL,
  closed INTEGER NOT NULL,
  jobs INTEGER NOT NULL,
  failed INTEGER NOT NULL,
  kbytes REAL NOT NULL
);
CREATE TABLE IF NOT EXISTS night_policies (
  night INTEGER NOT NULL,
  policy TEXT NOT NULL,
  state INTEGER NOT NULL,
  PRIMARY KEY (night, policy)
) WITHOUT ROWID;
CREATE TRIGGER IF NOT EXISTS nights_forgotten AFTER DELETE ON nights BEGIN
  DELETE FROM night_policies WHERE night = old.night;
END;
CREATE INDEX IF NOT EXISTS nights_end ON nights (end);
CREATE INDEX IF NOT EXISTS nights_start ON nights (start);
CREATE TRIGGER IF NOT EXISTS nights_row_added AFTER INSERT ON jobs BEGIN
  DELETE FROM nights WHERE end >= new.started AND start <= new.started;
END;
CREATE TRIGGER IF NOT EXISTS nights_row_changed
AFTER UPDATE OF started, status, kbytes, policy, stream ON jobs BEGIN
  DELETE FROM nights WHERE (end >= new.started AND start <= new.started)
                        OR (end >= old.started AND start <= old.started);
END;
CREATE TRIGGER IF NOT EXISTS nights_row_removed AFTER DELETE ON jobs
WHEN old.started >= (SELECT min(start) FROM nights) BEGIN
  DELETE FROM nights WHERE end >= old.started AND start <= old.started;
END;
)";

constexpr std::string_view kTables = R"(
CREATE TABLE jobs (
  job_id TEXT PRIMARY KEY NOT NULL,
  started INTEGER NOT NULL,
  ended INTEGER,
  elapsed INTEGER,
  status TEXT NOT NULL,
  policy TEXT NOT NULL,
  client TEXT NOT NULL,
  schedule TEXT NOT NULL,
  schedule_type INTEGER,
  kbytes INTEGER,
  files INTEGER,
  stream INTEGER NOT NULL,
  digest INTEGER NOT NULL
);
CREATE INDEX jobs_started ON jobs (started, digest);
CREATE INDEX jobs_unsuccessful ON jobs (stream, started) WHERE status NOT IN ('0', '1');
CREATE TABLE streams (
  stream INTEGER PRIMARY KEY,
  policy TEXT NOT NULL,
  schedule TEXT NOT NULL,
  client TEXT NOT NULL,
  jobs INTEGER NOT NULL,
  last_job INTEGER,
  last_success INTEGER,
  stale INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX streams_policy ON streams (policy);
CREATE INDEX streams_stale ON streams (stream) WHERE stale;
)";

// What a row that joins a stream adds to the stream's values: one job, its
// start, and its start as the last success when it succeeded.
constexpr std::string_view kStreamGains = R"(
  INSERT INTO streams (stream, policy, schedule, client, jobs, last_job, last_success)
  VALUES (new.stream, new.policy, new.schedule, new.client, 1, new.started,
          CASE WHEN new.status IN ('0', '1') THEN new.started END)
  ON CONFLICT (stream) DO UPDATE SET
    jobs = jobs + 1,
    last_job = max(coalesce(last_job, excluded.last_job), excluded.last_job),
    last_success = coalesce(max(last_success, excluded.last_success), last_success,
                            excluded.last_success);
)";

constexpr std::string_view kRowRemoved = R"(
CREATE TRIGGER jobs_removed AFTER DELETE ON jobs BEGIN
  UPDATE streams SET
    jobs = jobs - 1,
    stale = stale OR last_job IS old.started
            OR (last_success IS old.started AND old.status IN ('0', '1'))
  WHERE stream = old.stream;
  DELETE FROM streams WHERE stream = old.stream AND jobs <= 0;
END;
)";

// A changed row leaves its old stream, then joins its new one (kStreamGains).
constexpr std::string_view kRowChangedFirst = R"(
CREATE TRIGGER jobs_changed AFTER UPDATE OF started, status, stream ON jobs BEGIN
  -- A job that finished where it started, or a later success, leaves the
  -- stream's values true; another change may not.
  UPDATE streams SET
    jobs = jobs - 1,
    stale = stale OR (NOT (new.stream = old.stream AND new.started >= old.started
                           AND (old.status NOT IN ('0', '1') OR new.status IN ('0', '1')))
                      AND (last_job IS old.started
                           OR (last_success IS old.started AND old.status IN ('0', '1'))))
  WHERE stream = old.stream;
)";

constexpr std::string_view kRowChangedLast = R"(
  DELETE FROM streams WHERE stream = old.stream AND jobs <= 0;
END;
)";

std::string schemaSql() {
    std::string sql(kTables);
    sql.append(kSucceededIndex);
    sql.append(kNightTables);
    sql.append("CREATE TRIGGER jobs_added AFTER INSERT ON jobs BEGIN").append(kStreamGains);
    sql.append("END;").append(kRowRemoved).append(kRowChangedFirst).append(kStreamGains);
    return sql.append(kRowChangedLast);
}

// The stale streams' values, counted anew from their rows in one pass.
constexpr std::string_view kRecount = R"(
UPDATE streams SET last_job = counted.last_job, last_success = counted.last_success, stale = 0
FROM (SELECT stream, max(started) AS last_job,
             max(CASE WHEN status IN ('0', '1') THEN started END) AS last_success
      FROM jobs WHERE stream IN (SELECT stream FROM streams WHERE stale) GROUP BY stream)
     AS counted
WHERE streams.stream = counted.stream;
)";

constexpr std::string_view kColumns =
    "job_id, started, ended, elapsed, status, policy, client, schedule, schedule_type, kbytes, "
    "files, stream, digest";
constexpr std::string_view kValues = "?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13";
constexpr std::string_view kReplaced =
    "started = excluded.started, ended = excluded.ended, elapsed = excluded.elapsed, "
    "status = excluded.status, policy = excluded.policy, client = excluded.client, "
    "schedule = excluded.schedule, schedule_type = excluded.schedule_type, "
    "kbytes = excluded.kbytes, files = excluded.files, stream = excluded.stream, "
    "digest = excluded.digest";

std::string insertSql(std::string_view condition) {
    std::string sql("INSERT INTO jobs (");
    sql.append(kColumns).append(") VALUES (").append(kValues);
    sql.append(") ON CONFLICT (job_id) DO UPDATE SET ").append(kReplaced);
    sql.append(condition);
    return sql;
}

// Today's new and changed lines wait in a table of the connection's own
// (in memory) and go into `jobs` in one statement: row by row, each
// statement with its triggers cost twice as much. A later line of the same
// job wins, as it would row by row.
constexpr std::string_view kStaging =
    "CREATE TEMP TABLE IF NOT EXISTS staged (job_id, started, ended, elapsed, status, policy, "
    "client, schedule, schedule_type, kbytes, files, stream, digest)";
std::string stageSql() {
    std::string sql("INSERT INTO temp.staged (");
    sql.append(kColumns).append(") VALUES (").append(kValues).append(")");
    return sql;
}
std::string flushSql() {
    std::string sql("INSERT INTO jobs (");
    sql.append(kColumns).append(") SELECT ").append(kColumns);
    // WHERE true: without it, SQLite would read ON CONFLICT as a join's ON.
    sql.append(" FROM temp.staged WHERE true ORDER BY rowid ON CONFLICT (job_id) DO UPDATE SET ");
    sql.append(kReplaced);
    return sql;
}

// FNV-1a: which of today's lines its row already holds, told apart by the
// texts the row was made from.
constexpr std::uint64_t kFnvOffset = 14695981039346656037ULL;
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;
std::uint64_t mix(std::uint64_t hash, std::string_view text) {
    for (const char byte : text) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= kFnvPrime;
    }
    hash ^= 0xFF;  // a byte no field text ends with, so fields cannot run together
    return hash * kFnvPrime;
}

std::uint64_t digestOf(const EdgeFields& fields) {
    std::uint64_t hash = kFnvOffset;
    hash = mix(hash, fields.at(kJobId));
    // Status to end, then kilobytes and files: each run side by side.
    hash = mix(hash, fieldRun(fields.at(kStatus), fields.at(kEnd)));
    hash = mix(hash, fieldRun(fields.at(kKilobytes), fields.at(kFiles)));
    return mix(hash, fields.at(kScheduleType));
}

void bindText(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

void bindNumber(sqlite3_stmt* statement, int index, double value) {
    constexpr double kLargestWhole = 9007199254740992.0;  // 2^53
    if (std::trunc(value) == value && std::fabs(value) <= kLargestWhole)
        sqlite3_bind_int64(statement, index, static_cast<sqlite3_int64>(value));
    else
        sqlite3_bind_double(statement, index, value);
}

// A number where the field holds one, nothing where it is blank (a job still
// running), and the text itself otherwise, so that nothing read is lost.
void bindField(sqlite3_stmt* statement, int index, std::string_view text) {
    if (trimBlanks(text).empty())
        sqlite3_bind_null(statement, index);
    else if (const std::optional<double> value = storedNumber(text))
        bindNumber(statement, index, *value);
    else
        bindText(statement, index, text);
}

std::optional<double> columnTime(sqlite3_stmt* statement, int column) {
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_double(statement, column);
}

// What the run's temporaries for a new history are called in its folder.
TemporaryNames newHistoryNames(const std::filesystem::path& file) {
    std::string stem(".");
    stem.append(file.filename().string()).append(".new-");
    return {std::move(stem), {}};
}

// The first bytes of `file`, read without SQLite, so that a file of another
// kind is known before anything could write to it.
std::string headerOf(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        throw Failure(FailureKind::IoError,
                      std::string("cannot be read (") + std::strerror(errno) + ")")
            .at(file.string());
    }
    std::array<char, kSqliteHeader.size()> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t part = ::read(descriptor, bytes.data() + got, bytes.size() - got);
        if (part < 0 && errno == EINTR)
            continue;
        if (part <= 0)
            break;
        got += static_cast<std::size_t>(part);
    }
    ::close(descriptor);
    return {bytes.data(), got};
}

// A number the column holds; nothing for a blank or a text.
std::optional<double> columnNumber(sqlite3_stmt* statement, int column) {
    const int type = sqlite3_column_type(statement, column);
    if (type != SQLITE_INTEGER && type != SQLITE_FLOAT)
        return std::nullopt;
    return sqlite3_column_double(statement, column);
}

std::string_view columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return {text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, column))};
}

}  // namespace

std::optional<double> storedNumber(std::string_view text) {
    const std::string_view number = trimBlanks(text);
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc{} || end != number.data() + number.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::int64_t streamKey(std::string_view policy, std::string_view schedule,
                       std::string_view client) {
    std::uint64_t hash = kFnvOffset;
    for (const std::string_view part :
         {policy, std::string_view(","), schedule, std::string_view(","), client}) {
        for (const char byte : part) {
            hash ^= static_cast<unsigned char>(byte);
            hash *= kFnvPrime;
        }
    }
    return static_cast<std::int64_t>(hash);
}

Statement::Statement(sqlite3* db, std::string_view sql, const std::filesystem::path& file) {
    if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &statement_, nullptr) != SQLITE_OK) {
        throw Failure(FailureKind::IoError,
                      std::string("cannot be read as a history: ") + sqlite3_errmsg(db))
            .at(file.string());
    }
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

Statement::Statement(Statement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    std::swap(statement_, other.statement_);
    return *this;
}

JobHistory::JobHistory(const std::filesystem::path& file, std::chrono::milliseconds patience)
    : file_(file) {
    try {
        open(patience);
    } catch (...) {
        // The destructor does not run for a constructor that threw; the
        // statements finalize as members, and close_v2 waits for them.
        sqlite3_close_v2(db_);
        throw;
    }
}

JobHistory::~JobHistory() {
    // Rolled back by hand, so that nothing waits for the next opener.
    if (inTransaction_)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
}

void JobHistory::fail(std::string_view doing) const {
    const int code = db_ ? sqlite3_errcode(db_) : SQLITE_ERROR;
    std::string detail(doing);
    detail += ": ";
    detail += db_ ? sqlite3_errmsg(db_) : "out of memory";
    const int primary = code & 0xFF;
    const FailureKind kind = primary == SQLITE_BUSY || primary == SQLITE_LOCKED
                                 ? FailureKind::Busy
                                 : FailureKind::IoError;
    throw Failure(kind, detail).at(file_.string());
}

void JobHistory::run(std::string_view sql, std::string_view doing) {
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(doing);
}

void JobHistory::step(Statement& statement, std::string_view doing) {
    const int result = sqlite3_step(statement.get());
    if (result != SQLITE_DONE && result != SQLITE_ROW) {
        sqlite3_reset(statement.get());
        fail(doing);
    }
}

void JobHistory::open(std::chrono::milliseconds patience) {
    struct stat status {};
    if (::stat(file_.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            throw Failure(FailureKind::IoError,
                          std::string("cannot be read (") + std::strerror(errno) + ")")
                .at(file_.string());
        }
        create();
    } else if (!S_ISREG(status.st_mode)) {
        throw Failure(FailureKind::InvalidArgument, "is not a regular file: not a Fennick history")
            .at(file_.string());
    } else if (headerOf(file_) != kSqliteHeader) {
        // An empty file included: it may be anybody's.
        throw Failure(FailureKind::InvalidArgument,
                      "is not an SQLite database: not a Fennick history; it was left as it is")
            .at(file_.string());
    } else {
        // A run killed between linking a new history into place and letting
        // go of its own name for it left that second name: it goes now.
        const std::filesystem::path folder =
            file_.has_parent_path() ? file_.parent_path() : std::filesystem::path(".");
        const TemporaryNames names = newHistoryNames(file_);
        removeLeftovers(folder, [&names](std::string_view name) { return names.matches(name); });
    }
    if (sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_EXRESCODE,
                        nullptr) != SQLITE_OK)
        fail("cannot be opened");
    sqlite3_busy_timeout(db_, static_cast<int>(patience.count()));
    check();
    // A night's rows touch pages all over the streams' table and the
    // indexes' ends; SQLite's default 2 MB cache would spill and read them
    // back tens of thousands of times. The cap keeps memory flat however
    // large the history grows.
    run("PRAGMA cache_size = -" + std::to_string(kHistoryCacheKiB), "cannot be read");
    // The staging table and the statement journals (the triggers write the
    // streams' table) stay in memory: on disk they are files in /var/tmp,
    // outside the folder, and were written twice a row.
    run("PRAGMA temp_store = MEMORY", "cannot be read");
    // Taken before reading, so that two folders sharing the history never
    // both write what they read before the other's commit.
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if ((sqlite3_errcode(db_) & 0xFF) == SQLITE_BUSY) {
            const long long waited = patience.count();
            std::string detail("is held by another process; gave up after waiting ");
            detail += waited % 1000 == 0 ? std::to_string(waited / 1000) + " s"
                                         : std::to_string(waited) + " ms";
            throw Failure(FailureKind::Busy, detail).at(file_.string());
        }
        fail("cannot be written");
    }
    inTransaction_ = true;
    run(kSucceededIndex, "cannot be written");
    run(kNightTables, "cannot be written");
    prepare();
}

// The staged rows into `jobs`: before anything reads or removes rows.
void JobHistory::flush() {
    if (staged_ == 0)
        return;
    step(flush_, "cannot be written");
    sqlite3_reset(flush_.get());
    const auto changed = static_cast<std::size_t>(sqlite3_changes(db_));
    recorded_ += changed;
    mayBeStale_ = mayBeStale_ || changed > 0;
    step(clear_, "cannot be written");
    sqlite3_reset(clear_.get());
    staged_ = 0;
}

// Before the streams answer: the rows this run wrote may have marked some
// stale (a success that today's line calls failed), and the answers must
// already be those of today's lines.
void JobHistory::recountStale() {
    flush();
    if (!mayBeStale_)
        return;
    step(anyStale_, "cannot be read");
    const bool stale = sqlite3_data_count(anyStale_.get()) > 0;
    sqlite3_reset(anyStale_.get());
    if (stale)
        run(kRecount, "cannot be written");
    mayBeStale_ = false;
}

// Read only: a database of another program's, or of a newer Fennick, is
// never written.
void JobHistory::check() {
    Statement application(db_, "PRAGMA application_id", file_);
    step(application, "cannot be read");
    const auto id = static_cast<std::int32_t>(sqlite3_column_int(application.get(), 0));
    Statement version(db_, "PRAGMA user_version", file_);
    step(version, "cannot be read");
    const int found = sqlite3_column_int(version.get(), 0);
    if (id != kHistoryApplicationId || found < 1) {
        throw Failure(FailureKind::InvalidArgument,
                      "is an SQLite database of another program: not a Fennick history; it was "
                      "left as it is")
            .at(file_.string());
    }
    if (found > kHistoryVersion) {
        throw Failure(FailureKind::InvalidArgument,
                      "is a history of a newer Fennick (version " + std::to_string(found) +
                          "; this one writes version " + std::to_string(kHistoryVersion) +
                          "): it was left as it is")
            .at(file_.string());
    }
}

// The whole schema is made under a name of this run's own and then linked to
// the path, so that the path never holds half a history, and a file that
// another run made there meanwhile is kept.
void JobHistory::create() {
    const std::filesystem::path folder =
        file_.has_parent_path() ? file_.parent_path() : std::filesystem::path(".");
    const TemporaryNames names = newHistoryNames(file_);
    removeLeftovers(folder, [&names](std::string_view name) { return names.matches(name); });
    std::string pattern = (folder / names.stem).string() + "XXXXXX";
    const int descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor < 0) {
        throw Failure(FailureKind::CannotCreate,
                      std::string("cannot be created (") + std::strerror(errno) + ")")
            .at(file_.string());
    }
    // Held while it is made, so that another run's clean-up leaves it.
    ::flock(descriptor, LOCK_EX);
    // What a new file gets: the folder's owner decides through the umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(descriptor, 0666 & ~mask);
    const std::filesystem::path temporary(pattern);
    sqlite3* made = nullptr;
    std::string problem;
    if (sqlite3_open_v2(temporary.c_str(), &made, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        problem = made ? sqlite3_errmsg(made) : "out of memory";
    } else {
        // No journal beside the temporary: a run killed while making it
        // would leave one that no later run knows as its own. Nothing needs
        // rolling back here, as an unfinished file is never linked.
        std::string sql("PRAGMA journal_mode = OFF;BEGIN;");
        sql.append(schemaSql());
        sql.append("PRAGMA application_id = " + std::to_string(kHistoryApplicationId) + ";");
        sql.append("PRAGMA user_version = " + std::to_string(kHistoryVersion) + ";COMMIT;");
        if (sqlite3_exec(made, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            problem = sqlite3_errmsg(made);
    }
    sqlite3_close(made);
    if (problem.empty() && ::fsync(descriptor) != 0)
        problem = std::strerror(errno);
    if (problem.empty() && ::link(temporary.c_str(), file_.c_str()) != 0 && errno != EEXIST)
        problem = std::strerror(errno);
    ::unlink(temporary.c_str());
    ::close(descriptor);
    if (!problem.empty()) {
        throw Failure(FailureKind::CannotCreate, "cannot be created (" + problem + ")")
            .at(file_.string());
    }
    syncDirectory(folder);
}

void JobHistory::prepare() {
    run(kStaging, "cannot be written");
    stage_ = Statement(db_, stageSql(), file_);
    flush_ = Statement(db_, flushSql(), file_);
    clear_ = Statement(db_, "DELETE FROM temp.staged", file_);
    replaceRunning_ =
        Statement(db_, insertSql(" WHERE jobs.status = '' AND excluded.status <> ''"), file_);
    lastSuccess_ = Statement(db_, "SELECT last_success FROM streams WHERE stream = ?1", file_);
    failedSince_ = Statement(db_,
                             "SELECT started, status FROM jobs WHERE stream = ?1 AND status NOT "
                             "IN ('0', '1') AND started > ?2 AND started <= ?3",
                             file_);
    failedAll_ = Statement(db_,
                           "SELECT started, status FROM jobs WHERE stream = ?1 AND status NOT IN "
                           "('0', '1') AND started <= ?2",
                           file_);
    policyLast_ = Statement(
        db_, "SELECT max(last_job), max(last_success) FROM streams WHERE policy = ?1", file_);
    knownSince_ = Statement(db_, "SELECT MIN(started) FROM jobs", file_);
    count_ = Statement(db_, "SELECT coalesce(sum(jobs), 0) FROM streams", file_);
    // The streams' values that the removal takes are let go first, so that
    // no removed row asks for a recount.
    forget_ = Statement(db_,
                        "UPDATE streams SET last_success = CASE WHEN last_success < ?1 THEN NULL "
                        "ELSE last_success END, last_job = CASE WHEN last_job < ?1 THEN NULL ELSE "
                        "last_job END WHERE last_job < ?1 OR last_success < ?1",
                        file_);
    remove_ = Statement(db_, "DELETE FROM jobs WHERE started < ?1", file_);
    digests_ = Statement(db_, "SELECT digest FROM jobs WHERE started >= ?1", file_);
    anyStale_ = Statement(db_, "SELECT 1 FROM streams WHERE stale LIMIT 1", file_);
    policyStreams_ = Statement(
        db_, "SELECT stream, last_job, last_success FROM streams WHERE policy = ?1", file_);
    successes_ = Statement(db_,
                           "SELECT status, kbytes, elapsed FROM jobs WHERE stream = ?1 AND status "
                           "IN ('0', '1') AND started < ?2 ORDER BY started DESC",
                           file_);
    newestSuccess_ = Statement(db_,
                               "SELECT max(started) FROM jobs WHERE stream = ?1 AND status IN "
                               "('0', '1') AND started <= ?2",
                               file_);
    keptNight_ = Statement(db_,
                           "SELECT night, start, end, jobs, failed, kbytes FROM nights WHERE "
                           "closed = ?3 AND start BETWEEN ?1 - 3600 AND ?1 + 3600 AND end BETWEEN "
                           "?2 - 3600 AND ?2 + 3600 ORDER BY abs(start - ?1) + abs(end - ?2)",
                           file_);
    anyStarted_ =
        Statement(db_, "SELECT 1 FROM jobs WHERE started >= ?1 AND started <= ?2 LIMIT 1", file_);
    forgetNight_ = Statement(db_, "DELETE FROM nights WHERE night = ?1", file_);
    keptPolicies_ =
        Statement(db_, "SELECT policy, state FROM night_policies WHERE night = ?1", file_);
    nightRows_ = Statement(db_,
                           "SELECT stream, policy, started, status, kbytes FROM jobs WHERE started "
                           ">= ?1 AND started <= ?2",
                           file_);
    keepNight_ = Statement(db_,
                           "INSERT INTO nights (start, end, closed, jobs, failed, kbytes) VALUES "
                           "(?1, ?2, ?3, ?4, ?5, ?6)",
                           file_);
    keepPolicy_ = Statement(
        db_, "INSERT INTO night_policies (night, policy, state) VALUES (?1, ?2, ?3)", file_);
    forgetNights_ = Statement(db_, "DELETE FROM nights WHERE end < ?1", file_);
    streamFailures_ = Statement(db_,
                                "SELECT started, status FROM jobs WHERE stream = ?1 AND status NOT "
                                "IN ('0', '1') AND started >= ?2 AND started <= ?3",
                                file_);
    streamSuccesses_ = Statement(db_,
                                 "SELECT started, status FROM jobs WHERE stream = ?1 AND status IN "
                                 "('0', '1') AND started >= ?2 AND started <= ?3",
                                 file_);
    newestOther_ = Statement(db_,
                             "SELECT max(started) FROM jobs WHERE stream = ?1 AND status NOT IN "
                             "('0', '1') AND started <= ?2",
                             file_);
}

void JobHistory::compareSince(double since) {
    sqlite3_stmt* statement = digests_.get();
    sqlite3_bind_double(statement, 1, since);
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW)
        known_.push_back(static_cast<std::uint64_t>(sqlite3_column_int64(statement, 0)));
    sqlite3_reset(statement);
    if (result != SQLITE_DONE)
        fail("cannot be read");
    // A sorted array, not a hash set: a week's digests are hundreds of
    // thousands, which a node-based set allocates, chases and frees one by one.
    std::sort(known_.begin(), known_.end());
}

void JobHistory::write(const EdgeFields& fields, double start, Statement& statement) {
    sqlite3_stmt* insert = statement.get();
    bindText(insert, 1, fields.at(kJobId));
    bindNumber(insert, 2, start);
    bindField(insert, 3, fields.at(kEnd));
    bindField(insert, 4, fields.at(kElapsed));
    bindText(insert, 5, fields.at(kStatus));
    bindText(insert, 6, fields.at(kPolicy));
    bindText(insert, 7, fields.at(kClient));
    bindText(insert, 8, fields.at(kSchedule));
    bindField(insert, 9, fields.at(kScheduleType));
    bindField(insert, 10, fields.at(kKilobytes));
    bindField(insert, 11, fields.at(kFiles));
    sqlite3_bind_int64(insert, 12,
                       streamKey(fields.at(kPolicy), fields.at(kSchedule), fields.at(kClient)));
    sqlite3_bind_int64(insert, 13, static_cast<sqlite3_int64>(digestOf(fields)));
    step(statement, "cannot be written");
    sqlite3_reset(insert);
}

void JobHistory::record(const EdgeFields& fields, double start) {
    if (std::binary_search(known_.begin(), known_.end(), digestOf(fields)))
        return;
    write(fields, start, stage_);
    if (++staged_ >= kHistoryStagedRows)
        flush();
}

void JobHistory::recordOlder(const EdgeFields& fields, double start) {
    flush();
    write(fields, start, replaceRunning_);
    const auto changed = static_cast<std::size_t>(sqlite3_changes(db_));
    recorded_ += changed;
    mayBeStale_ = mayBeStale_ || changed > 0;
}

std::optional<double> JobHistory::lastSuccess(const JobStream& stream) {
    recountStale();
    sqlite3_stmt* statement = lastSuccess_.get();
    sqlite3_bind_int64(statement, 1, streamKey(stream.policy, stream.schedule, stream.client));
    step(lastSuccess_, "cannot be read");
    const std::optional<double> found =
        sqlite3_data_count(statement) > 0 ? columnTime(statement, 0) : std::nullopt;
    sqlite3_reset(statement);
    return found;
}

FailedRun JobHistory::failedSince(const JobStream& stream, std::optional<double> after,
                                  double until) {
    flush();
    Statement& query = after ? failedSince_ : failedAll_;
    sqlite3_stmt* statement = query.get();
    sqlite3_bind_int64(statement, 1, streamKey(stream.policy, stream.schedule, stream.client));
    if (after) {
        sqlite3_bind_double(statement, 2, *after);
        sqlite3_bind_double(statement, 3, until);
    } else {
        sqlite3_bind_double(statement, 2, until);
    }
    FailedRun failed;
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto* status = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        const int size = sqlite3_column_bytes(statement, 1);
        // The index holds the jobs still running too.
        if (!isFailed(std::string_view(status ? status : "", static_cast<std::size_t>(size))))
            continue;
        const double started = sqlite3_column_double(statement, 0);
        ++failed.count;
        if (!failed.earliest || started < *failed.earliest)
            failed.earliest = started;
    }
    sqlite3_reset(statement);
    if (result != SQLITE_DONE)
        fail("cannot be read");
    return failed;
}

PolicyLast JobHistory::policyLast(std::string_view policy) {
    recountStale();
    sqlite3_stmt* statement = policyLast_.get();
    bindText(statement, 1, policy);
    step(policyLast_, "cannot be read");
    PolicyLast last;
    if (sqlite3_data_count(statement) > 0) {
        last.job = columnTime(statement, 0);
        last.success = columnTime(statement, 1);
    }
    sqlite3_reset(statement);
    return last;
}

std::optional<double> JobHistory::newestUpTo(std::int64_t stream, double until, bool successOnly) {
    Statement& query = successOnly ? newestSuccess_ : newestOther_;
    sqlite3_bind_int64(query.get(), 1, stream);
    sqlite3_bind_double(query.get(), 2, until);
    step(query, "cannot be read");
    const std::optional<double> found = columnTime(query.get(), 0);
    sqlite3_reset(query.get());
    return found;
}

PolicyLast JobHistory::policyLastUpTo(std::string_view policy, double until) {
    recountStale();
    struct Stream {
        std::int64_t key;
        std::optional<double> job, success;
    };
    std::vector<Stream> streams;
    sqlite3_stmt* statement = policyStreams_.get();
    bindText(statement, 1, policy);
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        streams.push_back({sqlite3_column_int64(statement, 0), columnTime(statement, 1),
                           columnTime(statement, 2)});
    }
    sqlite3_reset(statement);
    if (result != SQLITE_DONE)
        fail("cannot be read");
    const auto newer = [](std::optional<double>& kept, std::optional<double> found) {
        if (found && (!kept || *found > *kept))
            kept = found;
    };
    // The streams' own values answer unless a job started after `until`:
    // then the indexes of successes and of the rest do.
    PolicyLast last;
    for (const Stream& stream : streams) {
        std::optional<double> success = stream.success;
        if (success && *success > until)
            success = newestUpTo(stream.key, until, true);
        newer(last.success, success);
        if (stream.job && *stream.job <= until) {
            newer(last.job, stream.job);
        } else {
            newer(last.job, success);
            newer(last.job, newestUpTo(stream.key, until, false));
        }
    }
    return last;
}

std::vector<JobSize> JobHistory::successesBefore(std::int64_t stream, double before,
                                                 std::size_t count) {
    flush();
    std::vector<JobSize> found;
    sqlite3_stmt* statement = successes_.get();
    sqlite3_bind_int64(statement, 1, stream);
    sqlite3_bind_double(statement, 2, before);
    int result = SQLITE_ROW;
    while (found.size() < count && (result = sqlite3_step(statement)) == SQLITE_ROW) {
        if (columnText(statement, 0) != "0")
            continue;
        const std::optional<double> kbytes = columnNumber(statement, 1);
        const std::optional<double> elapsed = columnNumber(statement, 2);
        if (kbytes && elapsed)
            found.push_back({*kbytes, *elapsed});
    }
    sqlite3_reset(statement);
    if (result != SQLITE_DONE && result != SQLITE_ROW)
        fail("cannot be read");
    return found;
}

std::optional<NightSummary> JobHistory::keptNight(const Night& night, int closed) {
    struct Kept {
        sqlite3_int64 id = 0;
        Night bounds;
        NightTotals totals;
    };
    std::vector<Kept> candidates;
    sqlite3_stmt* kept = keptNight_.get();
    sqlite3_bind_double(kept, 1, night.start);
    sqlite3_bind_double(kept, 2, night.end);
    sqlite3_bind_int(kept, 3, closed);
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(kept)) == SQLITE_ROW) {
        candidates.push_back({sqlite3_column_int64(kept, 0),
                              {sqlite3_column_double(kept, 1), sqlite3_column_double(kept, 2)},
                              {static_cast<std::size_t>(sqlite3_column_int64(kept, 3)),
                               static_cast<std::size_t>(sqlite3_column_int64(kept, 4)),
                               sqlite3_column_double(kept, 5)}});
    }
    sqlite3_reset(kept);
    if (result != SQLITE_DONE)
        fail("cannot be read");
    // Nights of an earlier run that began and ended a little apart (a run
    // started by the clock a few seconds later) held the same jobs when no
    // job started between the two starts nor between the two ends.
    const auto noJobBetween = [this](double a, double b) {
        if (a == b)
            return true;
        sqlite3_stmt* any = anyStarted_.get();
        sqlite3_bind_double(any, 1, std::min(a, b));
        sqlite3_bind_double(any, 2, std::max(a, b));
        step(anyStarted_, "cannot be read");
        const bool none = sqlite3_data_count(any) == 0;
        sqlite3_reset(any);
        return none;
    };
    for (const Kept& candidate : candidates) {
        if (!noJobBetween(candidate.bounds.start, night.start) ||
            !noJobBetween(candidate.bounds.end, night.end))
            continue;
        NightSummary summary;
        summary.totals = candidate.totals;
        sqlite3_stmt* policies = keptPolicies_.get();
        sqlite3_bind_int64(policies, 1, candidate.id);
        bool whole = true;
        while ((result = sqlite3_step(policies)) == SQLITE_ROW) {
            const int state = sqlite3_column_int(policies, 1);
            // A state this program does not know (a hand's edit, a later
            // version's) is no answer: the night is counted anew.
            if (state < static_cast<int>(NightState::Unknown) ||
                state > static_cast<int>(NightState::Failed)) {
                whole = false;
                continue;
            }
            summary.policies.emplace(columnText(policies, 0), static_cast<NightState>(state));
        }
        sqlite3_reset(policies);
        if (result != SQLITE_DONE)
            fail("cannot be read");
        if (!whole) {
            sqlite3_bind_int64(forgetNight_.get(), 1, candidate.id);
            step(forgetNight_, "cannot be written");
            sqlite3_reset(forgetNight_.get());
            continue;
        }
        return summary;
    }
    return std::nullopt;
}

NightSummary JobHistory::night(std::span<const Night> nights, std::size_t index) {
    flush();
    const Night& night = nights[index];
    const int closed = index == 0 ? 1 : 0;
    if (std::optional<NightSummary> kept = keptNight(night, closed))
        return std::move(*kept);
    NightSummary summary;
    NightSummer summer;
    sqlite3_stmt* rows = nightRows_.get();
    sqlite3_bind_double(rows, 1, night.start);
    sqlite3_bind_double(rows, 2, night.end);
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(rows)) == SQLITE_ROW) {
        const double started = sqlite3_column_double(rows, 2);
        if (!closed && started >= night.end)
            continue;
        summer.add(sqlite3_column_int64(rows, 0), columnText(rows, 1), started,
                   jobStatus(columnText(rows, 3)), columnNumber(rows, 4));
    }
    sqlite3_reset(rows);
    if (result != SQLITE_DONE)
        fail("cannot be read");
    summary = summer.take();
    sqlite3_stmt* keep = keepNight_.get();
    sqlite3_bind_double(keep, 1, night.start);
    sqlite3_bind_double(keep, 2, night.end);
    sqlite3_bind_int(keep, 3, closed);
    bindNumber(keep, 4, static_cast<double>(summary.totals.jobs));
    bindNumber(keep, 5, static_cast<double>(summary.totals.failed));
    sqlite3_bind_double(keep, 6, summary.totals.kbytes);
    step(keepNight_, "cannot be written");
    sqlite3_reset(keep);
    const sqlite3_int64 id = sqlite3_last_insert_rowid(db_);
    sqlite3_stmt* policy = keepPolicy_.get();
    for (const auto& [name, state] : summary.policies) {
        sqlite3_bind_int64(policy, 1, id);
        bindText(policy, 2, name);
        sqlite3_bind_int(policy, 3, static_cast<int>(state));
        step(keepPolicy_, "cannot be written");
        sqlite3_reset(policy);
    }
    return summary;
}

void JobHistory::forgetNightsBefore(double start) {
    sqlite3_bind_double(forgetNights_.get(), 1, start);
    step(forgetNights_, "cannot be written");
    sqlite3_reset(forgetNights_.get());
}

NightStates JobHistory::streamNights(std::int64_t stream, std::span<const Night> nights,
                                     const Window& window, std::optional<double> knownSince) {
    flush();
    StreamNights cells(nights.size());
    for (Statement* query : {&streamFailures_, &streamSuccesses_}) {
        sqlite3_stmt* statement = query->get();
        sqlite3_bind_int64(statement, 1, stream);
        sqlite3_bind_double(statement, 2, nights.back().start);
        sqlite3_bind_double(statement, 3, window.EndEpoch);
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            const double started = sqlite3_column_double(statement, 0);
            if (const auto index = nightIndex(window, started, nights.size()))
                cells.add(*index, started, jobStatus(columnText(statement, 1)));
        }
        sqlite3_reset(statement);
        if (result != SQLITE_DONE)
            fail("cannot be read");
    }
    return cells.states(nights, knownSince);
}

std::optional<double> JobHistory::knownSince() {
    flush();
    step(knownSince_, "cannot be read");
    const std::optional<double> since = columnTime(knownSince_.get(), 0);
    sqlite3_reset(knownSince_.get());
    return since;
}

std::size_t JobHistory::jobs() {
    flush();
    step(count_, "cannot be read");
    const auto rows = static_cast<std::size_t>(sqlite3_column_int64(count_.get(), 0));
    sqlite3_reset(count_.get());
    return rows;
}

std::size_t JobHistory::removeStartedBefore(double start) {
    flush();
    sqlite3_bind_double(forget_.get(), 1, start);
    step(forget_, "cannot be written");
    sqlite3_reset(forget_.get());
    sqlite3_bind_double(remove_.get(), 1, start);
    step(remove_, "cannot be written");
    sqlite3_reset(remove_.get());
    const auto removed = static_cast<std::size_t>(sqlite3_changes(db_));
    mayBeStale_ = mayBeStale_ || removed > 0;
    return removed;
}

void JobHistory::commit() {
    flush();
    run("COMMIT", "cannot be written");
    inTransaction_ = false;
}

}  // namespace fennick
