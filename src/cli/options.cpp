#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "cli/zone_data.h"
#include "common/control_bytes.h"
#include "common/failure.h"
#include "delivery/text_encoding.h"
#include "run/unattended.h"

namespace fennick::cli {

namespace {

using namespace std::chrono;

// Exactly `width` decimal digits at `at`; no sign, no blank.
std::optional<int> digits(std::string_view text, std::size_t at, std::size_t width) {
    const std::string_view part = text.substr(at, width);
    int value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    // from_chars takes a minus sign, which a date never has.
    if (error != std::errc{} || end != part.data() + part.size() || part.front() == '-')
        return std::nullopt;
    return value;
}

[[noreturn]] void fail(const std::string& problem) {
    throw UsageError(problem);
}

LocalTime clockTimeOf(std::string_view option, std::string_view value) {
    const auto time = parseClockTime(value);
    if (!time) {
        fail(std::string(option) + " needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not " +
             quotedText(value));
    }
    if (*time < kFirstPickable || *time > kLastPickable) {
        fail(std::string(option) +
             " needs a date from 1601-01-01 to 9999-12-31, as the window's pickers take, not " +
             quotedText(value));
    }
    return *time;
}

// The zone's clocks must show the time: a skipped one is a slip, while one
// they show twice means its earlier instant.
void checkShown(std::string_view option, LocalTime time, std::string_view text,
                const TimeZone& zone) {
    if (zone.instantsOf(time).kind == TimeZone::Instants::Kind::Skipped) {
        fail(std::string(option) + " " + quotedText(text) + " does not exist in " + zone.name() +
             ": its clocks skip that time");
    }
}

// Most a zone of the time-zone data is ahead of or behind UTC.
constexpr seconds kFarthestOffset = hours{14};

// "UTC+8", "UTC-05:30": one or two digits of hours, then two of minutes.
std::shared_ptr<const TimeZone> offsetZone(const std::string& source, std::string_view text) {
    const std::string_view offset = text.substr(4);
    const std::size_t colon = offset.find(':');
    const std::string_view hourText = offset.substr(0, colon);
    const std::string_view minuteText =
        colon == std::string_view::npos ? "00" : offset.substr(colon + 1);
    const auto hour = hourText.size() == 1 || hourText.size() == 2
                          ? digits(hourText, 0, hourText.size())
                          : std::nullopt;
    const auto minute = minuteText.size() == 2 ? digits(minuteText, 0, 2) : std::nullopt;
    if (!hour || !minute || *minute > 59)
        fail(source + " needs an offset as UTC+H, UTC-HH or UTC+HH:MM, not " + quotedText(text));
    const seconds size = hours{*hour} + minutes{*minute};
    if (size > kFarthestOffset)
        fail(source + " " + quotedText(text) + " is more than 14 hours from UTC");
    return std::make_shared<const TimeZone>(TimeZone::fixed(text[3] == '-' ? -size : size));
}

std::shared_ptr<const TimeZone> zoneOf(const std::string& source, std::string_view text) {
    if (text.starts_with("UTC+") || text.starts_with("UTC-"))
        return offsetZone(source, text);
    if (text == "local") {
        std::string where;
        auto zone = machineZone(where);
        if (!zone) {
            fail(source + " local: the machine's zone (" + escapedText(where) +
                 ") is not in the time-zone data");
        }
        return zone;
    }
    auto zone = text.empty() ? nullptr : namedZone(text);
    if (!zone) {
        fail(source + " needs a zone of the time-zone data (as Europe/Berlin), local or " +
             "UTC+H[:MM], not " + quotedText(text));
    }
    return zone;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A whole positive decimal number that fits; nothing otherwise.
std::optional<std::uintmax_t> positiveWhole(std::string_view text) {
    std::uintmax_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value == 0)
        return std::nullopt;
    return value;
}

// Seconds as a positive number, a fraction allowed; at most about 30 years,
// so that milliseconds fit comfortably.
std::optional<milliseconds> positiveSeconds(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0.001 || value > 1e9)
        return std::nullopt;
    return milliseconds{static_cast<milliseconds::rep>(std::llround(value * 1000))};
}

// Room for an address in one header line of at most 998 octets, with its
// name and the field's own name beside it.
constexpr std::size_t kLongestAddress = 900;

// An address goes into a mail header: no control byte may start a header of
// its own, a display name must be text that can be encoded (UTF-8, of which
// ASCII is part), and no address may make a line too long to be sent.
std::string address(std::string_view option, std::string_view text) {
    const std::string_view address = trimmed(text);
    if (address.empty())
        fail(std::string(option) + " has an empty address");
    if (hasControlByte(address))
        fail(std::string(option) + " holds a control character: " + quotedText(address));
    if (!isValidUtf8(address))
        fail(std::string(option) + " is not UTF-8 text: " + quotedText(address));
    if (address.size() > kLongestAddress)
        fail(std::string(option) + " is longer than " + std::to_string(kLongestAddress) + " bytes");
    return std::string(address);
}

// A comma-separated list in which every piece is an address: "a@x,,b@y" is
// a slip to be fixed, not one address fewer.
void addAddresses(std::string_view source, std::string_view list,
                  std::vector<std::string>& addresses) {
    for (std::size_t at = 0;;) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string_view piece = list.substr(at, comma - at);
        if (trimmed(piece).empty())
            fail(std::string(source) + " has an empty address in " + quotedText(list));
        addresses.push_back(address(source, piece));
        if (comma == list.size())
            return;
        at = comma + 1;
    }
}

// The text as it came, for the options that take their value apart later.
struct Given {
    std::string dir;
    std::string start;
    std::string end;
    std::string zone;
    std::string dumpCommand;
    std::string dumpTimeout;
    std::vector<std::string> mailTo;
    std::string mailFrom;
    std::string sendmail;
    std::string mailWhen;
    std::string mailMaxBytes;
    std::string metrics;
    std::string lookback;
    std::string json;
    std::string history;
    bool noHistory = false;
    std::string historyDays;
    std::string smallPercent, smallLeast, longFactor, longLeast;
    std::vector<std::string> importDumps;
    bool version = false;
};

// The days --history-days takes at most: as many as --lookback.
constexpr int kMostHistoryDays = kMostLookbackDays;

// A decimal number from `least` to `most`, digits and at most one point;
// nothing otherwise.
std::optional<double> boundedNumber(std::string_view text, double least, double most) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos)
        return std::nullopt;
    double value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !(value >= least) ||
        !(value <= most))
        return std::nullopt;
    return value;
}

// Whole days from `least` to `most`; nothing otherwise.
std::optional<int> wholeDays(std::string_view text, int least, int most) {
    int days = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
    if (error != std::errc{} || end != text.data() + text.size() || days < least || days > most)
        return std::nullopt;
    return days;
}

void describe(CLI::App& app, Options& options, Given& given) {
    app.description(
        "Makes the Backup Report from the files in DIR, as \"fennick -q\" does in its\n"
        "own folder: reads bpdbjobs.txt, policy_list.txt and fennick_config.txt and\n"
        "writes out.txt, out2.txt, out1.txt and report_DD-MM-YY.html.");
    app.footer(
        "Times are clock times of the report zone (UTC+8), as on the window's\n"
        "pickers, or of the zone --zone names. On success one line tells the page\n"
        "and its counts.\n"
        "FENNICK_DUMP_COMMAND, FENNICK_MAIL_TO, FENNICK_MAIL_WHEN, FENNICK_METRICS,\n"
        "FENNICK_HISTORY and FENNICK_ZONE stand in for their options when these are\n"
        "not given.\n"
        "\"fennick-cli [--dir DIR] [--history FILE] import DUMP...\" records the jobs of\n"
        "older dump files in the history and makes no report.\n"
        "Exit status: 0 done, 1 the run failed (message on stderr), 2 usage error,\n"
        "3 the mail, the JSON or the metrics could not be delivered, or the history\n"
        "could not be used (the report went out without it), 4 done but\n"
        "--check found failed jobs or missing policies, or the dump is not newest first.");
    app.get_formatter()->column_width(30);
    app.option_defaults()->disable_flag_override();

    app.add_option("--dir", given.dir, "the folder of the run (default: the current folder)")
        ->option_text("DIR");
    app.add_option("--end", given.end,
                   "end of the window (default: the present local time); the page is "
                   "named after its date")
        ->option_text("\"YYYY-MM-DD HH:MM:SS\"");
    app.add_option("--start", given.start, "start of the window (default: one day before the end)")
        ->option_text("\"YYYY-MM-DD HH:MM:SS\"");
    app.add_option("--zone", given.zone,
                   "read and show every time in ZONE: a name of the time-zone data such as "
                   "Europe/Berlin, local (this machine's zone), or a fixed offset such as "
                   "UTC+8 or UTC-05:30 (default: the report zone, UTC+8)")
        ->option_text("ZONE")
        ->envname("FENNICK_ZONE");
    app.add_flag("--check", options.check,
                 "exit with 4 when the page has a failed job (not one still running) or a "
                 "daily policy not found");
    app.add_flag("--quiet", options.quiet, "print nothing on success");
    app.add_option("--dump-command", given.dumpCommand,
                   "refresh bpdbjobs.txt first from the output of CMD (run by /bin/sh in DIR); "
                   "it replaces the dump only when CMD succeeds")
        ->option_text("CMD")
        ->envname("FENNICK_DUMP_COMMAND");
    app.add_option("--dump-timeout", given.dumpTimeout,
                   "stop the dump command after this long (default: 1800)")
        ->option_text("SECONDS");
    app.add_option("--mail-to", given.mailTo,
                   "mail the report to ADDRESS (repeatable, or comma-separated)")
        ->option_text("ADDRESS")
        // One value a time: a stray word after the address is refused,
        // not taken for another address.
        ->allow_extra_args(false)
        ->envname("FENNICK_MAIL_TO");
    app.add_option("--mail-from", given.mailFrom, "the sender (default: the mail system's own)")
        ->option_text("ADDRESS");
    app.add_option("--sendmail", given.sendmail,
                   "the program that takes the message, called as PROGRAM -t -oi "
                   "(default: /usr/sbin/sendmail)")
        ->option_text("PROGRAM");
    app.add_option("--mail-when", given.mailWhen,
                   "always (default), attention (a stream still failing, a daily policy not "
                   "found or a failed run) or failure (a failed run)")
        ->option_text("WHEN")
        ->envname("FENNICK_MAIL_WHEN");
    app.add_option("--mail-max-bytes", given.mailMaxBytes,
                   "the most bytes of the whole mail; the page is left out when the mail with it "
                   "would be larger (default: 10485760)")
        ->option_text("BYTES");
    app.add_option("--metrics", given.metrics,
                   "write the run's metrics for node_exporter's textfile collector to FILE")
        ->option_text("FILE")
        ->envname("FENNICK_METRICS");
    app.add_option("--lookback", given.lookback,
                   "read DAYS days of the dump's history before the window for what needs "
                   "action: last successes and failures made good by a later job "
                   "(default: 7; 0: the window only)")
        ->option_text("DAYS");
    app.add_option("--json", given.json, "write what needs action to FILE as JSON after every run")
        ->option_text("FILE");
    app.add_option("--history", given.history,
                   "keep the job history that what needs action is read with in FILE "
                   "(default: fennick_history.db in DIR, whenever what needs action is read)")
        ->option_text("FILE")
        ->envname("FENNICK_HISTORY");
    app.add_flag("--no-history", given.noHistory, "neither read nor write a job history");
    app.add_option("--history-days", given.historyDays,
                   "keep the history's jobs for DAYS days before the window (default: 400)")
        ->option_text("DAYS");
    app.add_option("--small-percent", given.smallPercent,
                   "call a success small below PERCENT of its stream's usual kilobytes "
                   "(default: 10)")
        ->option_text("PERCENT");
    app.add_option("--small-least", given.smallLeast,
                   "and only when it wrote at least KB kilobytes less (default: 1048576, 1 GiB)")
        ->option_text("KB");
    app.add_option("--long-factor", given.longFactor,
                   "call a success long above TIMES its stream's usual elapsed time (default: 3)")
        ->option_text("TIMES");
    app.add_option("--long-least", given.longLeast,
                   "and only when it ran at least SECONDS longer (default: 3600)")
        ->option_text("SECONDS");
    app.add_flag("--version", given.version, "print the version");
    CLI::App* import = app.add_subcommand(
        "import", "record the jobs of older dump files in the history; makes no report");
    import->add_option("dumps", given.importDumps, "dump files an operator kept")
        ->required()
        ->option_text("DUMP...");
    // The folder and the history may come after the command's name too.
    import->fallthrough();
}

// Whether the operator typed `name` (rather than the environment setting it).
bool typed(const std::vector<std::string_view>& arguments, std::string_view name) {
    return std::any_of(arguments.begin(), arguments.end(), [name](std::string_view argument) {
        return argument == name || (argument.starts_with(name) && argument.size() > name.size() &&
                                    argument[name.size()] == '=');
    });
}

// Where a value came from, as the operator would look for it.
std::string sourceOf(const std::vector<std::string_view>& arguments, std::string_view option,
                     std::string_view variable) {
    return std::string(typed(arguments, option) ? option : variable);
}

// Mail settings without anybody to mail to are a slip in the settings, not
// a reason to leave the folder without its report: the run goes on and says
// so at its end.
std::string mailProblemOf(const CLI::App& app, const std::vector<std::string_view>& arguments,
                          const Options& options) {
    if (!options.mailTo.empty())
        return {};
    for (const char* option : {"--mail-when", "--mail-from", "--sendmail", "--mail-max-bytes"}) {
        if (app.count(option) == 0)
            continue;
        if (!typed(arguments, option))
            return "FENNICK_MAIL_WHEN is set but FENNICK_MAIL_TO is not; no mail was sent";
        return std::string(option) + " is given but no --mail-to; no mail was sent";
    }
    return {};
}

// The values in their own types, each checked; the first bad one fails.
void interpret(const CLI::App& app, const std::vector<std::string_view>& arguments,
               const Given& given, Options& options) {
    const auto gave = [&app](const char* name) { return app.count(name) > 0; };
    if (gave("--dir")) {
        if (given.dir.empty())
            fail("--dir needs a folder, not an empty text");
        options.dir = given.dir;
    }
    // The zone first: the times are read in it.
    if (gave("--zone"))
        options.zone = zoneOf(sourceOf(arguments, "--zone", "FENNICK_ZONE"), given.zone);
    if (gave("--start")) {
        options.start = clockTimeOf("--start", given.start);
        if (options.zone)
            checkShown("--start", *options.start, given.start, *options.zone);
    }
    if (gave("--end")) {
        options.end = clockTimeOf("--end", given.end);
        if (options.zone)
            checkShown("--end", *options.end, given.end, *options.zone);
    }
    if (gave("--dump-command")) {
        if (trimmed(given.dumpCommand).empty())
            fail("--dump-command needs a command, not an empty text");
        options.dumpCommand = given.dumpCommand;
    }
    if (gave("--dump-timeout")) {
        const auto timeout = positiveSeconds(given.dumpTimeout);
        if (!timeout) {
            fail("--dump-timeout needs a positive number of seconds, not " +
                 quotedText(given.dumpTimeout));
        }
        options.dumpTimeout = *timeout;
    }
    const std::string mailToSource = sourceOf(arguments, "--mail-to", "FENNICK_MAIL_TO");
    for (const std::string& to : given.mailTo)
        addAddresses(mailToSource, to, options.mailTo);
    if (gave("--mail-from"))
        options.mailFrom = address("--mail-from", given.mailFrom);
    if (gave("--sendmail")) {
        if (given.sendmail.empty())
            fail("--sendmail needs a program, not an empty text");
        options.sendmail = given.sendmail;
    }
    if (gave("--mail-when")) {
        if (given.mailWhen == "always")
            options.mailWhen = MailWhen::Always;
        else if (given.mailWhen == "attention")
            options.mailWhen = MailWhen::Attention;
        else if (given.mailWhen == "failure")
            options.mailWhen = MailWhen::Failure;
        else
            fail("--mail-when needs always, attention or failure, not " +
                 quotedText(given.mailWhen));
    }
    if (gave("--mail-max-bytes")) {
        const auto bytes = positiveWhole(given.mailMaxBytes);
        if (!bytes) {
            fail("--mail-max-bytes needs a positive whole number, not " +
                 quotedText(given.mailMaxBytes));
        }
        options.mailMaxBytes = *bytes;
    }
    if (gave("--metrics")) {
        // Whether the file can be written is the run's to find out: a
        // metrics file that cannot be written never costs the report.
        if (trimmed(given.metrics).empty()) {
            fail(sourceOf(arguments, "--metrics", "FENNICK_METRICS") +
                 " needs a file, not a blank text");
        }
        options.metrics = std::filesystem::path(given.metrics);
    }
    if (gave("--lookback")) {
        const auto days = wholeDays(given.lookback, 0, kMostLookbackDays);
        if (!days) {
            fail("--lookback needs a whole number of days from 0 to " +
                 std::to_string(kMostLookbackDays) + ", not " + quotedText(given.lookback));
        }
        options.lookbackDays = *days;
        options.lookbackGiven = true;
    }
    if (gave("--history")) {
        const std::string source = sourceOf(arguments, "--history", "FENNICK_HISTORY");
        if (trimmed(given.history).empty())
            fail(source + " needs a file, not a blank text");
        if (given.noHistory)
            fail(source + " and --no-history contradict each other");
        options.history = std::filesystem::path(given.history);
        options.historyGiven = true;
    }
    options.noHistory = given.noHistory;
    if (gave("--history-days")) {
        const auto days = wholeDays(given.historyDays, 1, kMostHistoryDays);
        if (!days) {
            fail("--history-days needs a whole number of days from 1 to " +
                 std::to_string(kMostHistoryDays) + ", not " + quotedText(given.historyDays));
        }
        options.historyDays = *days;
    }
    // The suspicious successes' thresholds: each a number, so a slip fails.
    const struct {
        const char* option;
        const std::string& text;
        double least, most;
        double& value;
        const char* wanted;
    } thresholds[] = {
        {"--small-percent", given.smallPercent, 0, 100, options.suspicion.smallPercent,
         "a number from 0 to 100"},
        {"--small-least", given.smallLeast, 0, 9e15, options.suspicion.smallLeastKb,
         "a number of kilobytes"},
        {"--long-factor", given.longFactor, 1, 1e6, options.suspicion.longFactor,
         "a number from 1 to 1000000"},
        {"--long-least", given.longLeast, 0, 9e15, options.suspicion.longLeastSeconds,
         "a number of seconds"},
    };
    for (const auto& threshold : thresholds) {
        if (!gave(threshold.option))
            continue;
        const std::optional<double> value =
            boundedNumber(threshold.text, threshold.least, threshold.most);
        if (!value) {
            fail(std::string(threshold.option) + " needs " + threshold.wanted + ", not " +
                 quotedText(threshold.text));
        }
        threshold.value = *value;
    }
    if (gave("--json")) {
        if (trimmed(given.json).empty())
            fail("--json needs a file, not a blank text");
        options.json = std::filesystem::path(given.json);
    }
    options.mailProblem = mailProblemOf(app, arguments, options);
    if (app.got_subcommand("import")) {
        if (options.noHistory)
            fail("import records into the history: it does not go with --no-history");
        // A report's options would be silently dropped: a slip to be told.
        for (const char* option :
             {"--start", "--end", "--check", "--dump-command", "--mail-to", "--metrics", "--json",
              "--lookback", "--history-days", "--small-percent", "--small-least", "--long-factor",
              "--long-least"}) {
            if (typed(arguments, option))
                fail(std::string("import makes no report: ") + option + " does not go with it");
        }
        for (const std::string& dump : given.importDumps) {
            if (dump.empty())
                fail("import needs dump files, not an empty text");
            options.importDumps.emplace_back(dump);
        }
        options.action = Action::Import;
    }
}

}  // namespace

std::optional<LocalTime> parseClockTime(std::string_view text) {
    // 2026-12-05 06:00:00
    // 0123456789012345678
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const auto y = digits(text, 0, 4);
    const auto m = digits(text, 5, 2);
    const auto d = digits(text, 8, 2);
    const auto hh = digits(text, 11, 2);
    const auto mm = digits(text, 14, 2);
    const auto ss = digits(text, 17, 2);
    if (!y || !m || !d || !hh || !mm || !ss)
        return std::nullopt;
    const year_month_day date{year{*y}, month{static_cast<unsigned>(*m)},
                              day{static_cast<unsigned>(*d)}};
    if (!date.ok() || *hh > 23 || *mm > 59 || *ss > 59)
        return std::nullopt;
    return local_days{date} + hours{*hh} + minutes{*mm} + seconds{*ss};
}

Options parseOptions(const std::vector<std::string_view>& arguments) {
    Options options;
    Given given;
    CLI::App app("", "fennick-cli");
    describe(app, options, given);
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        options.action = Action::Help;
        return options;
    } catch (const CLI::ParseError& error) {
        // Its words, kept on one line whatever the arguments held.
        fail(escapedText(error.what()));
    }
    interpret(app, arguments, given, options);
    if (given.version)
        options.action = Action::Version;
    return options;
}

RunTimes runTimes(const Options& options, LocalTime now) {
    const LocalTime end = options.end.value_or(now);
    if (!options.start) {
        // The unattended run's pickers, so that a run without --start makes
        // what "fennick -q" makes at the same moment.
        Pickers pickers = dayBefore(end, end);
        if (pickers.dp1 < kFirstPickable)
            fail("--end is too early for the default --start, one day before it");
        pickers.zone = options.zone.get();
        return RunTimes{pickers, end};
    }
    // Clock times keep their order as instants: of a time shown twice the
    // earlier instant counts.
    if (*options.start > end)
        fail("--start is after --end");
    return RunTimes{Pickers{*options.start, *options.start, end, end, options.zone.get()}, end};
}

std::optional<std::filesystem::path> historyFile(const Options& options,
                                                 const std::filesystem::path& dir) {
    if (options.noHistory)
        return std::nullopt;
    return options.history.value_or(dir / kHistoryFile);
}

LocalTime presentTime(const Options& options) {
    if (!options.zone)
        return localNow();
    return options.zone->clockTime(floor<seconds>(system_clock::now()));
}

std::string usageText() {
    Options options;
    Given given;
    CLI::App app("", "fennick-cli");
    describe(app, options, given);
    return app.help();
}

}  // namespace fennick::cli
