// What needs action read with the job history: nights of dumps run one after
// another against one history file, and what the last night's findings say
// beyond what its dump alone could, while the counts, the failing streams
// and the recoveries stay the dump's.
#include "run/remembered_findings.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "common/file_names.h"
#include "pipeline/findings.h"
#include "run/run_fixture.h"
#include "support/dump_line.h"
#include "support/memory_stream.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::kWindowStart;

constexpr long long kDay = 86400;
constexpr int kLookback = 7;

// `hours` into the day `day` days after the fixture's window day.
long long at(int day, int hours) {
    return kWindowStart + day * kDay + hours * 3600LL;
}

std::string job(const std::string& id, long long start, const std::string& status,
                const std::string& policy = "PolA", const std::string& client = "client1") {
    return test::dumpLine(
        {.id = id, .policy = policy, .start = start, .status = status, .client = client});
}

// "d-2+1h": the day and hour of a time, as at() takes them.
std::string when(std::optional<double> time) {
    if (!time)
        return "-";
    const long long offset = std::llround(*time) - kWindowStart;
    const long long day = offset >= 0 ? offset / kDay : -((-offset + kDay - 1) / kDay);
    std::string text("d");
    text.append(std::to_string(day)).append("+");
    text.append(std::to_string((offset - day * kDay) / 3600)).append("h");
    return text;
}

// What the history can change in the findings, in their own order.
struct Remembered {
    std::string failing, notFound, daily, known;
    bool operator==(const Remembered&) const = default;
};

Remembered rememberedOf(const Findings& findings) {
    Remembered out;
    for (const FailingStream& s : findings.failing) {
        out.failing.append(s.policy).append("/").append(s.client).append(" last=");
        out.failing.append(when(s.lastSuccess)).append(" since=").append(when(s.failingSince));
        out.failing.append(" n=").append(std::to_string(s.failedSinceSuccess)).append("; ");
    }
    for (const MissingPolicy& p : findings.notFound) {
        out.notFound.append(p.policy).append(" job=").append(when(p.lastJob));
        out.notFound.append(" ok=").append(when(p.lastSuccess)).append("; ");
    }
    for (const auto& [policy, start] : findings.dailyLastSuccess)
        out.daily.append(policy).append("=").append(when(start)).append(" ");
    out.known = when(findings.knownSince);
    return out;
}

void PrintTo(const Remembered& r, std::ostream* os) {
    *os << "{failing \"" << r.failing << "\", notFound \"" << r.notFound << "\", daily \""
        << r.daily << "\", known " << r.known << "}";
}

// The history's rows, "id:status@time", oldest first.
std::string rowsOf(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    std::string rows;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* query = nullptr;
        sqlite3_prepare_v2(db, "SELECT job_id, status, started FROM jobs ORDER BY started, job_id",
                           -1, &query, nullptr);
        while (sqlite3_step(query) == SQLITE_ROW) {
            rows.append(reinterpret_cast<const char*>(sqlite3_column_text(query, 0))).append(":");
            rows.append(reinterpret_cast<const char*>(sqlite3_column_text(query, 1))).append("@");
            rows.append(when(sqlite3_column_double(query, 2))).append(" ");
        }
        sqlite3_finalize(query);
    } else {
        rows = "<cannot be opened>";
    }
    sqlite3_close(db);
    return rows;
}

Window dayWindow(int day) {
    return {static_cast<double>(at(day, 0)), static_cast<double>(at(day + 1, 0))};
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

Findings findAlone(const std::vector<std::string>& lines, int day,
                   const std::vector<std::string>& daily) {
    std::string text = joined(lines);
    LineReader reader(test::readingFrom(text), kDumpFile, false);
    return findActions(reader, dayWindow(day), daily, kLookback);
}

struct Night {
    int day;                        // the window's day, as at() counts
    std::vector<std::string> dump;  // newest first
    // An older dump that an operator kept, recorded by importDumps instead.
    bool imported = false;
    int keepDays = kDefaultHistoryDays;
};

struct DefinitionCase {
    const char* name;
    std::vector<Night> nights;
    std::vector<std::string> daily;
    Remembered withHistory, dumpAlone;  // of the last night
    std::string rows;                   // the history's, after the last night
    std::size_t recorded;               // by the last night
};

// The failing streams as the dump alone decides them, whatever the history.
using StreamIdentity = std::tuple<std::string, std::string, std::string, std::string, std::string,
                                  double, std::size_t, bool>;
std::vector<StreamIdentity> identities(const Findings& findings) {
    std::vector<StreamIdentity> out;
    for (const FailingStream& s : findings.failing) {
        out.emplace_back(s.policy, s.client, s.schedule, s.jobId, s.status, s.start, s.failedJobs,
                         s.daily);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(RememberedFindings, HistoryReachesBackFurtherThanTheDumpAndTheDumpStillDecidesTheCounts) {
    const DefinitionCase cases[] = {
        {"a success only the history holds; the stream with none known goes first",
         {{-1, {job("1", at(-1, 1), "0")}},
          {0, {job("3", at(0, 3), "13", "PolA", "client2"), job("2", at(0, 2), "13")}}},
         {},
         {"PolA/client2 last=- since=d0+3h n=1; PolA/client1 last=d-1+1h since=d0+2h n=1; ", "", "",
          "d-1+1h"},
         {"PolA/client1 last=- since=d0+2h n=1; PolA/client2 last=- since=d0+3h n=1; ", "", "",
          "d0+2h"},
         "1:0@d-1+1h 2:13@d0+2h 3:13@d0+3h ",
         2},
        {"a job running yesterday and failed today is one failed job",
         {{-1, {job("7", at(-1, 2), "")}},
          {0, {job("8", at(0, 2), "13"), job("7", at(-1, 2), "13")}}},
         {},
         {"PolA/client1 last=- since=d-1+2h n=2; ", "", "", "d-1+2h"},
         {"PolA/client1 last=- since=d-1+2h n=2; ", "", "", "d-1+2h"},
         "7:13@d-1+2h 8:13@d0+2h ",
         2},
        {"failing since three nights after a success the dump forgot",
         {{-4, {job("0", at(-4, 1), "13")}},
          {-3, {job("1", at(-3, 1), "1")}},
          {-2, {job("2", at(-2, 1), "13"), job("1", at(-3, 1), "1")}},
          {-1, {job("3", at(-1, 1), "58"), job("2", at(-2, 1), "13")}},
          {0, {job("4", at(0, 1), "13"), job("3", at(-1, 1), "58")}}},
         {},
         {"PolA/client1 last=d-3+1h since=d-2+1h n=3; ", "", "", "d-4+1h"},
         {"PolA/client1 last=- since=d-1+1h n=2; ", "", "", "d-1+1h"},
         "0:13@d-4+1h 1:1@d-3+1h 2:13@d-2+1h 3:58@d-1+1h 4:13@d0+1h ",
         1},
        {"a later run of an earlier window counts no failure after its end",
         {{0,
           {job("2", at(0, 2), "13"), job("1", at(0, 1), "0"),
            job("5", at(0, 1), "13", "PolA", "client2")}},
          {1,
           {job("6", at(1, 1), "13", "PolA", "client2"), job("3", at(1, 1), "13"),
            job("2", at(0, 2), "13")}},
          {0, {job("2", at(0, 2), "13"), job("5", at(0, 1), "13", "PolA", "client2")}}},
         {},
         {"PolA/client2 last=- since=d0+1h n=1; PolA/client1 last=d0+1h since=d0+2h n=1; ", "", "",
          "d0+1h"},
         {"PolA/client1 last=- since=d0+2h n=1; PolA/client2 last=- since=d0+1h n=1; ", "", "",
          "d0+1h"},
         "1:0@d0+1h 5:13@d0+1h 2:13@d0+2h 3:13@d1+1h 6:13@d1+1h ",
         0},
        {"a last success beyond the lookback, still in the dump below it",
         {{-30, {job("1", at(-30, 1), "0")}},
          {0, {job("5", at(0, 1), "13"), job("1", at(-30, 1), "0")}}},
         {},
         {"PolA/client1 last=d-30+1h since=d0+1h n=1; ", "", "", "d-30+1h"},
         {"PolA/client1 last=- since=d0+1h n=1; ", "", "", "d0+1h"},
         "1:0@d-30+1h 5:13@d0+1h ",
         1},
        {"known since is the oldest row, of whichever policy",
         {{-20, {job("9", at(-20, 5), "13", "PolZ")}}, {0, {job("5", at(0, 1), "0")}}},
         {},
         {"", "", "", "d-20+5h"},
         {"", "", "", "d0+1h"},
         "9:13@d-20+5h 5:0@d0+1h ",
         1},
        {"rows older than the days kept go, and their success with them",
         {{-11, {job("1", at(-11, 1), "0")}},
          {-9, {job("9", at(-9, 0), "0", "PolZ")}},
          {0, {job("5", at(0, 1), "13")}, false, 10},
          {1, {job("6", at(1, 1), "13"), job("5", at(0, 1), "13")}, false, 10}},
         {},
         {"PolA/client1 last=- since=d0+1h n=2; ", "", "", "d-9+0h"},
         {"PolA/client1 last=- since=d0+1h n=2; ", "", "", "d0+1h"},
         "9:0@d-9+0h 5:13@d0+1h 6:13@d1+1h ",
         1},
        {"a daily policy not found today, whose jobs only the history holds",
         {{-2, {job("11", at(-2, 2), "1", "PolD"), job("1", at(-2, 1), "0")}},
          {-1, {job("12", at(-1, 1), "13", "PolD")}},
          {0, {job("2", at(0, 1), "0")}}},
         {"PolA", "PolD", "PolA"},
         {"", "PolD job=d-1+1h ok=d-2+2h; ", "PolA=d0+1h PolD=d-2+2h ", "d-2+1h"},
         {"", "PolD job=- ok=-; ", "PolA=d0+1h ", "d0+1h"},
         "1:0@d-2+1h 11:1@d-2+2h 12:13@d-1+1h 2:0@d0+1h ",
         1},
        {"an identical second run records nothing",
         {{0, {job("2", at(0, 2), ""), job("1", at(0, 1), "13")}},
          {0, {job("2", at(0, 2), ""), job("1", at(0, 1), "13")}}},
         {},
         {"PolA/client1 last=- since=d0+1h n=1; ", "", "", "d0+1h"},
         {"PolA/client1 last=- since=d0+1h n=1; ", "", "", "d0+1h"},
         "1:13@d0+1h 2:@d0+2h ",
         0},
        {"a later run records only the rows that changed",
         {{0, {job("2", at(0, 2), ""), job("1", at(0, 1), "13")}},
          {0, {job("3", at(0, 3), "0"), job("2", at(0, 2), "0"), job("1", at(0, 1), "13")}}},
         {},
         {"", "", "", "d0+1h"},
         {"", "", "", "d0+1h"},
         "1:13@d0+1h 2:0@d0+2h 3:0@d0+3h ",
         2},
        {"a success that today's dump calls failed is no longer the last success",
         {{0, {job("2", at(0, 2), "0"), job("1", at(0, 1), "0")}},
          {0, {job("2", at(0, 2), "13"), job("1", at(0, 1), "0")}}},
         {},
         {"PolA/client1 last=d0+1h since=d0+2h n=1; ", "", "", "d0+1h"},
         {"PolA/client1 last=d0+1h since=d0+2h n=1; ", "", "", "d0+1h"},
         "1:0@d0+1h 2:13@d0+2h ",
         1},
        {"a success the history holds makes no failure of today's good: only the dump does",
         {{1, {job("3", at(1, 5), "0"), job("2", at(0, 9), "0")}},
          {0,
           {job("2", at(0, 9), "13"), job("1", at(0, 4), "13"),
            job("4", at(0, 3), "1", "PolA", "client2")}}},
         {},
         {"PolA/client1 last=d1+5h since=- n=0; ", "", "", "d0+3h"},
         {"PolA/client1 last=- since=d0+4h n=2; ", "", "", "d0+3h"},
         "4:1@d0+3h 1:13@d0+4h 2:13@d0+9h 3:0@d1+5h ",
         3},
        {"an imported older dump finishes a running row and keeps a finished one",
         {{0, {job("21", at(0, 2), "13"), job("20", at(0, 1), "")}},
          {-5,
           {job("21", at(0, 2), "58"), job("20", at(0, 1), "0"), job("19", at(-5, 1), "0")},
           true},
          {1, {job("22", at(1, 1), "13")}}},
         {},
         {"PolA/client1 last=d0+1h since=d0+2h n=2; ", "", "", "d-5+1h"},
         {"PolA/client1 last=- since=d1+1h n=1; ", "", "", "d1+1h"},
         "19:0@d-5+1h 20:0@d0+1h 21:13@d0+2h 22:13@d1+1h ",
         1},
    };
    for (const DefinitionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        const HistoryRequest request{.file = dir.file(kHistoryFile)};
        HistoryState state;
        Findings last;
        for (const Night& night : c.nights) {
            std::string text = joined(night.dump);
            if (night.imported) {
                dir.write("older.txt", text);
                const std::filesystem::path older = dir.file("older.txt");
                importDumps(dir.path(), request.file,
                            std::span<const std::filesystem::path>(&older, 1));
                continue;
            }
            HistoryRequest kept = request;
            kept.keepDays = night.keepDays;
            LineReader reader(test::readingFrom(text), kDumpFile, false);
            last = findRemembering(reader, dayWindow(night.day), c.daily, kLookback, kept, state);
            ASSERT_TRUE(state.used()) << "night " << night.day << ": " << state.error;
        }
        const Night& today = c.nights.back();
        const Findings alone = findAlone(today.dump, today.day, c.daily);

        EXPECT_EQ(rememberedOf(last), c.withHistory);
        EXPECT_EQ(rememberedOf(alone), c.dumpAlone);
        EXPECT_EQ(rowsOf(request.file), c.rows);
        EXPECT_EQ(state.recorded, c.recorded);
        EXPECT_EQ(state.jobs,
                  static_cast<std::size_t>(std::count(c.rows.begin(), c.rows.end(), ' ')));
        EXPECT_EQ(last.counts, alone.counts);
        EXPECT_EQ(last.recovered, alone.recovered);
        EXPECT_EQ(identities(last), identities(alone));
    }
}

}  // namespace
}  // namespace fennick
