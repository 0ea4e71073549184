#include "cli/options.h"

#include <array>
#include <charconv>
#include <chrono>

#include "common/failure.h"
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

// The options that take a value, and where they keep it.
enum class Valued { Dir, Start, End };

struct Named {
    std::string_view name;
    Valued which;
};

constexpr std::array<Named, 3> kValued{{
    {"--dir", Valued::Dir},
    {"--start", Valued::Start},
    {"--end", Valued::End},
}};

LocalTime clockTimeOf(std::string_view option, std::string_view value) {
    const auto time = parseClockTime(value);
    if (!time) {
        fail(std::string(option) + " needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not " +
             quotedText(value));
    }
    return *time;
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
    bool help = false;
    bool version = false;
    bool dirGiven = false;
    const auto once = [](bool& seen, std::string_view option) {
        if (seen)
            fail(std::string(option) + " is given twice");
        seen = true;
    };
    bool checkSeen = false;
    bool quietSeen = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            help = true;
            continue;
        }
        if (argument == "--version") {
            version = true;
            continue;
        }
        if (argument == "--check") {
            once(checkSeen, argument);
            options.check = true;
            continue;
        }
        if (argument == "--quiet") {
            once(quietSeen, argument);
            options.quiet = true;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        const Named* valued = nullptr;
        for (const Named& candidate : kValued) {
            if (candidate.name == name)
                valued = &candidate;
        }
        if (!valued) {
            if (equals != std::string_view::npos &&
                (name == "--check" || name == "--quiet" || name == "--help" || name == "--version"))
                fail(std::string(name) + " takes no value");
            if (argument.starts_with('-'))
                fail("unknown option " + escapedText(name));
            fail("unexpected argument " + quotedText(argument));
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            value = argument.substr(equals + 1);
        } else {
            if (i + 1 >= arguments.size())
                fail(std::string(name) + " needs a value");
            value = arguments[++i];
        }
        switch (valued->which) {
            case Valued::Dir:
                once(dirGiven, name);
                if (value.empty())
                    fail("--dir needs a folder, not an empty text");
                options.dir = std::filesystem::path(value);
                break;
            case Valued::Start:
                if (options.start)
                    fail("--start is given twice");
                options.start = clockTimeOf(name, value);
                break;
            case Valued::End:
                if (options.end)
                    fail("--end is given twice");
                options.end = clockTimeOf(name, value);
                break;
        }
    }
    if (help)
        options.action = Action::Help;
    else if (version)
        options.action = Action::Version;
    return options;
}

RunTimes runTimes(const Options& options, LocalTime now) {
    const LocalTime end = options.end.value_or(now);
    if (!options.start) {
        // The unattended run's pickers, so that a run without --start makes
        // what "fennick -q" makes at the same moment.
        return RunTimes{dayBefore(end, end), end};
    }
    if (*options.start > end)
        fail("--start is after --end");
    return RunTimes{Pickers{*options.start, *options.start, end, end}, end};
}

std::string usageText() {
    return "usage: fennick-cli [--dir DIR] [--start \"YYYY-MM-DD HH:MM:SS\"]\n"
           "                   [--end \"YYYY-MM-DD HH:MM:SS\"] [--check] [--quiet]\n"
           "       fennick-cli --help | --version\n"
           "\n"
           "Makes the Backup Report from the files in DIR, as \"fennick -q\" does in its\n"
           "own folder: reads bpdbjobs.txt, policy_list.txt and fennick_config.txt and\n"
           "writes out.txt, out2.txt, out1.txt and report_DD-MM-YY.html.\n"
           "\n"
           "  --dir DIR     the folder of the run (default: the current folder)\n"
           "  --end TIME    end of the window (default: the present local time);\n"
           "                the page is named after its date\n"
           "  --start TIME  start of the window (default: one day before the end)\n"
           "  --check       exit with 4 when the page has a failed job or a daily\n"
           "                policy not found\n"
           "  --quiet       print nothing on success\n"
           "\n"
           "Times are clock times of the report zone (UTC+8), as on the window's\n"
           "pickers. On success one line tells the page and its counts.\n"
           "Exit status: 0 done, 1 the run failed (message on stderr), 2 usage error,\n"
           "4 done but --check found failed jobs or missing policies.\n";
}

}  // namespace fennick::cli
