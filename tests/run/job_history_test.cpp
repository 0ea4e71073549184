// The history file under faults: whatever lies at its path that is not a
// history of ours, another process holding it, a full file system, a run
// killed half-way, two runs at once. The report's findings go on from the
// dump alone, and the file is never left changed or half-written.
#include "run/job_history.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/file_names.h"
#include "run/remembered_findings.h"
#include "run/run_fixture.h"
#include "support/dump_line.h"
#include "support/memory_stream.h"
#include "support/special_files.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono_literals;
using std::filesystem::path;
using test::failureOf;
using test::kWindowStart;
using test::TempDir;

constexpr int kLookback = 7;
const Window kToday{kWindowStart, kWindowStart + 86400.0};

// `count` window jobs newest first, ids `prefix`1 up, over 40 clients, every
// seventh failed.
std::string jobs(const std::string& prefix, int count) {
    std::string text;
    for (int i = count; i >= 1; --i) {
        std::string id(prefix);
        id.append(std::to_string(i));
        std::string client("client");
        client.append(std::to_string(i % 40));
        text += test::dumpLine({.id = id,
                                .start = kWindowStart + i * 10LL,
                                .status = i % 7 == 0 ? "13" : "0",
                                .client = client});
    }
    return text;
}

std::set<std::string> idsOf(const std::string& dump) {
    std::set<std::string> ids;
    for (std::size_t line = 0; line < dump.size(); line = dump.find('\n', line) + 1)
        ids.insert(dump.substr(line, dump.find(',', line) - line));
    return ids;
}

struct Night {
    Findings findings;
    HistoryState state;
};

Night run(const path& file, std::string dump, std::chrono::milliseconds patience = 10s) {
    Night night;
    LineReader reader(test::readingFrom(dump), kDumpFile, false);
    night.findings = findRemembering(reader, kToday, {}, kLookback,
                                     {.file = file, .patience = patience}, night.state);
    return night;
}

// The findings as a run without a history makes them: the dump's lines are
// then all the known jobs, the nights' included.
Findings alone(std::string dump) {
    LineReader reader(test::readingFrom(dump), kDumpFile, false);
    return findRecalling(reader, kToday, {}, kLookback, RecallRequest{}, nullptr, nullptr);
}

bool sameFindings(const Findings& a, const Findings& b) {
    return a.failing == b.failing && a.notFound == b.notFound && a.recovered == b.recovered &&
           a.dailyLastSuccess == b.dailyLastSuccess && a.knownSince == b.knownSince &&
           a.counts == b.counts && a.nights == b.nights && a.nightTotals == b.nightTotals &&
           a.dailyNights == b.dailyNights && a.intervals == b.intervals &&
           a.suspicious == b.suspicious;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A connection of the test's own, as an operator's query or another program.
class Connection {
  public:
    // Opens only what is there, unless asked to create.
    explicit Connection(const path& file, int create = 0) {
        sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | create, nullptr);
    }
    ~Connection() { sqlite3_close(db_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool exec(const std::string& sql) {
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    std::set<std::string> ids() {
        std::set<std::string> ids;
        sqlite3_stmt* query = nullptr;
        sqlite3_prepare_v2(db_, "SELECT job_id FROM jobs", -1, &query, nullptr);
        while (sqlite3_step(query) == SQLITE_ROW)
            ids.insert(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)));
        sqlite3_finalize(query);
        return ids;
    }
    int number(const std::string& sql) {
        sqlite3_stmt* query = nullptr;
        sqlite3_prepare_v2(db_, sql.c_str(), -1, &query, nullptr);
        const int value = sqlite3_step(query) == SQLITE_ROW ? sqlite3_column_int(query, 0) : -1;
        sqlite3_finalize(query);
        return value;
    }

  private:
    sqlite3* db_ = nullptr;
};

// Overwrites the page where `object`'s b-tree begins.
void damageRootOf(const path& file, const std::string& object) {
    int page = 0, size = 0;
    {
        Connection db(file);
        page = db.number("SELECT rootpage FROM sqlite_schema WHERE name = '" + object + "'");
        size = db.number("PRAGMA page_size");
    }
    std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
    bytes.seekp(static_cast<std::streamoff>(page - 1) * size);
    bytes << std::string(static_cast<std::size_t>(size), '\xA5');
}

struct Foreign {
    const char* name;
    void (*make)(const TempDir& dir, const path& file);
    const char* reason;
};

TEST(JobHistoryFile, AnythingButAHistoryOfOursIsLeftByteForByte) {
    const Foreign cases[] = {
        {"a text file",
         [](const TempDir& dir, const path&) {
             dir.write(kHistoryFile, "job_id,status\r\n1,0\r\n");
         },
         "is not an SQLite database"},
        {"an empty file", [](const TempDir& dir, const path&) { dir.write(kHistoryFile, ""); },
         "is not an SQLite database"},
        {"another program's database",
         [](const TempDir&, const path& file) {
             Connection(file, SQLITE_OPEN_CREATE)
                 .exec("CREATE TABLE jobs (job_id TEXT); INSERT INTO jobs VALUES (1)");
         },
         "another program"},
        {"our mark without a version",
         [](const TempDir&, const path& file) {
             Connection(file, SQLITE_OPEN_CREATE)
                 .exec("PRAGMA application_id = " + std::to_string(kHistoryApplicationId) +
                       "; CREATE TABLE t (x)");
         },
         "another program"},
        {"a newer history",
         [](const TempDir&, const path& file) {
             run(file, jobs("a", 3));
             Connection(file).exec("PRAGMA user_version = 2");
         },
         "newer Fennick (version 2"},
        {"a damaged table",
         [](const TempDir&, const path& file) {
             run(file, jobs("a", 400));
             damageRootOf(file, "jobs");
         },
         "malformed"},
        {"a damaged index",
         [](const TempDir&, const path& file) {
             run(file, jobs("a", 400));
             damageRootOf(file, "jobs_started");
         },
         "malformed"},
    };
    for (const Foreign& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        const path file = dir.file(kHistoryFile);
        c.make(dir, file);
        const auto before = dir.snapshot();
        const std::string dump = jobs("b", 30);

        const Night night = run(file, dump);

        EXPECT_TRUE(contains(night.state.error, c.reason)) << night.state.error;
        EXPECT_TRUE(contains(night.state.error, file.string())) << night.state.error;
        EXPECT_FALSE(night.state.jobs);
        EXPECT_TRUE(sameFindings(night.findings, alone(dump)));
        EXPECT_EQ(dir.snapshot(), before) << "the file was changed, or something left beside it";
    }
}

TEST(JobHistoryFile, WhatIsNotARegularFileIsRefusedAtOnceAndLeft) {
    std::vector<test::SpecialFile> kinds(std::begin(test::kSpecialFiles),
                                         std::end(test::kSpecialFiles));
    kinds.push_back({"a link to /dev/null", [](const path& file) {
                         std::filesystem::create_symlink("/dev/null", file);
                         return true;
                     }});
    for (const test::SpecialFile& kind : kinds) {
        SCOPED_TRACE(kind.kind);
        const TempDir dir;
        const path file = dir.file(kHistoryFile);
        ASSERT_TRUE(kind.make(file));
        const auto type = std::filesystem::symlink_status(file).type();

        const auto failure = test::failureWithin([file] { const JobHistory history(file); });
        const std::string dump = jobs("b", 5);
        const Night night = run(file, dump);

        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::InvalidArgument) << failure->what();
        EXPECT_TRUE(contains(night.state.error, "is not a regular file")) << night.state.error;
        EXPECT_TRUE(sameFindings(night.findings, alone(dump)));
        EXPECT_EQ(std::filesystem::symlink_status(file).type(), type);
        EXPECT_EQ(dir.names(), std::set<std::string>{std::string(kHistoryFile)});
        EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    }
}

TEST(JobHistoryLock, AHistoryHeldElsewhereIsBusyAfterThePatienceAndUsedOnceReleased) {
    const TempDir dir;
    const path file = dir.file(kHistoryFile);
    ASSERT_TRUE(run(file, jobs("a", 3)).state.used());
    Connection holder(file);
    ASSERT_TRUE(holder.exec("BEGIN IMMEDIATE"));

    const auto failure = failureOf([&] { const JobHistory history(file, 200ms); });
    const auto started = std::chrono::steady_clock::now();
    const Night refused = run(file, jobs("b", 3), 200ms);
    const auto waited = std::chrono::steady_clock::now() - started;

    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::Busy) << failure->what();
    EXPECT_TRUE(contains(refused.state.error, "held by another process")) << refused.state.error;
    EXPECT_TRUE(contains(refused.state.error, file.string())) << refused.state.error;
    EXPECT_TRUE(sameFindings(refused.findings, alone(jobs("b", 3))));
    EXPECT_GE(waited, 190ms);
    EXPECT_LT(waited, 3s);

    // Let go while a run waits: the run goes on within its patience.
    std::thread release([&] {
        std::this_thread::sleep_for(300ms);
        holder.exec("ROLLBACK");
    });
    const Night waiting = run(file, jobs("c", 3), 10s);
    release.join();
    EXPECT_TRUE(waiting.state.used()) << waiting.state.error;
    EXPECT_EQ(waiting.state.jobs, 6u);
    EXPECT_EQ(holder.ids(), idsOf(jobs("a", 3) + jobs("c", 3)));
}

// The table is the operators' to query, and to mend: what the next run
// reads is the rows as they left them.
TEST(JobHistoryFile, TheNextRunReadsTheRowsAsAnOperatorChangedThem) {
    const TempDir dir;
    const path file = dir.file(kHistoryFile);
    std::string dump;
    for (const int second : {300, 200, 100}) {
        std::string id("s");
        id.append(std::to_string(second));
        dump += test::dumpLine({.id = id, .start = kWindowStart + second});
    }
    ASSERT_TRUE(run(file, dump).state.used());
    ASSERT_TRUE(Connection(file).exec(
        "DELETE FROM jobs WHERE job_id = 's300'; UPDATE jobs SET status = '13' WHERE job_id = "
        "'s200'"));

    const Night next =
        run(file, test::dumpLine({.id = "f", .start = kWindowStart + 400, .status = "13"}));

    ASSERT_TRUE(next.state.used()) << next.state.error;
    ASSERT_EQ(next.findings.failing.size(), 1u);
    const FailingStream& stream = next.findings.failing[0];
    EXPECT_EQ(stream.lastSuccess, kWindowStart + 100.0);
    EXPECT_EQ(stream.failingSince, kWindowStart + 200.0);
    EXPECT_EQ(stream.failedSinceSuccess, 2u);
    EXPECT_EQ(next.state.jobs, 3u);
}

// What a forked child found wrong, handed back through a pipe.
class ChildChecks {
  public:
    explicit ChildChecks(int out) : out_(out) {}
    void expect(bool ok, const std::string& what) {
        if (ok)
            return;
        const std::string line = what + "\n";
        [[maybe_unused]] const ssize_t written = ::write(out_, line.data(), line.size());
    }

  private:
    int out_;
};

constexpr int kCannotMount = 77;

// Runs `body` in a child with a mount namespace of its own; its complaints,
// or nothing when it could not mount (not root, or no namespace allowed).
template <class Body>
std::optional<std::string> inOwnMounts(Body body) {
    int pipe[2];
    if (::pipe(pipe) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(kCannotMount);
        ChildChecks checks(pipe[1]);
        ::_exit(body(checks));
    }
    ::close(pipe[1]);
    std::string complaints;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        complaints.append(buffer, static_cast<std::size_t>(got));
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotMount)
        return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        complaints += "the child did not end normally\n";
    return complaints;
}

TEST(JobHistoryFullDisk, NoSpaceLeavesTheRowsBeforeAndANewHistoryIsNotLeftHalfMade) {
    const TempDir dir;
    const path small = dir.file("small");
    std::filesystem::create_directory(small);
    const auto complaints = inOwnMounts([&small](ChildChecks& checks) {
        if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0)
            return kCannotMount;
        const path file = small / kHistoryFile;
        const Night first = run(file, jobs("a", 20));
        checks.expect(first.state.used(), "the first night: " + first.state.error);
        const std::set<std::string> before = Connection(file).ids();

        // Found full at the commit, and already while recording once the
        // rows outgrow SQLite's page cache.
        for (const int count : {4000, 20000}) {
            const std::string big = jobs("b", count);
            const Night full = run(file, big);
            const std::string night = std::to_string(count) + " jobs: ";
            checks.expect(contains(full.state.error, "full"), night + full.state.error);
            checks.expect(contains(full.state.error, file.string()), night + full.state.error);
            checks.expect(sameFindings(full.findings, alone(big)),
                          night + "not the dump's findings");
            checks.expect(Connection(file).ids() == before, night + "the rows before changed");
        }
        const Night after = run(file, jobs("c", 5));
        checks.expect(after.state.used() && after.state.jobs == before.size() + 5,
                      "the night after: " + after.state.error);

        // No room for even a new history's first pages.
        std::filesystem::create_directory(small / "fresh");
        {
            std::ofstream filler(small / "filler", std::ios::binary);
            const std::string block(4096, 'x');
            while (filler.write(block.data(), block.size()))
                filler.flush();
        }
        const path fresh = small / "fresh" / kHistoryFile;
        const auto made = failureOf([&] { const JobHistory history(fresh); });
        checks.expect(
            made && made->kind() == FailureKind::CannotCreate && contains(made->what(), "full"),
            made ? made->what() : "a history was made on a full disk");
        checks.expect(std::filesystem::is_empty(small / "fresh"), "something was left behind");
        return 0;
    });
    if (!complaints)
        GTEST_SKIP() << "this process cannot mount a small file system of its own";
    EXPECT_EQ(*complaints, "");
}

pid_t runInChild(const path& file, const std::string& dump) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(run(file, dump).state.used() ? 0 : 1);
    return child;
}

// Random times within one whole run of `dump` at `file`, timed here; fixed
// in their order, so that a failing round comes again. While the timed run
// goes on, its folder is looked at: the kills fall over the whole run, and
// as often again around the moments when it held more than the history (a
// file in the making, a journal), which a slow build (a sanitizer's) makes a
// small part of the run.
class KillTimes {
  public:
    KillTimes(const path& file, const std::string& dump) {
        using std::chrono::microseconds;
        const auto began = std::chrono::steady_clock::now();
        const pid_t child = runInChild(file, dump);
        int status = 0;
        std::optional<microseconds> first, last;
        while (::waitpid(child, &status, WNOHANG) == 0) {
            std::error_code unknown;
            std::size_t names = 0;
            for (auto it = std::filesystem::directory_iterator(file.parent_path(), unknown);
                 !unknown && it != std::filesystem::directory_iterator(); it.increment(unknown))
                ++names;
            const auto at =
                std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - began);
            if (names > 1) {
                first = first.value_or(at);
                last = at;
            }
            std::this_thread::sleep_for(microseconds(20));
        }
        const auto whole =
            std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - began);
        completed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        whole_ = std::uniform_int_distribution<long long>(0, whole.count());
        if (first) {
            busy_ = std::uniform_int_distribution<long long>(first->count() / 2,
                                                             last->count() * 3 / 2 + 100);
        }
    }
    std::chrono::microseconds next() {
        const bool busy = busy_ && (round_++ % 2 == 1);
        return std::chrono::microseconds(busy ? (*busy_)(random_) : whole_(random_));
    }
    bool completed = false;

  private:
    std::mt19937 random_{20261205};
    std::uniform_int_distribution<long long> whole_;
    std::optional<std::uniform_int_distribution<long long>> busy_;
    int round_ = 0;
};

void killAfter(pid_t child, std::chrono::microseconds delay) {
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

struct KillCase {
    const char* name;
    int filled;  // rows of the history before, none: no history yet
    int jobs;    // of the killed run
    int rounds;
};

TEST(JobHistoryKill, ARunKilledAnywhereLeavesEveryEarlierRowAndNothingBesideTheHistory) {
    const KillCase cases[] = {{"while it makes the history", 0, 5, 40},
                              {"while it writes a filled one", 500, 3000, 12}};
    for (const KillCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir timing, filled;
        if (c.filled > 0) {
            ASSERT_TRUE(run(filled.file(kHistoryFile), jobs("a", c.filled)).state.used());
        }
        KillTimes times((c.filled > 0 ? filled : timing).file(kHistoryFile), jobs("t", c.jobs));
        ASSERT_TRUE(times.completed);
        int leftBeside = 0;  // kills after which more than the history was there
        for (int round = 0; round < c.rounds; ++round) {
            std::optional<TempDir> fresh;
            if (c.filled == 0)
                fresh.emplace();
            const TempDir& dir = fresh ? *fresh : filled;
            const path file = dir.file(kHistoryFile);
            const std::set<std::string> before = Connection(file).ids();
            // Appended, not concatenated: GCC 12 misreads "k" + std::string as overlapping.
            const std::string killed =
                jobs(std::string("k").append(std::to_string(round)).append("-"), c.jobs);
            const std::set<std::string> killedIds = idsOf(killed);
            const std::chrono::microseconds delay = times.next();
            SCOPED_TRACE("round " + std::to_string(round) + ", killed after " +
                         std::to_string(delay.count()) + " us");

            killAfter(runInChild(file, killed), delay);
            leftBeside += dir.names().size() > 1 ? 1 : 0;
            const Night next =
                run(file, jobs(std::string("n").append(std::to_string(round)).append("-"), 3));

            ASSERT_TRUE(next.state.used()) << next.state.error;
            const std::set<std::string> rows = Connection(file).ids();
            EXPECT_EQ(next.state.jobs, rows.size());
            EXPECT_EQ(dir.names(), std::set<std::string>{std::string(kHistoryFile)});
            std::size_t kept = 0, ofKilled = 0;
            for (const std::string& id : rows) {
                kept += before.contains(id) ? 1 : 0;
                ofKilled += killedIds.contains(id) ? 1 : 0;
            }
            EXPECT_EQ(kept, before.size());
            EXPECT_TRUE(ofKilled == 0 || ofKilled == killedIds.size()) << ofKilled << " rows";
            EXPECT_EQ(rows.size(), before.size() + ofKilled + 3);
        }
        EXPECT_GT(leftBeside, 0) << "no kill fell while the killed run was writing";
    }
}

TEST(JobHistoryShared, TwoFoldersMakingAndWritingOneHistoryAtOnceKeepBothTheirJobs) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const TempDir dir;
        const path file = dir.file("shared.db");
        int gate[2];
        ASSERT_EQ(::pipe(gate), 0);
        std::vector<pid_t> children;
        for (const std::string prefix : {"x", "y"}) {
            if (const pid_t child = ::fork(); child == 0) {
                ::close(gate[1]);
                char go = 0;
                [[maybe_unused]] const ssize_t opened = ::read(gate[0], &go, 1);
                const Night night = run(file, jobs(prefix, 1500));
                if (!night.state.used())
                    std::fprintf(stderr, "%s\n", night.state.error.c_str());
                ::_exit(night.state.used() ? 0 : 1);
            } else {
                children.push_back(child);
            }
        }
        ::close(gate[0]);
        ::close(gate[1]);  // both start now
        for (const pid_t child : children) {
            int status = 0;
            ::waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        EXPECT_EQ(Connection(file).ids(), idsOf(jobs("x", 1500) + jobs("y", 1500)));
        EXPECT_EQ(dir.names(), std::set<std::string>{"shared.db"});
    }
}

TEST(JobHistoryImport, AFailedImportRecordsNothingAndAnImportTwiceRecordsNothingNew) {
    const TempDir dir;
    const path file = dir.file(kHistoryFile);
    ASSERT_TRUE(run(file, jobs("a", 3)).state.used());
    dir.write("older.txt", jobs("o", 5));
    const std::vector<path> withMissing = {dir.file("older.txt"), dir.file("gone.txt")};
    const std::vector<path> older = {dir.file("older.txt")};

    EXPECT_TRUE(failureOf([&] { importDumps(dir.path(), file, withMissing); }));
    EXPECT_EQ(Connection(file).ids(), idsOf(jobs("a", 3)));

    const ImportResult first = importDumps(dir.path(), file, older);
    const ImportResult second = importDumps(dir.path(), file, older);
    ASSERT_EQ(first.dumps.size(), 1u);
    ASSERT_EQ(second.dumps.size(), 1u);
    EXPECT_EQ(first.dumps[0].recorded, 5u);
    EXPECT_EQ(second.dumps[0].recorded, 0u);
    EXPECT_EQ(second.jobs, 8u);
}

// A night's new lines wait in memory and go into the history together, in
// batches when there are more than wait at once: every line arrives, a later
// line of the same job wins, and each stream's values are those of its rows.
TEST(JobHistoryStaging, EveryLineArrivesWhetherItWaitsInMemoryOrNot) {
    const struct {
        const char* name;
        int jobs;
    } cases[] = {{"one batch", 12}, {"more than wait at once", int(kHistoryStagedRows) + 9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        const path file = dir.file(kHistoryFile);
        // Job s1 once more at the dump's end, failed this time.
        const std::string night = jobs("s", c.jobs);
        const std::string again = test::dumpLine(
            {.id = "s1", .start = kWindowStart + 10, .status = "13", .client = "client1"});

        const Night first = run(file, night + again);

        ASSERT_TRUE(first.state.used()) << first.state.error;
        EXPECT_EQ(first.state.recorded, std::size_t(c.jobs) + 1);
        EXPECT_EQ(first.state.jobs, std::size_t(c.jobs));
        Connection db(file);
        EXPECT_EQ(db.number("SELECT COUNT(*) FROM jobs"), c.jobs);
        EXPECT_EQ(db.number("SELECT status = '13' FROM jobs WHERE job_id = 's1'"), 1);
        EXPECT_EQ(db.number("SELECT SUM(jobs) FROM streams"), c.jobs);
        EXPECT_EQ(db.number("SELECT COUNT(*) FROM streams WHERE stale"), 0);
        EXPECT_EQ(db.number("SELECT COUNT(*) FROM streams s WHERE last_job IS NOT (SELECT "
                            "MAX(started) FROM jobs j WHERE j.stream = s.stream) OR last_success "
                            "IS NOT (SELECT MAX(started) FROM jobs j WHERE j.stream = s.stream AND "
                            "status IN ('0', '1'))"),
                  0);
        EXPECT_EQ(run(file, night).state.recorded, 1u);  // s1 as the dump now has it
        EXPECT_EQ(run(file, night).state.recorded, 0u);
    }
}

}  // namespace
}  // namespace fennick
