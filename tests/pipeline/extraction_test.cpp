#include "pipeline/extraction.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/columns.h"
#include "common/failure.h"
#include "common/file_names.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::TempDir;

// The usual test line has 40 fields: the routing mark is field 20 and the
// transfer rates fields 19 (marked jobs and those for out2.txt) and 17
// (flagged jobs), clear of the fields read from the start.
constexpr std::size_t kCount = 40;
constexpr std::size_t kMark = kCount - 1 - dump::kRoutingMarkFromEnd;

// A dump line of `count` fields; field i holds "f<i>" unless `texts` gives it.
std::string dumpLine(std::size_t count, const std::map<std::size_t, std::string>& texts) {
    std::string line;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            line += ',';
        const auto given = texts.find(i);
        if (given != texts.end()) {
            line += given->second;
        } else {
            line += 'f';
            line += std::to_string(i);
        }
    }
    return line;
}

// A 40-field job starting at `start` with routing mark "1" unless `texts` says otherwise.
std::string job(const std::string& start, std::map<std::size_t, std::string> texts = {}) {
    texts.try_emplace(8, start);
    texts.try_emplace(kMark, "1");
    return dumpLine(kCount, texts);
}

// What a marked job(start) of 40 fields writes, given the start column.
std::string markedLine(const std::string& startText) {
    return "f4,f5,f6," + startText + ",01/01/1970 08:00:00,f9,f14,f15,f27,f3,f19,f0,f22\r\n";
}

class ExtractionTest : public ::testing::Test {
  protected:
    void writeDump(const std::vector<std::string>& lines, const std::string& end = "\n") {
        std::string bytes;
        for (const auto& line : lines)
            bytes += line + end;
        dir.write(kDumpFile, bytes);
    }

    void run(Window window = {1000, 5000}) { extractJobs(dir.path(), window); }

    std::optional<Failure> runFailing(Window window = {1000, 5000}) {
        try {
            run(window);
        } catch (const Failure& failure) {
            return failure;
        }
        ADD_FAILURE() << "extraction did not fail";
        return std::nullopt;
    }

    std::string jobs() const { return dir.read(kJobsFile); }
    std::string otherJobs() const { return dir.read(kOtherJobsFile); }

    TempDir dir;
};

TEST_F(ExtractionTest, RoutingMarkNumericallyOneWritesOutTxtWithRateFromLMinus20) {
    for (const std::string mark : {"1", " 01 ", "1.0", "\t+1e0 "}) {
        SCOPED_TRACE("mark \"" + mark + "\"");
        writeDump({job("1000", {{kMark, mark}, {11, ""}})});
        run();
        EXPECT_EQ(jobs(), markedLine("01/01/1970 08:16:40"));
        EXPECT_EQ(otherJobs(), "");
    }
}

TEST_F(ExtractionTest, RoutingMarkOfAnotherNumberDropsTheJob) {
    for (const std::string mark : {"2", "0", "-1", " 1.5 "}) {
        SCOPED_TRACE("mark \"" + mark + "\"");
        writeDump({job("2000", {{kMark, mark}}), job("1000")});
        run();
        EXPECT_EQ(jobs(), markedLine("01/01/1970 08:16:40"));
        EXPECT_EQ(otherJobs(), "");
    }
}

TEST_F(ExtractionTest, BlankMarkWithBlankField11WritesOutTxtWithRateFromLMinus22) {
    for (const std::string mark : {"", "   "}) {
        SCOPED_TRACE("mark \"" + mark + "\"");
        writeDump({job("1000", {{kMark, mark}, {11, " "}})});
        run();
        EXPECT_EQ(
            jobs(),
            "f4,f5,f6,01/01/1970 08:16:40,01/01/1970 08:00:00,f9,f14,f15,f27,f3,f17,f0,f22\r\n");
        EXPECT_EQ(otherJobs(), "");
    }
}

TEST_F(ExtractionTest, BlankMarkWithEmptyField11WritesOut2TxtWithField1Second) {
    writeDump({job("1000", {{kMark, " "}, {11, ""}})});
    run();
    EXPECT_EQ(jobs(), "");
    EXPECT_EQ(
        otherJobs(),
        "f4,f1,f5,f6,01/01/1970 08:16:40,01/01/1970 08:00:00,f9,f14,f15,f27,f3,f19,f0,f22\r\n");
}

TEST_F(ExtractionTest, FieldsFromTheEndFollowEachLinesLength) {
    // 30 fields: mark 10, rate 9; 46 fields: mark 26, rate 25 (flagged: 23).
    writeDump({dumpLine(30, {{8, "3000"}, {10, "1"}}), dumpLine(46, {{8, "2000"}, {26, " 1 "}}),
               dumpLine(46, {{8, "1000"}, {26, ""}})});
    run();
    EXPECT_EQ(jobs(),
              "f4,f5,f6,01/01/1970 08:50:00,01/01/1970 08:00:01,f9,f14,f15,f27,f3,f9,f0,f22\r\n"
              "f4,f5,f6,01/01/1970 08:33:20,01/01/1970 08:00:00,f9,f14,f15,f27,f3,f25,f0,f22\r\n"
              "f4,f5,f6,01/01/1970 08:16:40,01/01/1970 08:00:00,f9,f14,f15,f27,f3,f23,f0,f22\r\n");
}

TEST_F(ExtractionTest, LongLinesGiveTheirLastFieldsAndNameAMiddleFieldInFailures) {
    // 400 fields: mark 380, rates 379 and 377; the middle is never looked at,
    // but a bad mark there is still named by its place in the whole line.
    writeDump({dumpLine(400, {{8, "3000"}, {380, "1"}}),
               dumpLine(400, {{8, "2500"}, {380, ""}, {11, ""}}),
               dumpLine(400, {{8, "2000"}, {380, " "}}), dumpLine(400, {{8, "1500"}, {380, "x"}})});
    const auto failure = runFailing();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::TypeMismatch);
    EXPECT_EQ(failure->line(), 4);
    EXPECT_EQ(failure->field(), 380);
    EXPECT_EQ(jobs(),
              "f4,f5,f6,01/01/1970 08:50:00,01/01/1970 08:00:00,f9,f14,f15,f27,f3,f379,f0,f22\r\n"
              "f4,f5,f6,01/01/1970 08:33:20,01/01/1970 08:00:00,f9,f14,f15,f27,f3,f377,f0,f22\r\n");
    EXPECT_EQ(otherJobs(),
              "f4,f1,f5,f6,01/01/1970 08:41:40,01/01/1970 08:00:00,f9,f14,f15,f27,f3,f379,f0,"
              "f22\r\n");
}

TEST_F(ExtractionTest, JobsAtBothBoundsAreSelected) {
    writeDump({job("5000"), job("1000")});
    run({1000, 5000});
    EXPECT_EQ(jobs(), markedLine("01/01/1970 09:23:20") + markedLine("01/01/1970 08:16:40"));
}

TEST_F(ExtractionTest, JobAfterEndIsPassedOverAndScanGoesOn) {
    writeDump({job("5001"), job("4000")});
    run({1000, 5000});
    EXPECT_EQ(jobs(), markedLine("01/01/1970 09:06:40"));
}

TEST_F(ExtractionTest, JobBeforeStartEndsScanAndNoFurtherLineIsRead) {
    // The empty line would fail if it were read; the in-window job after it
    // is out of order and never reached.
    writeDump({job("2000"), job("999"), "", job("1500")});
    run({1000, 5000});
    EXPECT_EQ(jobs(), markedLine("01/01/1970 08:33:20"));
    EXPECT_EQ(otherJobs(), "");
}

TEST_F(ExtractionTest, StartTimeZeroIsPassedOverWithoutFurtherChecks) {
    // Nine fields would fail if the routing mark were read.
    writeDump({job("2000"), dumpLine(9, {{8, " 0.0 "}}), job("1000")});
    run({1000, 5000});
    EXPECT_EQ(jobs(), markedLine("01/01/1970 08:33:20") + markedLine("01/01/1970 08:16:40"));
}

TEST_F(ExtractionTest, ShortLinesOutsideTheWindowCauseNoFailure) {
    writeDump({dumpLine(12, {{8, "9000"}}), job("2000"), dumpLine(9, {{8, "10"}}), ""});
    run({1000, 5000});
    EXPECT_EQ(jobs(), markedLine("01/01/1970 08:33:20"));
}

TEST_F(ExtractionTest, StartAfterEndSelectsNothing) {
    // 6000 and 3000 lie after the end; 1500 lies before the start and ends the scan.
    writeDump({job("6000"), job("3000"), job("1500"), ""});
    run({4000, 2000});
    EXPECT_EQ(jobs(), "");
    EXPECT_EQ(otherJobs(), "");
}

// The rule the findings share: a job after the end is passed over before
// its start is compared with the window's start, and a start of 0 before
// either.
TEST(PlaceOfStart, EndIsTestedBeforeStartAndNotStartedBeforeBoth) {
    struct Case {
        double start;
        Window window;
        StartPlace place;
    };
    const Case cases[] = {
        {0, {-10, 10}, StartPlace::NotStarted},
        {10, {-10, 10}, StartPlace::Inside},
        {-10, {-10, 10}, StartPlace::Inside},
        {11, {-10, 10}, StartPlace::AfterEnd},
        {-11, {-10, 10}, StartPlace::BeforeStart},
        // A window that ends before it starts holds no start: between its
        // bounds a start lies after the end, and the scan reads on.
        {3000, {4000, 2000}, StartPlace::AfterEnd},
        {1500, {4000, 2000}, StartPlace::BeforeStart},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        EXPECT_EQ(placeOfStart(c.start, c.window), c.place)
            << c.window.StartEpoch << ".." << c.window.EndEpoch;
    }
}

TEST_F(ExtractionTest, EmptyDumpReplacesEarlierOutputsWithEmptyFiles) {
    dir.write(kJobsFile, "old\r\n");
    dir.write(kOtherJobsFile, "old\r\n");
    dir.write(kDumpFile, "");
    run();
    EXPECT_EQ(jobs(), "");
    EXPECT_EQ(otherJobs(), "");
}

TEST_F(ExtractionTest, EndColumnShowsLeadingNumberOfField10) {
    const struct {
        std::string field;
        std::string shown;
    } cases[] = {
        {"0", "01/01/1970 08:00:00"},   {"", "01/01/1970 08:00:00"},
        {"n/a", "01/01/1970 08:00:00"}, {" 61x", "01/01/1970 08:01:01"},
        {"57600", "01/02/1970"},        {"1000000000", "09/09/2001 09:46:40"},
        {"-28800", "01/01/1970"},       {"253402271999", "12/31/9999 23:59:59"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("end field \"" + c.field + "\"");
        writeDump({job("1000", {{10, c.field}})});
        run();
        EXPECT_EQ(jobs(),
                  "f4,f5,f6,01/01/1970 08:16:40," + c.shown + ",f9,f14,f15,f27,f3,f19,f0,f22\r\n");
    }
}

TEST_F(ExtractionTest, StartAtMidnightOfTheReportZoneShowsDateOnly) {
    writeDump({job("57600")});
    run({57600, 57600});
    EXPECT_EQ(jobs(), markedLine("01/02/1970"));
}

TEST_F(ExtractionTest, EightBitBytesPassThroughUnchanged) {
    writeDump({job("1000", {{4, "Pol\xE9\xFF"}, {0, "\x80"}})});
    run();
    EXPECT_EQ(jobs(),
              "Pol\xE9\xFF,f5,f6,01/01/1970 08:16:40,01/01/1970 08:00:00,f9,f14,f15,f27,f3,"
              "f19,\x80,f22\r\n");
}

TEST_F(ExtractionTest, CrLfDumpWithoutFinalNewlineIsReadWhole) {
    dir.write(kDumpFile, job("2000") + "\r\n" + job("1000"));
    run();
    EXPECT_EQ(jobs(), markedLine("01/01/1970 08:33:20") + markedLine("01/01/1970 08:16:40"));
}

TEST_F(ExtractionTest, MissingDumpLeavesEarlierOutputsUntouched) {
    dir.write(kJobsFile, "earlier out\r\n");
    dir.write(kOtherJobsFile, "earlier out2\r\n");
    const auto failure = runFailing();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::FileNotFound);
    EXPECT_EQ(failure->file(), kDumpFile);
    EXPECT_EQ(jobs(), "earlier out\r\n");
    EXPECT_EQ(otherJobs(), "earlier out2\r\n");
}

TEST_F(ExtractionTest, Out2TxtThatCannotBeCreatedLeavesOutTxtEmpty) {
    dir.write(kJobsFile, "earlier out\r\n");
    std::filesystem::create_directory(dir.file(kOtherJobsFile));
    writeDump({job("1000")});
    const auto failure = runFailing();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
    EXPECT_EQ(failure->file(), kOtherJobsFile);
    EXPECT_EQ(jobs(), "");
}

TEST_F(ExtractionTest, BadLineFailsWithLocationAndKeepsEarlierLines) {
    const struct {
        const char* what;
        std::string line;
        FailureKind kind;
        long field;
    } cases[] = {
        {"empty line", "", FailureKind::SubscriptOutOfRange, 8},
        {"eight fields", dumpLine(8, {}), FailureKind::SubscriptOutOfRange, 8},
        {"empty start", job(""), FailureKind::TypeMismatch, 8},
        {"start not a number", job("12a"), FailureKind::TypeMismatch, 8},
        {"start beyond double", job("1e400"), FailureKind::Overflow, 8},
        {"start after year 9999", job("3e11"), FailureKind::Overflow, 8},
        {"selected line of 19 fields", dumpLine(19, {{8, "1500"}}),
         FailureKind::SubscriptOutOfRange, Failure::kNoField},
        {"mark not a number", job("1500", {{kMark, " 1x "}}), FailureKind::TypeMismatch, kMark},
        {"27 fields to write", dumpLine(27, {{8, "1500"}, {7, "1"}}),
         FailureKind::SubscriptOutOfRange, 27},
        {"end after year 9999", job("1500", {{10, "1e300"}}), FailureKind::Overflow, 10},
        {"end before year 100", job("1500", {{10, "-1e11"}}), FailureKind::Overflow, 10},
        {"end beyond double", job("1500", {{10, "1e400"}}), FailureKind::Overflow, 10},
    };
    const std::string earlierJob = markedLine("01/01/1970 08:50:00");
    const std::string earlierOther =
        "f4,f1,f5,f6,01/01/1970 08:33:20,01/01/1970 08:00:00,f9,f14,f15,f27,f3,f19,f0,f22\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeDump({job("3000"), job("2000", {{kMark, ""}, {11, ""}}), c.line, job("1200")});
        const auto failure = runFailing({1000, 4e11});
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), c.kind);
        EXPECT_EQ(failure->file(), kDumpFile);
        EXPECT_EQ(failure->line(), 3);
        EXPECT_EQ(failure->field(), c.field);
        EXPECT_EQ(jobs(), earlierJob);
        EXPECT_EQ(otherJobs(), earlierOther);
    }
}

}  // namespace
}  // namespace fennick
