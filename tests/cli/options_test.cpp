// fennick-cli's command line: what each form means and which are refused.
#include "cli/options.h"

#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
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
    EXPECT_FALSE(options.dumpCommand);
    EXPECT_EQ(options.dumpTimeout, std::chrono::seconds{1800});
    EXPECT_TRUE(options.mailTo.empty());
    EXPECT_EQ(options.sendmail, "/usr/sbin/sendmail");
    EXPECT_EQ(options.mailWhen, MailWhen::Always);
    EXPECT_EQ(options.mailMaxBytes, 10u * 1024 * 1024);
    EXPECT_FALSE(options.metrics);
}

TEST(ParseOptions, EveryOptionTakesItsValueSeparateOrAfterEquals) {
    for (const auto& arguments :
         {words({"--dir",
                 "/srv/fennick",
                 "--start",
                 "2026-12-01 06:00:00",
                 "--end",
                 "2026-12-02 06:00:00",
                 "--check",
                 "--quiet",
                 "--dump-command",
                 "dump -all",
                 "--dump-timeout",
                 "90",
                 "--mail-to",
                 "a@example.com",
                 "--mail-from",
                 "Fennick <f@example.com>",
                 "--sendmail",
                 "/usr/bin/msmtp",
                 "--mail-when",
                 "attention",
                 "--mail-max-bytes",
                 "5000",
                 "--metrics",
                 "/tmp/fennick.prom"}),
          words({"--quiet", "--end=2026-12-02 06:00:00", "--check", "--dir=/srv/fennick",
                 "--start=2026-12-01 06:00:00", "--dump-command=dump -all", "--dump-timeout=90",
                 "--mail-to=a@example.com", "--mail-from=Fennick <f@example.com>",
                 "--sendmail=/usr/bin/msmtp", "--mail-when=attention", "--mail-max-bytes=5000",
                 "--metrics=/tmp/fennick.prom"})}) {
        const Options options = parseOptions(arguments);
        EXPECT_EQ(options.action, Action::Run);
        EXPECT_EQ(options.dir, "/srv/fennick");
        EXPECT_EQ(options.start, kMorning - days{1});
        EXPECT_EQ(options.end, kMorning);
        EXPECT_TRUE(options.check);
        EXPECT_TRUE(options.quiet);
        EXPECT_EQ(options.dumpCommand, "dump -all");
        EXPECT_EQ(options.dumpTimeout, std::chrono::seconds{90});
        EXPECT_EQ(options.mailTo, std::vector<std::string>{"a@example.com"});
        EXPECT_EQ(options.mailFrom, "Fennick <f@example.com>");
        EXPECT_EQ(options.sendmail, "/usr/bin/msmtp");
        EXPECT_EQ(options.mailWhen, MailWhen::Attention);
        EXPECT_EQ(options.mailMaxBytes, 5000u);
        EXPECT_EQ(options.metrics, "/tmp/fennick.prom");
    }
}

TEST(ParseOptions, MailAddressesComeRepeatedOrCommaSeparated) {
    const Options options = parseOptions(
        words({"--mail-to", "a@example.com", "--mail-to", "b@example.com, c@example.com"}));
    EXPECT_EQ(options.mailTo,
              (std::vector<std::string>{"a@example.com", "b@example.com", "c@example.com"}));
}

// The service's settings come through the environment; the command line wins.
TEST(ParseOptions, EnvironmentStandsInForOptionsNotGiven) {
    struct Variable {
        const char* name;
        const char* value;
    };
    const Variable variables[] = {{"FENNICK_DUMP_COMMAND", "dump --all"},
                                  {"FENNICK_MAIL_TO", "a@example.com,b@example.com"},
                                  {"FENNICK_MAIL_WHEN", "failure"},
                                  {"FENNICK_METRICS", "/tmp/fennick.prom"}};
    for (const Variable& variable : variables)
        ::setenv(variable.name, variable.value, 1);
    const Options fromEnvironment = parseOptions({});
    const Options fromCommandLine =
        parseOptions(words({"--dump-command", "other", "--mail-to", "c@example.com", "--mail-when",
                            "always", "--metrics", "/tmp/other.prom"}));
    // Empty is unset; a mail setting without an address then only costs the
    // mail, named by the variable the operator set.
    ::setenv("FENNICK_MAIL_TO", "", 1);
    const Options withoutAddress = parseOptions({});
    const Options typedWithoutAddress = parseOptions(words({"--mail-when", "always"}));
    ::unsetenv("FENNICK_MAIL_WHEN");
    const Options emptyAddress = parseOptions({});
    for (const Variable& variable : variables)
        ::unsetenv(variable.name);

    EXPECT_EQ(fromEnvironment.dumpCommand, "dump --all");
    EXPECT_EQ(fromEnvironment.mailTo, (std::vector<std::string>{"a@example.com", "b@example.com"}));
    EXPECT_EQ(fromEnvironment.mailWhen, MailWhen::Failure);
    EXPECT_EQ(fromEnvironment.metrics, "/tmp/fennick.prom");
    EXPECT_EQ(fromCommandLine.dumpCommand, "other");
    EXPECT_EQ(fromCommandLine.mailTo, std::vector<std::string>{"c@example.com"});
    EXPECT_EQ(fromCommandLine.mailWhen, MailWhen::Always);
    EXPECT_EQ(fromCommandLine.metrics, "/tmp/other.prom");
    EXPECT_TRUE(emptyAddress.mailTo.empty());
    EXPECT_EQ(emptyAddress.mailProblem, "");
    EXPECT_EQ(withoutAddress.mailProblem,
              "FENNICK_MAIL_WHEN is set but FENNICK_MAIL_TO is not; no mail was sent");
    EXPECT_EQ(typedWithoutAddress.mailProblem,
              "--mail-when is given but no --mail-to; no mail was sent");
}

TEST(ParseOptions, TheHistoryIsTheFoldersUnlessNamedOrTurnedOff) {
    struct Case {
        std::vector<std::string_view> arguments;
        const char* environment;  // FENNICK_HISTORY, or null for unset
        std::optional<std::filesystem::path> file;
        bool given;  // names a history, which makes the run read what needs action
    };
    const Case cases[] = {
        {words({"--dir", "/srv/f"}), nullptr, "/srv/f/fennick_history.db", false},
        {words({"--dir", "/srv/f", "--history", "/var/h.db"}), nullptr, "/var/h.db", true},
        {words({"--dir", "/srv/f"}), "/var/e.db", "/var/e.db", true},
        {words({"--dir", "/srv/f", "--history=/var/h.db"}), "/var/e.db", "/var/h.db", true},
        {words({"--dir", "/srv/f", "--no-history"}), nullptr, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.environment ? c.environment : "unset");
        if (c.environment)
            ::setenv("FENNICK_HISTORY", c.environment, 1);
        else
            ::unsetenv("FENNICK_HISTORY");
        const Options options = parseOptions(c.arguments);
        ::unsetenv("FENNICK_HISTORY");
        EXPECT_EQ(historyFile(options, options.dir), c.file);
        EXPECT_EQ(options.historyGiven, c.given);
    }
    const Options importing =
        parseOptions(words({"import", "a.txt", "b.txt", "--dir", "/srv/f", "--history", "h.db"}));
    EXPECT_EQ(importing.action, Action::Import);
    EXPECT_EQ(importing.importDumps, (std::vector<std::filesystem::path>{"a.txt", "b.txt"}));
    EXPECT_EQ(importing.dir, "/srv/f");
    EXPECT_EQ(historyFile(importing, importing.dir), "h.db");
    EXPECT_EQ(parseOptions(words({"--history-days", "30"})).historyDays, 30);
}

TEST(ParseOptions, HelpWinsOverTheRun) {
    EXPECT_EQ(parseOptions(words({"--help"})).action, Action::Help);
    EXPECT_EQ(parseOptions(words({"-h"})).action, Action::Help);
    EXPECT_EQ(parseOptions(words({"--check", "--help"})).action, Action::Help);
    EXPECT_EQ(parseOptions(words({"--version"})).action, Action::Version);
    EXPECT_EQ(parseOptions(words({"--version", "--help"})).action, Action::Help);
}

const std::string kLongAddress = std::string(900, 'a') + "@example.com";

TEST(ParseOptions, BadCommandLinesNameTheirProblemOnOneLine) {
    struct Case {
        std::vector<std::string_view> arguments;
        const char* problem;  // what the message holds
    };
    const Case cases[] = {
        {words({"--foo"}), "--foo"},
        {words({"-q"}), "-q"},
        {words({"--Check"}), "--Check"},
        {words({"/srv/fennick"}), "/srv/fennick"},
        {words({"--dir"}), "--dir"},
        {words({"--check", "--end"}), "--end"},
        {words({"--dir="}), "--dir"},
        {words({"--dir", "a", "--dir", "b"}), "--dir"},
        {words({"--end", "2026-12-02 06:00:00", "--end=2026-12-03 06:00:00"}), "--end"},
        {words({"--check=yes"}), "check"},
        {words({"--start", "yesterday"}),
         "--start needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not \"yesterday\""},
        {words({"--end", "2026-02-30 06:00:00"}),
         "--end needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not \"2026-02-30 06:00:00\""},
        // Bad input for the delivery, refused before any file is touched.
        {words({"--dump-command", ""}), "--dump-command"},
        {words({"--dump-command", "  "}), "--dump-command needs a command, not an empty text"},
        {words({"--dump-timeout", "0"}), "--dump-timeout needs a positive number of seconds"},
        {words({"--dump-timeout", "-5"}), "--dump-timeout needs a positive number of seconds"},
        {words({"--dump-timeout", "soon"}), "--dump-timeout needs a positive number of seconds"},
        {words({"--mail-to", "a@example.com", "--mail-max-bytes", "0"}),
         "--mail-max-bytes needs a positive whole number"},
        {words({"--mail-to", "a@example.com", "--mail-max-bytes", "10M"}),
         "--mail-max-bytes needs a positive whole number"},
        {words({"--mail-to", "a@example.com\nBcc: all@example.com"}),
         "--mail-to holds a control character: \"a@example.com\\nBcc: all@example.com\""},
        {words({"--mail-to", "a@example.com", "--mail-from", "f@example.com\r"}),
         "--mail-from holds a control character"},
        // The folder without its --dir: not an address to mail.
        {words({"--mail-to", "a@example.com", "/srv/fennick"}),
         "The following argument was not expected: /srv/fennick"},
        {words({"--mail-to", "a@example.com", "b@example.com", "--check"}), "b@example.com"},
        {words({"--mail-to", "a@example.com", "--mail-when", "daily"}),
         "--mail-when needs always, attention or failure, not \"daily\""},
        // An empty piece of a list is a slip, not one address fewer.
        {words({"--mail-to", ","}), "--mail-to has an empty address in \",\""},
        {words({"--mail-to", "a@x,,b@y"}), "--mail-to has an empty address in \"a@x,,b@y\""},
        {words({"--mail-to", "a@x, "}), "--mail-to has an empty address"},
        // A name that cannot be encoded, or an address no header can hold.
        {words({"--mail-to", "a@x", "--mail-from", "Zo\xEB <z@example.com>"}),
         "--mail-from is not UTF-8 text"},
        {words({"--mail-to", kLongAddress.c_str()}), "--mail-to is longer than 900"},
        {words({"--metrics", " "}), "--metrics needs a file, not a blank text"},
        {words({"--metrics", ""}), "--metrics needs a file, not a blank text"},
        // The history: a file, not both ways, whole days.
        {words({"--history", " "}), "--history needs a file, not a blank text"},
        {words({"--history", "h.db", "--no-history"}),
         "--history and --no-history contradict each other"},
        {words({"--history-days", "0"}), "--history-days needs a whole number of days from 1"},
        {words({"--history-days", "1.5"}), "--history-days needs a whole number of days"},
        {words({"--history-days", "36501"}), "--history-days needs a whole number of days"},
        {words({"import"}), "dumps"},
        {words({"--no-history", "import", "old.txt"}), "does not go with --no-history"},
        {words({"--end", "2026-12-02 06:00:00", "import", "old.txt"}),
         "import makes no report: --end does not go with it"},
        {words({"import", "old.txt", "--json", "x.json"}),
         "import makes no report: --json does not go with it"},
        // Outside what the window's pickers take.
        {words({"--end", "0099-12-31 00:00:00"}),
         "--end needs a date from 1601-01-01 to 9999-12-31"},
        {words({"--start", "1600-12-31 23:59:59"}), "--start needs a date from 1601-01-01"},
        // Control bytes are shown escaped: the hint stays one line.
        {words({"--end", "a\nb"}),
         "--end needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not \"a\\nb\""},
        {words({"--\x1b[2J"}), "--\\x1B[2J"},
        {words({"x\ry"}), "x\\ry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.problem);
        try {
            parseOptions(c.arguments);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.problem), std::string::npos) << message;
            EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << message;
        }
    }
}

TEST(UsageText, ListsEveryOption) {
    const std::string text = usageText();
    for (const char* option :
         {"--dir", "--start", "--end", "--check", "--quiet", "--dump-command", "--dump-timeout",
          "--mail-to", "--mail-from", "--sendmail", "--mail-when", "--mail-max-bytes", "--metrics",
          "--help", "--version"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
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
