#include "pipeline/daily_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/fields.h"
#include "common/file_names.h"
#include "common/numbers.h"
#include "files/text_file.h"
#include "pipeline/time_string.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::failureOf;
using test::TempDir;

const std::string kHeader =
    "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,"
    "Tx Rate,Job ID,Schedule Type\r\n";

RetentionLabels testLabels() {
    RetentionLabels labels;
    labels[0] = "Zero";
    labels[7] = "1 week";
    labels[9] = "a,b";  // a label with a comma
    labels[28] = "Infinity";
    return labels;  // every other level unset
}

// An out.txt row; the defaults give "0:01.00", "1 week", "Full Backup".
std::string row(const std::string& policy, const std::string& elapsed = "60",
                const std::string& retention = "7", const std::string& schedule = "0",
                const std::string& id = "1") {
    return policy + ",Daily,host," + "01/02/2024 10:00:00,01/02/2024 10:01:00," + elapsed +
           ",100,5," + retention + ",0,1.5," + id + "," + schedule + "\r\n";
}

// The job line of row(...) with the defaults, after the Policy field.
std::string jobTail(const std::string& id = "1", const std::string& duration = "0:01.00",
                    const std::string& retention = "1 week",
                    const std::string& schedule = "Full Backup") {
    return ",Daily,host,01/02/2024 10:00:00,01/02/2024 10:01:00," + duration + ",100,5," +
           retention + ",0,1.5," + id + "," + schedule + "\r\n";
}

std::string table(const TempDir& dir, const std::string& policies, const std::string& jobs) {
    dir.write(kPolicyFile, policies);
    dir.write("out.txt", jobs);
    writeDailyTable(dir.path(), testLabels());
    return dir.read(kTableFile);
}

TEST(DailyTable, EmptyPolicyListWritesHeaderOnlyWithoutReadingJobs) {
    TempDir dir;
    EXPECT_EQ(table(dir, "", "broken\r\n"), kHeader);
    std::filesystem::remove(dir.file("out.txt"));
    writeDailyTable(dir.path(), testLabels());
    EXPECT_EQ(dir.read(kTableFile), kHeader);
}

TEST(DailyTable, PolicyWithoutRowsGetsNotFoundLine) {
    TempDir dir;
    EXPECT_EQ(table(dir, "alpha\r\n", row("beta")), kHeader + "alpha,Not Found\r\n");
}

TEST(DailyTable, OnlyFirstJobLineOfPolicyCarriesName) {
    TempDir dir;
    const std::string jobs = row("alpha", "60", "7", "0", "1") + row("orphan") +
                             row("alpha", "60", "7", "0", "2") + row("alpha", "60", "7", "0", "3");
    EXPECT_EQ(table(dir, "alpha", jobs),
              kHeader + "alpha" + jobTail("1") + jobTail("2") + jobTail("3"));
}

TEST(DailyTable, BlankPolicyLineCollectsRowsWithEmptyName) {
    TempDir dir;
    EXPECT_EQ(table(dir, "\r\n", row("alpha")), kHeader + ",Not Found\r\n");
    EXPECT_EQ(table(dir, "alpha\r\n\r\n", row("") + row("alpha", "60", "7", "0", "2")),
              kHeader + "alpha" + jobTail("2") + jobTail("1"));
}

TEST(DailyTable, NamesDifferingInBlanksOrCaseAreNotFound) {
    TempDir dir;
    EXPECT_EQ(table(dir, "alpha \r\nAlpha\r\n alpha\r\n", row("alpha")),
              kHeader + "alpha ,Not Found\r\nAlpha,Not Found\r\n alpha,Not Found\r\n");
}

TEST(DailyTable, PolicyListedTwiceGetsTwoGroups) {
    TempDir dir;
    const std::string jobs = row("alpha", "60", "7", "0", "1") + row("alpha", "60", "7", "0", "2");
    const std::string group = "alpha" + jobTail("1") + jobTail("2");
    EXPECT_EQ(table(dir, "alpha\r\nbeta\r\nalpha\r\n", jobs),
              kHeader + group + "beta,Not Found\r\n" + group);
}

TEST(DailyTable, RetentionCodesMapOnlyPlainLevelTexts) {
    const RetentionLabels labels = testLabels();
    const struct {
        const char* code;
        const char* text;
    } cases[] = {{"0", "Zero"},
                 {"7", "1 week"},
                 {"28", "Infinity"},
                 {"3", ""},
                 {"07", "Not Programmed"},
                 {"29", "Not Programmed"},
                 {"-1", "Not Programmed"},
                 {"", "Not Programmed"},
                 {" 7", "Not Programmed"},
                 {"7 ", "Not Programmed"},
                 {"00", "Not Programmed"},
                 {"+7", "Not Programmed"},
                 {"100", "Not Programmed"}};
    for (const auto& c : cases)
        EXPECT_EQ(retentionText(c.code, labels), c.text) << c.code;
}

TEST(DailyTable, ScheduleCodesMapToNames) {
    const struct {
        const char* code;
        const char* text;
    } cases[] = {{"0", "Full Backup"},     {"1", "Differential"},    {"2", "User Backup"},
                 {"4", "Cumulative"},      {"3", "Not Programmed"},  {"", "Not Programmed"},
                 {"00", "Not Programmed"}, {" 0", "Not Programmed"}, {"5", "Not Programmed"}};
    for (const auto& c : cases)
        EXPECT_EQ(scheduleText(c.code), c.text) << c.code;
}

TEST(DailyTable, CodedColumnsBecomeTextInJobLines) {
    TempDir dir;
    const std::string jobs = row("p", "3661", "9", "4", "1") + row("p", " 2.5 ", "3", "3", "2") +
                             row("p", "3.5", "29", "", "3");
    EXPECT_EQ(table(dir, "p", jobs),
              kHeader + "p" + jobTail("1", "1:01.01", "a,b", "Cumulative") +
                  jobTail("2", "0:00.02", "", "Not Programmed") +
                  jobTail("3", "0:00.04", "Not Programmed", "Not Programmed"));
}

TEST(DailyTable, FieldsBeyondTheThirteenthAreDropped) {
    TempDir dir;
    std::string jobs = row("p");
    jobs.insert(jobs.size() - 2, ",extra,more");
    EXPECT_EQ(table(dir, "p", jobs), kHeader + "p" + jobTail());
}

TEST(DailyTable, MissingPolicyListLeavesEarlierTableUntouched) {
    TempDir dir;
    dir.write(kTableFile, "earlier");
    dir.write("out.txt", row("p"));
    try {
        writeDailyTable(dir.path(), testLabels());
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
        EXPECT_EQ(failure.file(), kPolicyFile);
    }
    EXPECT_EQ(dir.read(kTableFile), "earlier");
}

TEST(DailyTable, MissingJobsFileFailsAfterHeader) {
    TempDir dir;
    dir.write(kPolicyFile, "p\r\n");
    try {
        writeDailyTable(dir.path(), testLabels());
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
        EXPECT_EQ(failure.file(), "out.txt");
    }
    EXPECT_EQ(dir.read(kTableFile), kHeader);
}

TEST(DailyTable, BadRowFailsDuringFirstPolicy) {
    const std::string twelveFields = "p,a,b,c,d,60,f,g,7,i,j,k\r\n";
    const struct {
        const char* name;
        std::string policies;
        std::string jobs;
        FailureKind kind;
        long line;
        long field;
        std::string left;  // out1.txt after the failure
    } cases[] = {
        {"after a row of the first policy", "p\r\nq\r\n", row("p") + row("q", "x"),
         FailureKind::TypeMismatch, 2, 5, kHeader + "p" + jobTail()},
        {"rows of later policies before it", "p\r\nq\r\n",
         row("q") + row("p") + row("p", "60", "7", "0", "2") + row("z", "2147483648"),
         FailureKind::Overflow, 4, 5, kHeader + "p" + jobTail("1") + jobTail("2")},
        {"of no policy, before the policy's rows", "p\r\n", row("z", "") + row("p"),
         FailureKind::TypeMismatch, 1, 5, kHeader},
        {"twelve fields", "p\r\n", row("p") + twelveFields, FailureKind::SubscriptOutOfRange, 2, 12,
         kHeader + "p" + jobTail()},
        {"empty row", "p\r\n", row("p") + row("p") + "\r\n" + row("p"),
         FailureKind::SubscriptOutOfRange, 3, 5, kHeader + "p" + jobTail() + jobTail()},
        {"short row with a bad field 5", "p\r\n", "p,a,b,c,d,x,f\r\n", FailureKind::TypeMismatch, 1,
         5, kHeader},
        {"short row with a good field 5", "p\r\n", "p,a,b,c,d,5,f\r\n",
         FailureKind::SubscriptOutOfRange, 1, 8, kHeader},
        {"negative overflow", "p\r\n", row("p", "-2147483649"), FailureKind::Overflow, 1, 5,
         kHeader},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write(kPolicyFile, c.policies);
        dir.write("out.txt", c.jobs);
        try {
            writeDailyTable(dir.path(), testLabels());
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.kind(), c.kind);
            EXPECT_EQ(failure.file(), "out.txt");
            EXPECT_EQ(failure.line(), c.line);
            EXPECT_EQ(failure.field(), c.field);
        }
        EXPECT_EQ(dir.read(kTableFile), c.left);
    }
}

// A comma would spread the name over two columns and move every later
// column one place on; the table stops at that line instead.
TEST(DailyTable, CommaInAPolicyLineFailsWhenThatLineIsReached) {
    const struct {
        const char* name;
        std::string policies;
        std::string jobs;
        long line;
        std::string left;  // out1.txt after the failure
    } cases[] = {
        {"first line", "a,b\r\nalpha\r\n", row("alpha"), 1, kHeader},
        {"after policies with and without rows", "alpha\r\nbeta\r\nx,y\r\nalpha\r\n", row("alpha"),
         3, kHeader + "alpha" + jobTail() + "beta,Not Found\r\n"},
        {"a comma alone, last line without its end", "alpha\r\n,", row("alpha"), 2,
         kHeader + "alpha" + jobTail()},
        {"rows named with the comma are no help", "x,y\r\n", row("x") + row("y"), 1, kHeader},
        {"first line, before a bad out.txt is read", "a,b\r\n", "broken\r\n", 1, kHeader},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write(kPolicyFile, c.policies);
        dir.write(kJobsFile, c.jobs);
        const auto failure = failureOf([&] { writeDailyTable(dir.path(), testLabels()); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::InvalidArgument);
        EXPECT_EQ(failure->file(), kPolicyFile);
        EXPECT_EQ(failure->line(), c.line);
        EXPECT_EQ(failure->field(), Failure::kNoField);
        EXPECT_NE(std::string(failure->what())
                      .find("Invalid argument: policy_list.txt line " + std::to_string(c.line)),
                  std::string::npos)
            << failure->what();
        EXPECT_EQ(dir.read(kTableFile), c.left);
    }
}

// Rows are read during the first policy line, so a bad row there fails
// before a comma in a later line is reached.
TEST(DailyTable, BadRowFailsBeforeACommaInALaterPolicyLine) {
    TempDir dir;
    dir.write(kPolicyFile, "alpha\r\nx,y\r\n");
    dir.write(kJobsFile, row("alpha") + row("beta", "x"));
    const auto failure = failureOf([&] { writeDailyTable(dir.path(), testLabels()); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::TypeMismatch);
    EXPECT_EQ(failure->file(), kJobsFile);
    EXPECT_EQ(failure->line(), 2);
    EXPECT_EQ(dir.read(kTableFile), kHeader + "alpha" + jobTail());
}

// The row-by-row join, re-reading out.txt for every policy line: the
// behaviour the indexed join must reproduce byte for byte.
void referenceTable(const std::filesystem::path& appDir, const RetentionLabels& labels) {
    LineReader policies(fileIn(appDir, kPolicyFile), kPolicyFile);
    LineWriter out(fileIn(appDir, kTableFile), kTableFile);
    out.write(kHeader);
    Fields f;
    while (!policies.atEnd()) {
        bool written = false;
        const std::string policy(policies.readLine());
        // The line is looked at as it is read, before out.txt is opened for it.
        if (policy.find(',') != std::string::npos) {
            throw Failure(FailureKind::InvalidArgument, "comma")
                .at(kPolicyFile, policies.lineNumber());
        }
        LineReader jobs(fileIn(appDir, "out.txt"), "out.txt");
        while (!jobs.atEnd()) {
            f.split(jobs.readLine());
            try {
                std::int32_t seconds = 0;
                try {
                    seconds = parseInt32(f.at(5));
                } catch (Failure& e) {
                    throw e.at({}, Failure::kNoLine, 5);
                }
                const std::string_view retention = retentionText(f.at(8), labels);
                const std::string_view schedule = scheduleText(f.at(12));
                if (f[0] != policy)
                    continue;
                const std::string duration = TimeString(seconds);
                std::string line(written ? "" : f[0]);
                for (const std::string_view part :
                     {f[1], f[2], f[3], f[4], std::string_view(duration), f[6], f[7], retention,
                      f[9], f[10], f[11], schedule}) {
                    (line += ',') += part;
                }
                out.writeLine(line);
                written = true;
            } catch (Failure& e) {
                throw e.at("out.txt", jobs.lineNumber());
            }
        }
        if (!written)
            out.writeLine(policy + ",Not Found");
    }
    out.close();
}

struct Outcome {
    std::string table;
    std::optional<FailureKind> kind;
    std::string file;
    long line = 0;
    long field = 0;
    std::string message;
};

template <typename Writer>
Outcome runOn(const TempDir& dir, Writer writer) {
    Outcome outcome;
    try {
        writer(dir.path(), testLabels());
    } catch (const Failure& failure) {
        outcome.kind = failure.kind();
        outcome.file = failure.file();
        outcome.line = failure.line();
        outcome.field = failure.field();
        // The folder differs from run to run; the rest of the text may not.
        outcome.message = failure.what();
        const std::string folder = dir.path().string();
        for (std::size_t at; (at = outcome.message.find(folder)) != std::string::npos;)
            outcome.message.replace(at, folder.size(), "AppDir");
    }
    outcome.table = dir.read(kTableFile);
    return outcome;
}

// The row-by-row join is the reference for the table read at once.
TEST(DailyTable, MatchesRowByRowJoinOnGeneratedInputs) {
    const std::vector<std::string> names = {"alpha", "beta", "gamma", "", "Alpha", "beta ", "x,y"};
    const std::vector<std::string> elapsed = {"0", "3661", " 2.5 ", "-1", "86400", "2147483647"};
    const std::vector<std::string> retention = {"0", "7", "07", "28", "29", "3", "", "9"};
    const std::vector<std::string> badElapsed = {"x", "", "2147483648", "1e10", "-2147483649"};
    std::mt19937 random(20240102);
    const auto pick = [&random](const std::vector<std::string>& from) {
        return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
    };
    const auto below = [&random](int n) {
        return std::uniform_int_distribution<int>(0, n - 1)(random);
    };
    const auto policyList = [&] {
        std::string policies;
        for (int i = below(7); i > 0; --i)
            policies += pick(names) + (i > 1 || below(2) ? "\r\n" : "");
        return policies;
    };

    int failures = 0;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string policies = policyList();
        std::string jobs;
        // Every tenth out.txt runs over several of the reader's pieces.
        const int rows = round % 10 == 9 ? 2000 + below(4000) : below(25);
        const int bad = below(3) == 0 ? below(rows + 1) : -1;
        for (int i = 0; i <= rows; ++i) {
            if (i == bad) {
                if (below(2) == 0) {
                    jobs += row(pick(names), pick(badElapsed));
                } else {  // a row cut to 0..12 fields
                    const std::string full = row(pick(names));
                    std::size_t end = 0;
                    for (int keep = below(13); keep > 0; --keep)
                        end = full.find(',', end + 1);
                    jobs += full.substr(0, end) + "\r\n";
                }
            }
            if (i == rows)
                break;
            std::string line = row(pick(names), pick(elapsed), pick(retention),
                                   std::to_string(below(6)), std::to_string(i));
            if (below(5) == 0)
                line.insert(line.size() - 2, ",extra");
            jobs += line;
        }
        if (!jobs.empty() && below(4) == 0)
            jobs.resize(jobs.size() - 2);  // no final line end

        TempDir dir;
        const bool listed = below(25) != 0;
        if (listed)
            dir.write(kPolicyFile, policies);
        const bool jobsFile = below(20) != 0;
        if (jobsFile)
            dir.write("out.txt", jobs);
        const Outcome expected = runOn(dir, referenceTable);
        const Outcome actual =
            runOn(dir, [](const std::filesystem::path& appDir, const RetentionLabels& labels) {
                writeDailyTable(appDir, labels);
            });
        EXPECT_EQ(actual.table, expected.table);
        EXPECT_EQ(actual.kind, expected.kind);
        EXPECT_EQ(actual.file, expected.file);
        EXPECT_EQ(actual.line, expected.line);
        EXPECT_EQ(actual.field, expected.field);
        if (expected.kind)
            ++failures;
    }
    EXPECT_GT(failures, 20);  // the generator does reach the failure paths
}

}  // namespace
}  // namespace fennick
