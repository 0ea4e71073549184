// fennick-cli's command line: what each form means and which are refused.
#include "cli/options.h"

#include <gtest/gtest.h>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace fennick::cli {
namespace {

using namespace std::chrono;

std::vector<std::string_view> words(std::initializer_list<const char*> list) {
    return std::vector<std::string_view>(list.begin(), list.end());
}

const LocalTime kMorning = local_days{2026y / 12 / 2} + 6h;

TEST(ParseClockTime, ReadsOnlyRealDatesAndTimesInTheOneForm) {
    struct Case {
        const char* text;
        std::optional<LocalTime> expected;
    };
    const Case cases[] = {
        {"2026-12-02 06:00:00", kMorning},
        {"2026-12-02 23:59:59", local_days{2026y / 12 / 2} + 23h + 59min + 59s},
        {"2028-02-29 00:00:00", local_days{2028y / 2 / 29}},
        {"1969-12-31 16:00:00", local_days{1969y / 12 / 31} + 16h},
        // Not a day of the calendar, or not a time of the clock.
        {"2026-02-29 06:00:00", std::nullopt},
        {"2026-13-01 06:00:00", std::nullopt},
        {"2026-00-10 06:00:00", std::nullopt},
        {"2026-04-31 06:00:00", std::nullopt},
        {"2026-12-02 24:00:00", std::nullopt},
        {"2026-12-02 06:60:00", std::nullopt},
        {"2026-12-02 06:00:60", std::nullopt},
        // Other forms.
        {"2026-12-02", std::nullopt},
        {"2026-12-02 6:00:00", std::nullopt},
        {"2026-12-02T06:00:00", std::nullopt},
        {"12/02/2026 06:00:00", std::nullopt},
        {"2026-12-02 06:00:00 ", std::nullopt},
        {"2026-1a-02 06:00:00", std::nullopt},
        {"2026-12--2 06:00:00", std::nullopt},
        {"2026-12-02 +6:00:00", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseClockTime(c.text), c.expected);
    }
}

TEST(ParseOptions, NoArgumentsRunInTheCurrentFolderOnTheDefaultWindow) {
    const Options options = parseOptions({});
    EXPECT_EQ(options.action, Action::Run);
    EXPECT_EQ(options.dir, ".");
    EXPECT_FALSE(options.start);
    EXPECT_FALSE(options.end);
    EXPECT_FALSE(options.check);
    EXPECT_FALSE(options.quiet);
}

TEST(ParseOptions, EveryOptionTakesItsValueSeparateOrAfterEquals) {
    for (const auto& arguments : {words({"--dir", "/srv/fennick", "--start", "2026-12-01 06:00:00",
                                         "--end", "2026-12-02 06:00:00", "--check", "--quiet"}),
                                  words({"--quiet", "--end=2026-12-02 06:00:00", "--check",
                                         "--dir=/srv/fennick", "--start=2026-12-01 06:00:00"})}) {
        const Options options = parseOptions(arguments);
        EXPECT_EQ(options.action, Action::Run);
        EXPECT_EQ(options.dir, "/srv/fennick");
        EXPECT_EQ(options.start, kMorning - days{1});
        EXPECT_EQ(options.end, kMorning);
        EXPECT_TRUE(options.check);
        EXPECT_TRUE(options.quiet);
    }
}

TEST(ParseOptions, HelpAndVersionWinOverTheRun) {
    EXPECT_EQ(parseOptions(words({"--help"})).action, Action::Help);
    EXPECT_EQ(parseOptions(words({"-h"})).action, Action::Help);
    EXPECT_EQ(parseOptions(words({"--check", "--help"})).action, Action::Help);
    EXPECT_EQ(parseOptions(words({"--version"})).action, Action::Version);
    EXPECT_EQ(parseOptions(words({"--version", "--help"})).action, Action::Help);
}

TEST(ParseOptions, BadCommandLinesNameTheirProblem) {
    struct Case {
        std::vector<std::string_view> arguments;
        const char* problem;
    };
    const Case cases[] = {
        {words({"--foo"}), "unknown option --foo"},
        {words({"--foo=1"}), "unknown option --foo"},
        {words({"-q"}), "unknown option -q"},
        {words({"--Check"}), "unknown option --Check"},
        {words({"/srv/fennick"}), "unexpected argument \"/srv/fennick\""},
        {words({"--dir"}), "--dir needs a value"},
        {words({"--check", "--end"}), "--end needs a value"},
        {words({"--dir="}), "--dir needs a folder, not an empty text"},
        {words({"--dir", "a", "--dir", "b"}), "--dir is given twice"},
        {words({"--end", "2026-12-02 06:00:00", "--end=2026-12-03 06:00:00"}),
         "--end is given twice"},
        {words({"--quiet", "--quiet"}), "--quiet is given twice"},
        {words({"--check=yes"}), "--check takes no value"},
        {words({"--start", "yesterday"}),
         "--start needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not \"yesterday\""},
        {words({"--end", "2026-02-30 06:00:00"}),
         "--end needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not \"2026-02-30 06:00:00\""},
        // Control bytes are shown escaped: the hint stays one line.
        {words({"--end", "a\nb"}),
         "--end needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not \"a\\nb\""},
        {words({"--\x1b[2J"}), "unknown option --\\x1B[2J"},
        {words({"x\ry"}), "unexpected argument \"x\\ry\""},
        // A bad value stays an error even where --help would win.
        {words({"--help", "--end", "6am"}),
         "--end needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not \"6am\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.problem);
        try {
            parseOptions(c.arguments);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& error) {
            EXPECT_STREQ(error.what(), c.problem);
        }
    }
}

TEST(RunTimes, DefaultsMakeTheUnattendedRunsDayBeforeTheEnd) {
    const LocalTime now = local_days{2026y / 12 / 5} + 2h + 15min + 7s;
    struct Case {
        const char* name;
        std::optional<LocalTime> start;
        std::optional<LocalTime> end;
        LocalTime windowStart;
        LocalTime windowEnd;
    };
    const Case cases[] = {
        {"nothing given", std::nullopt, std::nullopt, now - days{1}, now},
        {"end given", std::nullopt, kMorning, kMorning - days{1}, kMorning},
        {"start given", kMorning, std::nullopt, kMorning, now},
        {"both given", kMorning - days{7}, kMorning, kMorning - days{7}, kMorning},
        {"start equals end", kMorning, kMorning, kMorning, kMorning},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Options options;
        options.start = c.start;
        options.end = c.end;
        const RunTimes times = runTimes(options, now);
        EXPECT_EQ(times.end, c.windowEnd) << "the page is named after the end";
        const Window window = computeWindow(times.pickers);
        EXPECT_EQ(window.StartEpoch, c.windowStart.time_since_epoch().count() - kReportZoneOffset);
        EXPECT_EQ(window.EndEpoch, c.windowEnd.time_since_epoch().count() - kReportZoneOffset);
    }
}

TEST(RunTimes, StartAfterTheEndIsAUsageError) {
    Options options;
    options.start = kMorning + 1s;
    options.end = kMorning;
    EXPECT_THROW(runTimes(options, kMorning), UsageError);
    options.end.reset();  // the end is now, before the start
    EXPECT_THROW(runTimes(options, kMorning), UsageError);
}

}  // namespace
}  // namespace fennick::cli
