#include "delivery/action_summary.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "common/file_names.h"
#include "common/time_zone.h"
#include "common/utf8.h"
#include "delivery/night_cells.h"
#include "delivery/text_encoding.h"
#include "report/html_text.h"
#include "report/report_page.h"

namespace fennick {

namespace {

constexpr std::string_view kTitle = "Backup Report";
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // "…"

// A meaning is a few words; a longer one is cut, as every row that shows its
// status repeats it.

// A column of the text tables is padded to its widest cell up to this many
// characters; a longer cell makes its own row longer, not every row.
constexpr std::size_t kColumnMost = 40;

using Meanings = std::map<std::string, std::string, std::less<>>;

// The meanings as the summary shows them, by code, made once for all the
// rows that show them; an empty meaning is left out.
using ShownMeanings = std::map<std::string_view, std::string, std::less<>>;

ShownMeanings shownMeanings(const Meanings& meanings) {
    ShownMeanings shown;
    for (const auto& [code, meaning] : meanings) {
        if (!meaning.empty())
            shown.emplace(code, shownUtf8(meaning, kMeaningMost));
    }
    return shown;
}

std::string counted(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + ' ' + std::string(count == 1 ? one : many);
}

// A time of the run's zone, as the page shows times; never fails.
std::string timeText(double epochSeconds, const TimeZone* zone) {
    try {
        return zoneText(epochSeconds, zone);
    } catch (...) {
        // A dump's field may hold any number: only one that a whole count
        // of seconds can hold is cast to one.
        if (std::isfinite(epochSeconds) && std::fabs(epochSeconds) < 9e18)
            return std::to_string(static_cast<long long>(epochSeconds)) + " s";
        char text[32];
        std::snprintf(text, sizeof text, "%.6g s", epochSeconds);
        return text;
    }
}

// How long before the window's end `time` was, after a comma; nothing for
// a time no difference can be taken of.
std::string ageText(double time, double windowEnd) {
    const double before = windowEnd - time;
    if (std::isnan(before))
        return "";
    if (before < 0)
        return ", after the window's end";
    const double days = std::floor(before / 86400);
    if (days < 1)
        return ", less than a day before";
    if (days == 1)
        return ", 1 day before";
    std::string out = ", ";
    if (days < 9e15) {
        out += std::to_string(static_cast<long long>(days));
    } else {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", days);
        out += text;
    }
    out += " days before";
    return out;
}

// A last success or job with its age; where there is none among the known
// jobs, only the time they reach back to is known to hold none.
std::string lastKnownText(const std::optional<double>& last, const ActionSummary& summary) {
    const TimeZone* zone = summary.window.zone;
    if (last) {
        std::string out = timeText(*last, zone);
        out += ageText(*last, summary.window.EndEpoch);
        return out;
    }
    if (!summary.findings.knownSince)
        return "none known";
    std::string out = "none since ";
    out += timeText(*summary.findings.knownSince, zone);
    return out;
}

// A whole number of the C locale's digits; one too large for a count, as
// "%.6g".
std::string wholeText(double value) {
    if (std::fabs(value) < 9e15)
        return std::to_string(static_cast<long long>(value));
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// Kilobytes as the dump counts them (1024 bytes), in the largest unit that
// keeps a number of at least 1: "0 KB", "812 KB", "1.5 MB", "12.4 GB".
std::string sizeText(double kbytes) {
    if (!std::isfinite(kbytes) || kbytes < 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g KB", kbytes);
        return text;
    }
    if (std::round(kbytes) < 1024)
        return wholeText(std::round(kbytes)) + " KB";
    static constexpr std::array<std::string_view, 3> kUnits{"MB", "GB", "TB"};
    double value = kbytes / 1024;
    std::size_t unit = 0;
    // Rounded as shown, so that 1023.97 MB reads as 1.0 GB, not 1024.0 MB.
    while (unit + 1 < kUnits.size() && std::round(value * 10) >= 1024 * 10) {
        value /= 1024;
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.1f ", value);
    std::string out = text;
    out += kUnits[unit];
    return out;
}

// Seconds as a reader counts them: "45 s", "48 min", "5 h 12 min".
std::string durationText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= 9e15) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g s", seconds);
        return text;
    }
    const auto whole = static_cast<long long>(std::round(seconds));
    if (whole < 60)
        return std::to_string(whole) + " s";
    if (whole < 3600)
        return std::to_string(whole / 60) + " min";
    std::string out = std::to_string(whole / 3600);
    out += " h ";
    out += std::to_string(whole % 3600 / 60);
    out += " min";
    return out;
}

// What made a success suspicious, with the figures that did: a job that
// wrote nothing is also far smaller than usual, and is said once.
std::string checkText(const SuspiciousJob& job) {
    const auto has = [&job](Suspicion reason) {
        return std::find(job.reasons.begin(), job.reasons.end(), reason) != job.reasons.end();
    };
    std::string out;
    if (has(Suspicion::NoData) || has(Suspicion::Small)) {
        out += "wrote ";
        out += sizeText(job.size.kbytes);
        out += "; usually ";
        out += sizeText(job.usual.kbytes);
    }
    if (has(Suspicion::Long)) {
        out += out.empty() ? "" : " / ";
        out += "ran ";
        out += durationText(job.size.elapsed);
        out += "; usually ";
        out += durationText(job.usual.elapsed);
    }
    return out;
}

std::string intervalText(int days) {
    if (days == 1)
        return "every day";
    std::string out = "every ";
    out += std::to_string(days);
    out += " days";
    return out;
}

std::string statusText(std::string_view status, const ShownMeanings& meanings) {
    std::string out = shownUtf8(status);
    if (const auto found = meanings.find(status); found != meanings.end())
        out += " (" + found->second + ')';
    return out;
}

// The counts' line, shared by the text and the HTML.
std::string countsLine(const ActionSummary& summary) {
    const FindingCounts& counts = summary.findings.counts;
    const TimeZone* zone = summary.window.zone;
    // A zone of the operator's choosing is named; the report zone is the
    // one every reader knows.
    const std::string zoneNote = zone ? " (times in " + shownUtf8(zone->name()) + ")" : "";
    // The window's jobs are every policy's, the page's only the daily
    // policies': said side by side, the page's count is not read as a
    // contradiction.
    std::string out =
        counted(counts.jobs, "job", "jobs") + ", " + std::to_string(summary.report.counts.jobs) +
        " of them of daily policies (on the page), from " +
        timeText(summary.window.StartEpoch, zone) + " to " +
        timeText(summary.window.EndEpoch, zone) + zoneNote + ": " + std::to_string(counts.failed) +
        " failed, " + std::to_string(counts.recovered) + " of them recovered; " +
        counted(counts.failing, "stream", "streams") + " still failing; " +
        counted(counts.notFound, "daily policy", "daily policies") + " not found; " +
        std::to_string(counts.running) + " still running; " + std::to_string(counts.partial) +
        " partly succeeded.";
    if (counts.skippedLines > 0) {
        out += ' ' + counted(counts.skippedLines, "line", "lines") +
               " of the dump outside the window could not be read and " +
               (counts.skippedLines == 1 ? "was" : "were") + " skipped.";
    }
    return out;
}

std::string moreText(std::size_t all) {
    return std::string(kEllipsis) + " and " + std::to_string(all - kListedRows) + " more";
}

std::string pageLine(const ActionSummary& summary) {
    const std::string page = shownUtf8(summary.report.page.string());
    if (summary.pageAttached)
        return "The page (attached): " + page;
    const std::string size = std::to_string(summary.pageSize);
    const std::string limit = std::to_string(summary.pageLimit);
    if (summary.pageSize > summary.pageLimit)
        return "The page: " + page + " (not attached: it has " + size +
               " bytes, more than the limit of " + limit + ")";
    return "The page: " + page + " (not attached: it has " + size +
           " bytes, and the mail with it would be larger than the limit of " + limit + ")";
}

// The summary is said once, as sections, and written from them as text and
// as HTML, so that the two parts cannot tell different things.
enum class SectionKind {
    Counts,
    OutOfOrder,
    Failing,
    NotFound,
    Overdue,
    NotJudged,
    Check,
    Nights,
    Running,
    Recovered,
    Page
};

// Said under the first list's heading when the run's history could not be
// read: without it the lists' times reach back only as far as the dump.
std::string historyNotReadLine(const ActionSummary& summary) {
    if (summary.history == nullptr || summary.history->used())
        return "";
    std::string out = "History not read: ";
    out += shownUtf8(summary.history->error);
    out += ". Last successes and failing since rest on today's dump alone.";
    return out;
}

using Row = std::vector<std::string>;

// One row of the nights' grid: a name and its shown nights, night 0 first.
struct GridRow {
    std::string name;  // as shownUtf8 makes it
    NightStates states;
};

struct GridList {
    std::string heading;
    std::vector<GridRow> rows{};  // the first kListedRows
    std::size_t all = 0;
};

// The last nights of the daily policies and of the streams still failing.
struct NightGrid {
    std::vector<std::string> dates;  // each shown night's start date, night 0 first
    std::vector<std::string> lines;  // said above the grid
    std::vector<GridList> lists;
};

struct Section {
    SectionKind kind = SectionKind::Counts;
    // A line's whole text, or a list's heading.
    std::string heading{};
    // Said after a list's heading in the text; the HTML's headings stay short.
    std::string note{};
    // A line of its own under a list's heading, before its rows, in the
    // text and the HTML: what the rows' times rest on.
    std::string caveat{};
    // A list whose count is none: its heading is a sentence, and the text
    // shows no table under it.
    bool none = false;
    bool textOnly = false;  // the HTML leaves it out
    // A list's column names; none for a line. The first `titleCells` cells
    // name the row: the HTML makes them its block's title.
    std::vector<std::string> columns{};
    std::size_t titleCells = 0;
    std::vector<Row> rows{};  // the first kListedRows
    std::size_t all = 0;      // rows there are; more than shown ends in "… and N more"
    NightGrid grid{};         // the Nights section's
};

Section lineSection(SectionKind kind, std::string text) {
    return {.kind = kind, .heading = std::move(text)};
}

template <class Item, class Cells>
Section listSection(SectionKind kind, std::vector<std::string> columns, std::size_t titleCells,
                    const std::vector<Item>& items, Cells cells) {
    Section section{.kind = kind, .columns = std::move(columns), .titleCells = titleCells};
    for (std::size_t i = 0; i < items.size() && i < kListedRows; ++i)
        section.rows.push_back(cells(items[i]));
    section.all = items.size();
    return section;
}

// The date a night starts on, as the summary shows dates.
std::string dateText(double epochSeconds, const TimeZone* zone) {
    std::string text = timeText(epochSeconds, zone);
    // "MM/DD/YYYY HH:mm:ss": the date is its first word; a time no clock
    // can show stays the number it is.
    if (text.find(' ') == 10)
        text.resize(10);
    return text;
}

// `count` nights of `states`, night 0 first; a night it does not hold
// cannot be told.
NightStates shownNights(const NightStates& states, std::size_t count) {
    NightStates shown(count, NightState::Unknown);
    std::copy_n(states.begin(), std::min(count, states.size()), shown.begin());
    return shown;
}

// "✓ succeeded  ! partly  ✗ failed  … running  · no job  ? not known".
std::string legendLine() {
    std::string out;
    for (const NightState state : kLegendStates) {
        if (!out.empty())
            out += "  ";
        out += nightSign(state);
        out += ' ';
        out += nightWords(state);
    }
    return out;
}

// The last kMailNights nights of each daily policy and each stream still
// failing; none when the nights were not gathered or there is no row.
std::optional<Section> nightsSection(const ActionSummary& summary) {
    const Findings& findings = summary.findings;
    const std::size_t count = std::min(kMailNights, findings.nights.size());
    if (count == 0 || (findings.dailyNights.empty() && findings.failing.empty()))
        return std::nullopt;
    Section section{.kind = SectionKind::Nights};
    section.heading = "Last " + std::to_string(count) + " nights";
    NightGrid& grid = section.grid;
    for (std::size_t k = 0; k < count; ++k)
        grid.dates.push_back(dateText(findings.nights[k].start, summary.window.zone));
    std::string range = "From ";
    range += grid.dates.back();
    range += " to ";
    range += grid.dates.front();
    range += ", by the date each night starts.";
    grid.lines.push_back(std::move(range));
    grid.lines.push_back("The oldest night is on the left, this report's night on the right.");

    const auto listOf = [&](std::string heading, const auto& items, auto row) {
        GridList list{.heading = std::move(heading), .all = items.size()};
        for (std::size_t i = 0; i < items.size() && i < kListedRows; ++i)
            list.rows.push_back(row(items[i]));
        grid.lists.push_back(std::move(list));
    };
    if (!findings.dailyNights.empty()) {
        listOf("Daily policies", findings.dailyNights, [&](const PolicyNights& policy) {
            return GridRow{shownUtf8(policy.policy), shownNights(policy.nights, count)};
        });
    }
    if (!findings.failing.empty()) {
        listOf("Still failing (policy / client / schedule)", findings.failing,
               [&](const FailingStream& stream) {
                   std::string name = shownUtf8(stream.policy);
                   name += " / ";
                   name += shownUtf8(stream.client);
                   name += " / ";
                   name += shownUtf8(stream.schedule);
                   return GridRow{std::move(name), shownNights(stream.nights, count)};
               });
    }
    return section;
}

// What the summary says, in the reader's order: what needs action, then
// what is missing, then what fixed itself. Cells as shownUtf8 makes them.
std::vector<Section> summarySections(const ActionSummary& summary) {
    const Findings& findings = summary.findings;
    const FindingCounts& counts = findings.counts;
    const ShownMeanings meanings = shownMeanings(summary.meanings);
    const TimeZone* zone = summary.window.zone;

    std::vector<Section> sections;
    sections.push_back(lineSection(SectionKind::Counts, countsLine(summary)));
    if (counts.leftOutOfPage > 0) {
        sections.push_back(lineSection(
            SectionKind::OutOfOrder,
            "The dump is not newest first: the page left out " +
                counted(counts.leftOutOfPage, "window job", "window jobs") +
                " that lie below the line where it stopped, so the page and this summary "
                "disagree. The dump must list its newest job first."));
    }

    Section failing = listSection(
        SectionKind::Failing,
        {"Policy", "Client", "Schedule", "Status", "Failed jobs", "Last success", "Failing since",
         "Failed since last success", "Newest failed job"},
        3, findings.failing, [&](const FailingStream& stream) -> Row {
            return {shownUtf8(stream.policy) + (stream.daily ? "" : " (not daily)"),
                    shownUtf8(stream.client),
                    shownUtf8(stream.schedule),
                    statusText(stream.status, meanings),
                    std::to_string(stream.failedJobs),
                    lastKnownText(stream.lastSuccess, summary),
                    stream.failingSince ? timeText(*stream.failingSince, zone) : "unknown",
                    std::to_string(stream.failedSinceSuccess),
                    shownUtf8(stream.jobId) + " at " + timeText(stream.start, zone)};
        });
    failing.none = counts.failing == 0;
    failing.heading =
        failing.none
            ? "Needs action: no stream is still failing"
            : "Needs action: " + counted(counts.failing, "stream", "streams") + " still failing";
    failing.caveat = historyNotReadLine(summary);
    sections.push_back(std::move(failing));

    Section notFound =
        listSection(SectionKind::NotFound, {"Policy", "Last job", "Last success"}, 1,
                    findings.notFound, [&](const MissingPolicy& policy) -> Row {
                        return {shownUtf8(policy.policy), lastKnownText(policy.lastJob, summary),
                                lastKnownText(policy.lastSuccess, summary)};
                    });
    notFound.none = notFound.textOnly = counts.notFound == 0;
    notFound.heading = notFound.none
                           ? "Every daily policy has jobs"
                           : "Daily policies not found: " + std::to_string(counts.notFound);
    sections.push_back(std::move(notFound));

    // Without policy_intervals.txt there is nothing to say of intervals.
    if (!findings.intervals.empty()) {
        std::vector<const IntervalPolicy*> overdue;
        std::size_t unknown = 0;
        for (const IntervalPolicy& policy : findings.intervals) {
            if (policy.verdict == IntervalPolicy::Verdict::Overdue)
                overdue.push_back(&policy);
            unknown += policy.verdict == IntervalPolicy::Verdict::Unknown ? 1 : 0;
        }
        Section late =
            listSection(SectionKind::Overdue, {"Policy", "Interval", "Last success", "Last job"}, 1,
                        overdue, [&](const IntervalPolicy* policy) -> Row {
                            return {shownUtf8(policy->policy), intervalText(policy->intervalDays),
                                    lastKnownText(policy->lastSuccess, summary),
                                    lastKnownText(policy->lastJob, summary)};
                        });
        late.none = late.textOnly = overdue.empty();
        if (late.none) {
            late.heading = "No policy of ";
            late.heading += kPolicyIntervalsFile;
            late.heading += " is overdue";
        } else {
            late.heading = "Overdue policies: ";
            late.heading += std::to_string(overdue.size());
        }
        sections.push_back(std::move(late));
        // Known jobs that begin within a policy's interval cannot tell that
        // it had no success in it: only when they begin is said.
        if (unknown > 0) {
            std::string line = "Not yet judged (";
            if (findings.knownSince) {
                line += "the known jobs begin ";
                line += timeText(*findings.knownSince, zone);
            } else {
                line += "no jobs are known";
            }
            line += "): ";
            line += counted(unknown, "policy", "policies");
            line += " of ";
            line += kPolicyIntervalsFile;
            line += '.';
            sections.push_back(lineSection(SectionKind::NotJudged, std::move(line)));
        }
    }

    // After all that needs action, which a long grid must not push down.
    if (std::optional<Section> nights = nightsSection(summary))
        sections.push_back(std::move(*nights));

    // Said only when there are some: without a job history no success has
    // earlier ones to be measured against, and "none" would claim a check
    // that was not made.
    if (!findings.suspicious.empty()) {
        Section check = listSection(
            SectionKind::Check, {"Policy", "Client", "Schedule", "Job", "Started", "Check"}, 3,
            findings.suspicious, [&](const SuspiciousJob& job) -> Row {
                return {shownUtf8(job.policy), shownUtf8(job.client),     shownUtf8(job.schedule),
                        shownUtf8(job.jobId),  timeText(job.start, zone), checkText(job)};
            });
        check.heading = "Succeeded, but check: ";
        check.heading += counted(findings.suspicious.size(), "job", "jobs");
        check.note = " that saved far less or ran far longer than their stream usually does";
        sections.push_back(std::move(check));
    }

    sections.push_back(
        lineSection(SectionKind::Running,
                    "Still running or queued: " + counted(counts.running, "job", "jobs") + '.'));

    Section recovered =
        listSection(SectionKind::Recovered,
                    {"Policy", "Client", "Schedule", "Status", "Failed job", "Recovered by job"}, 3,
                    findings.recovered, [&](const RecoveredJob& job) -> Row {
                        return {shownUtf8(job.policy),
                                shownUtf8(job.client),
                                shownUtf8(job.schedule),
                                statusText(job.status, meanings),
                                shownUtf8(job.jobId) + " at " + timeText(job.start, zone),
                                shownUtf8(job.recoveredBy)};
                    });
    recovered.none = counts.recovered == 0;
    recovered.heading =
        recovered.none ? "Recovered: none"
                       : "Recovered: " + counted(counts.recovered, "failed job", "failed jobs");
    recovered.note = " that a later job of the same stream made good";
    sections.push_back(std::move(recovered));

    sections.push_back(lineSection(SectionKind::Page, pageLine(summary)));
    return sections;
}

// Characters as a monospaced reader shows them.
std::size_t width(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return !isUtf8Continuation(static_cast<unsigned char>(c));
    }));
}

void appendCaveat(std::string& out, const Section& list) {
    if (!list.caveat.empty())
        out += list.caveat + '\n';
}

// A list's rows as text in aligned columns.
void appendTable(std::string& out, const Section& list) {
    std::vector<std::size_t> widths(list.columns.size());
    for (std::size_t i = 0; i < list.columns.size(); ++i)
        widths[i] = std::min(width(list.columns[i]), kColumnMost);
    for (const Row& row : list.rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], std::min(width(row[i]), kColumnMost));
    }
    const auto appendRow = [&](const Row& cells) {
        out += "  ";
        for (std::size_t i = 0; i < cells.size(); ++i) {
            out += cells[i];
            if (i + 1 < cells.size())
                out.append(widths[i] - std::min(width(cells[i]), widths[i]) + 2, ' ');
        }
        out += '\n';
    };
    appendRow(list.columns);
    for (const Row& row : list.rows)
        appendRow(row);
    if (list.all > list.rows.size())
        out += "  " + moreText(list.all) + '\n';
}

// A grid's name is cut to a column's most, so that every row's nights line
// up in the text and the name column stays narrow in the HTML (where the
// style may cut it shorter, and its title holds it whole).
std::string gridName(const std::string& name) {
    if (width(name) <= kColumnMost)
        return name;
    std::size_t at = 0, characters = 0;
    while (at < name.size()) {
        if (!isUtf8Continuation(static_cast<unsigned char>(name[at])) &&
            ++characters == kColumnMost)
            break;
        ++at;
    }
    std::string out = name.substr(0, at);
    out += kEllipsis;
    return out;
}

// The grid as text: each row's signs after its name, the oldest night
// first, the names padded as the tables pad a column.
void appendGridText(std::string& out, const Section& section) {
    const NightGrid& grid = section.grid;
    out += section.heading;
    out += '\n';
    for (const std::string& line : grid.lines) {
        out += line;
        out += '\n';
    }
    out += legendLine();
    out += '\n';
    std::size_t names = 0;
    for (const GridList& list : grid.lists) {
        for (const GridRow& row : list.rows)
            names = std::max(names, width(gridName(row.name)));
    }
    for (const GridList& list : grid.lists) {
        out += list.heading;
        out += ":\n";
        for (const GridRow& row : list.rows) {
            const std::string name = gridName(row.name);
            out += "  ";
            out += name;
            out.append(names - width(name) + 2, ' ');
            for (auto state = row.states.rbegin(); state != row.states.rend(); ++state)
                out += nightSign(*state);
            out += '\n';
        }
        if (list.all > list.rows.size()) {
            out += "  ";
            out += moreText(list.all);
            out += '\n';
        }
    }
}

// HTML building blocks, inline-styled so that mail programs keep them.
constexpr std::string_view kHeadingStyle =
    "font-size:17px;margin:20px 0 8px 0;padding-bottom:4px;border-bottom:1px solid #ccc";
constexpr std::string_view kRowStyle =
    "margin:0 0 8px 0;padding:8px 10px;border-radius:4px;overflow-wrap:anywhere;"
    "word-break:break-word";
constexpr std::string_view kFailingStyle = "background:#fde8e8;border-left:4px solid #c62828";
constexpr std::string_view kMissingStyle = "background:#fff4e0;border-left:4px solid #ef6c00";
constexpr std::string_view kCheckStyle = "background:#fffbe0;border-left:4px solid #f9a825";
constexpr std::string_view kRecoveredStyle = "background:#eef6ee;border-left:4px solid #2e7d32";

std::string escaped(std::string_view utf8) {
    std::string out;
    appendHtmlText(out, utf8);
    return out;
}

// Text for an attribute's quotes.
std::string attribute(std::string_view utf8) {
    std::string out;
    for (const char c : utf8) {
        if (c == '"')
            out += "&quot;";
        else if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

// The name column takes what the nights leave of a phone's width, so that
// all 14 nights show without scrolling there; mail programs that ignore
// the fixed layout still show the cut names.
constexpr std::string_view kGridNameStyle =
    "overflow:hidden;white-space:nowrap;text-overflow:ellipsis";
constexpr std::string_view kCellSize = "18px";

// A night's square, drawn as on the history page: its colour and its sign,
// which reads without the colour.
std::string cellStyle(NightState state) {
    std::string out = "width:";
    out += kCellSize;
    out += ";height:";
    out += kCellSize;
    out +=
        ";padding:0;text-align:center;vertical-align:middle;font-weight:bold;font-size:12px;"
        "line-height:16px;border:1px solid #9e9e9e;box-sizing:border-box;background:";
    out += nightColour(state);
    out += ";color:";
    out += nightInk(state);
    return out;
}

// The grid as a table that may scroll sideways in its own block on a
// phone, so that the mail's body never does.
void appendGridHtml(std::string& out, const Section& section) {
    const NightGrid& grid = section.grid;
    const std::string columns = std::to_string(grid.dates.size() + 1);
    out += "<h2 style=\"";
    out += kHeadingStyle;
    out += "\">";
    out += escaped(section.heading);
    out += "</h2>\n";
    for (const std::string& line : grid.lines) {
        out += "<p style=\"margin:0 0 4px 0;font-size:14px;color:#333\">";
        out += escaped(line);
        out += "</p>\n";
    }
    out +=
        "<div style=\"overflow-x:auto;max-width:100%;margin:0 0 6px 0\">\n"
        "<table style=\"width:100%;max-width:560px;table-layout:fixed;border-collapse:separate;"
        "border-spacing:1px;font-size:13px\">\n<colgroup><col>";
    for (std::size_t k = 0; k < grid.dates.size(); ++k) {
        out += "<col style=\"width:";
        out += kCellSize;
        out += "\">";
    }
    out += "</colgroup>\n";
    for (const GridList& list : grid.lists) {
        out += "<tr><td colspan=\"";
        out += columns;
        out += "\" style=\"font-weight:bold;padding:6px 0 2px 0\">";
        out += escaped(list.heading);
        out += "</td></tr>\n";
        for (const GridRow& row : list.rows) {
            out += "<tr><td title=\"";
            out += attribute(row.name);
            out += "\" style=\"padding:0 4px 0 0\"><div style=\"";
            out += kGridNameStyle;
            out += "\">";
            out += escaped(gridName(row.name));
            out += "</div></td>";
            for (std::size_t k = row.states.size(); k-- > 0;) {
                const NightState state = row.states[k];
                out += "<td data-night=\"";
                out += std::to_string(k);
                out += "\" title=\"";
                out += attribute(grid.dates[k]);
                out += ": ";
                out += nightWords(state);
                out += "\" style=\"";
                out += cellStyle(state);
                out += "\">";
                out += nightSign(state);
                out += "</td>";
            }
            out += "</tr>\n";
        }
        if (list.all > list.rows.size()) {
            out += "<tr><td colspan=\"";
            out += columns;
            out += "\" style=\"padding:2px 0\">";
            out += escaped(moreText(list.all));
            out += "</td></tr>\n";
        }
    }
    out += "</table>\n</div>\n<p style=\"margin:0 0 8px 0;font-size:14px;line-height:2\">";
    for (const NightState state : kLegendStates) {
        out +=
            "<span style=\"white-space:nowrap;margin-right:12px\"><span style=\"display:"
            "inline-block;";
        out += cellStyle(state);
        out += "\">";
        out += nightSign(state);
        out += "</span> ";
        out += nightWords(state);
        out += "</span> ";
    }
    out += "</p>\n";
}

// A line's paragraph, as its kind is shown.
std::string paragraphTag(SectionKind kind) {
    switch (kind) {
        case SectionKind::Counts:
            return "<p style=\"margin:0 0 12px 0\">";
        case SectionKind::OutOfOrder:
            return "<p style=\"" + std::string(kRowStyle) + ';' + std::string(kFailingStyle) +
                   "\">";
        case SectionKind::NotJudged:
            return "<p class=\"not-judged\" style=\"margin:0 0 8px 0;font-size:14px;color:#555\">";
        case SectionKind::Page:
            return "<p style=\"margin-top:20px;font-size:13px;color:#555;overflow-wrap:anywhere\">";
        default:
            return "<p>";
    }
}

// A list's rows are blocks coloured by what they need; the class names them
// for whoever reads the HTML itself.
struct RowLook {
    std::string_view style, rowClass;
};

RowLook rowLook(SectionKind kind) {
    switch (kind) {
        case SectionKind::Failing:
            return {kFailingStyle, "failing"};
        case SectionKind::NotFound:
            return {kMissingStyle, "not-found"};
        case SectionKind::Overdue:
            return {kMissingStyle, "overdue"};
        case SectionKind::Check:
            return {kCheckStyle, "check"};
        default:
            return {kRecoveredStyle, "recovered"};
    }
}

// One row as a block: its title first, then "label: value" pairs that wrap.
void appendHtmlRow(std::string& out, const Section& list, const Row& cells) {
    const RowLook look = rowLook(list.kind);
    std::string title;
    for (std::size_t i = 0; i < list.titleCells; ++i)
        title += (i > 0 ? " / " : "") + cells[i];
    out += "<div class=\"" + std::string(look.rowClass) + "\" style=\"" + std::string(kRowStyle) +
           ';' + std::string(look.style) + "\"><div style=\"font-weight:bold\">" + escaped(title) +
           "</div><div style=\"font-size:14px;color:#333\">";
    for (std::size_t i = list.titleCells; i < cells.size(); ++i) {
        if (i > list.titleCells)
            out += " &middot; ";
        out += "<span style=\"white-space:nowrap\">" + escaped(list.columns[i]) + ":</span> " +
               escaped(cells[i]);
    }
    out += "</div></div>\n";
}

}  // namespace

std::string pageDate(const std::filesystem::path& page) {
    const std::string name = page.filename().string();
    if (name.size() > kPageNamePrefix.size() + kPageNameSuffix.size() &&
        name.starts_with(kPageNamePrefix) && name.ends_with(kPageNameSuffix))
        return name.substr(kPageNamePrefix.size(),
                           name.size() - kPageNamePrefix.size() - kPageNameSuffix.size());
    return name;
}

bool needsAction(const Findings& findings) {
    return findings.counts.failing > 0 || findings.counts.notFound > 0 ||
           findings.counts.overdue > 0 || findings.counts.leftOutOfPage > 0;
}

std::string actionSubject(const ActionSummary& summary) {
    const FindingCounts& counts = summary.findings.counts;
    std::string out = std::string(kTitle) + ' ' + asUtf8(pageDate(summary.report.page)) + ": ";
    const std::string jobs = counted(counts.jobs, "job", "jobs");
    const std::string recovered =
        counts.recovered > 0 ? std::to_string(counts.recovered) + " recovered, " : "";
    if (needsAction(summary.findings)) {
        std::string parts;
        if (counts.failing > 0)
            parts = std::to_string(counts.failing) + " still failing";
        if (counts.notFound > 0) {
            parts += parts.empty() ? "" : ", ";
            parts += counted(counts.notFound, "daily policy", "daily policies") + " not found";
        }
        if (counts.overdue > 0) {
            parts += parts.empty() ? "" : ", ";
            parts += counted(counts.overdue, "policy", "policies") + " overdue";
        }
        if (counts.leftOutOfPage > 0) {
            parts += parts.empty() ? "" : ", ";
            parts += "dump not newest first";
        }
        return out + parts + " (" + recovered + jobs + ')';
    }
    if (counts.jobs == 0)
        return out + "no jobs";
    // A suspicious success needs a look, not action: said only when nothing
    // else is, so that it never hides what does.
    if (counts.suspicious > 0) {
        out += counts.failed == 0 ? "nothing failed, " : "nothing needs action, ";
        out += counted(counts.suspicious, "success", "successes");
        out += " to check (";
        out += recovered;
        out += jobs;
        out += ')';
        return out;
    }
    if (counts.failed == 0 && counts.running == 0)
        return out + (counts.jobs == 1 ? "1 job succeeded" : "all " + jobs + " succeeded");
    return out + "nothing needs action (" + recovered + jobs + ')';
}

std::string failureSubject(std::string_view failure) {
    // A subject holds a short line; the mail's text and standard error carry
    // the message whole.
    constexpr std::size_t kMost = 200;
    std::string text = asUtf8(failure);
    if (text.size() > kMost) {
        std::size_t cut = kMost;
        while (cut > 0 && isUtf8Continuation(static_cast<unsigned char>(text[cut])))
            --cut;
        text = text.substr(0, cut) + std::string(kEllipsis);
    }
    return std::string(kTitle) + " FAILED: " + text;
}

std::string summaryText(const ActionSummary& summary) {
    std::string out = actionSubject(summary) + '\n';
    for (const Section& section : summarySections(summary)) {
        out += '\n';
        if (section.kind == SectionKind::Nights) {
            appendGridText(out, section);
        } else if (section.columns.empty()) {
            out += section.heading + '\n';
        } else if (section.none) {
            out += section.heading + ".\n";
            appendCaveat(out, section);
        } else {
            out += section.heading + section.note + '\n';
            appendCaveat(out, section);
            appendTable(out, section);
        }
    }
    return out;
}

std::string summaryHtml(const ActionSummary& summary) {
    const std::string subject = escaped(actionSubject(summary));
    std::string out =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>" +
        subject +
        "</title></head>\n"
        "<body style=\"margin:0;padding:12px;font-family:Arial,Helvetica,sans-serif;"
        "font-size:15px;line-height:1.4;color:#111;background:#fff\">\n"
        "<div style=\"max-width:760px\">\n"
        "<h1 style=\"font-size:20px;margin:0 0 8px 0\">" +
        subject + "</h1>\n";
    for (const Section& section : summarySections(summary)) {
        if (section.textOnly)
            continue;
        if (section.kind == SectionKind::Nights) {
            appendGridHtml(out, section);
            continue;
        }
        if (section.columns.empty()) {
            out += paragraphTag(section.kind) + escaped(section.heading) + "</p>\n";
            continue;
        }
        out += "<h2 style=\"" + std::string(kHeadingStyle) + "\">" + escaped(section.heading) +
               "</h2>\n";
        if (!section.caveat.empty()) {
            out += "<p class=\"caveat\" style=\"" + std::string(kRowStyle) + ';' +
                   std::string(kMissingStyle) + "\">" + escaped(section.caveat) + "</p>\n";
        }
        for (const Row& row : section.rows)
            appendHtmlRow(out, section, row);
        if (section.all > section.rows.size())
            out += "<p>" + escaped(moreText(section.all)) + "</p>\n";
    }
    return out + "</div>\n</body></html>\n";
}

}  // namespace fennick
