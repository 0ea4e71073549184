// The command line of fennick-cli, read without touching the clock, the
// files or the streams, so every case can be tested on its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/report_time.h"
#include "common/time_zone.h"
#include "delivery/sendmail.h"
#include "pipeline/reporting_window.h"
#include "pipeline/suspicion.h"
#include "run/dump_refresh.h"
#include "run/remembered_findings.h"

namespace fennick::cli {

// What the operator asked for; a run unless --help or --version came.
enum class Action { Run, Import, Help, Version };

// Which runs send the report by mail: every run, only a run whose backups
// need a look (or that failed), or only a failed run.
enum class MailWhen { Always, Attention, Failure };

inline constexpr std::uintmax_t kDefaultMailMaxBytes = 10 * 1024 * 1024;
inline constexpr int kDefaultLookbackDays = 7;
// A century: a longer lookback is a slip, and days times 86400 stay exact.
inline constexpr int kMostLookbackDays = 36500;

struct Options {
    Action action = Action::Run;
    std::filesystem::path dir = ".";
    // The zone every time is read and shown in; null: the report zone, and
    // the end read from the machine's clock, as "fennick -q" does.
    std::shared_ptr<const TimeZone> zone;
    // Clock times of that zone, as a picker holds them; absent means the
    // default (the present moment, and one day before the end).
    std::optional<LocalTime> start;
    std::optional<LocalTime> end;
    bool check = false;
    bool quiet = false;

    // Run before the report, under the folder's lock; its output becomes the
    // dump. Absent: the dump is read as it lies.
    std::optional<std::string> dumpCommand;
    std::chrono::milliseconds dumpTimeout = kDumpTimeout;

    // No addresses: no mail.
    std::vector<std::string> mailTo;
    std::string mailFrom;  // empty: the mail system's own sender
    std::string sendmail = kDefaultSendmail;
    MailWhen mailWhen = MailWhen::Always;
    std::uintmax_t mailMaxBytes = kDefaultMailMaxBytes;

    // Absent: no metrics file.
    std::optional<std::filesystem::path> metrics;

    // The findings (what needs action) are read with this many days of the
    // dump's history before the window; 0 reads the window only.
    int lookbackDays = kDefaultLookbackDays;
    bool lookbackGiven = false;
    // Absent: no JSON file.
    std::optional<std::filesystem::path> json;

    // The job history that the findings read and add to: absent, the
    // folder's fennick_history.db; not kept at all with --no-history.
    std::optional<std::filesystem::path> history;
    bool historyGiven = false;  // --history or FENNICK_HISTORY
    bool noHistory = false;
    int historyDays = kDefaultHistoryDays;
    // What makes a window's success suspicious next to its stream's usual.
    SuspicionRules suspicion;
    // "import": the older dumps to record in the history, and no report.
    std::vector<std::filesystem::path> importDumps;

    // Mail settings came without a recipient: the run still makes the report
    // and the metrics, then says this (one line) and exits with 3. Empty when
    // the settings are whole.
    std::string mailProblem;
};

// A command line that cannot be run; the text names the problem in one line.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The arguments after the program's name. Options take their value as the
// next argument or after "="; --mail-to may be repeated and holds
// comma-separated addresses. An unknown option, a missing or bad value, a
// single-valued option given twice and a stray argument are usage errors,
// found before any file is touched. --help wins over the other options.
// FENNICK_DUMP_COMMAND, FENNICK_MAIL_TO, FENNICK_MAIL_WHEN, FENNICK_METRICS,
// FENNICK_HISTORY and FENNICK_ZONE stand in for their options when these are not given
// (empty counts as unset), so a service reads its settings from one
// environment file. --zone takes a name of the machine's time-zone data,
// "local" or a fixed offset "UTC+H", "UTC-HH:MM" of at most 14 hours; a
// --start or --end that the zone's clocks skip is a usage error.
Options parseOptions(const std::vector<std::string_view>& arguments);

// "YYYY-MM-DD HH:MM:SS" exactly: four-digit year, two digits for the rest, a
// real calendar day, hours 00..23, minutes and seconds 00..59. Anything else
// is nullopt. The pickers' range is the options' to check.
std::optional<LocalTime> parseClockTime(std::string_view text);

// The four pickers of the run and the end moment that names the page. The
// end defaults to `now` (a clock time of the options' zone, if any); without
// --start the pickers are the day before the end, as the unattended run
// makes them: the same clock time, 23 or 25 hours earlier across a change
// of the zone's clocks. A start after the end, or a default start before the
// pickers' first day, is a usage error.
struct RunTimes {
    Pickers pickers;
    LocalTime end;
};
RunTimes runTimes(const Options& options, LocalTime now);

// The history the options name for the folder `dir`; nothing with
// --no-history.
std::optional<std::filesystem::path> historyFile(const Options& options,
                                                 const std::filesystem::path& dir);

// The present clock time: of the options' zone, or of the machine.
LocalTime presentTime(const Options& options);

// The --help text, ending in a newline.
std::string usageText();

}  // namespace fennick::cli
