#include "delivery/action_summary.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/time_zone.h"
#include "delivery/text_encoding.h"
#include "report/html_text.h"

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
        return std::to_string(static_cast<long long>(epochSeconds)) + " s";
    }
}

std::string lastSuccessText(const std::optional<double>& lastSuccess, int lookbackDays,
                            const TimeZone* zone) {
    if (lastSuccess)
        return timeText(*lastSuccess, zone);
    return lookbackDays > 0
               ? "none in " + counted(static_cast<std::size_t>(lookbackDays), "day", "days")
               : "none since the window's start";
}

std::string lastJobText(const std::optional<double>& lastJob, int lookbackDays,
                        const TimeZone* zone) {
    if (lastJob)
        return timeText(*lastJob, zone);
    return lookbackDays > 0
               ? "none in " + counted(static_cast<std::size_t>(lookbackDays), "day", "days")
               : "none";
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
    std::string out =
        counted(counts.jobs, "job", "jobs") + " from " + timeText(summary.window.StartEpoch, zone) +
        " to " + timeText(summary.window.EndEpoch, zone) + zoneNote + ": " +
        std::to_string(counts.failed) + " failed, " + std::to_string(counts.recovered) +
        " of them recovered; " + counted(counts.failing, "stream", "streams") + " still failing; " +
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

// Characters as a monospaced reader shows them.
std::size_t width(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// A table of text in aligned columns; rows are cells already in UTF-8.
void appendTable(std::string& out, const std::vector<std::string>& heading,
                 const std::vector<std::vector<std::string>>& rows, std::size_t all) {
    std::vector<std::size_t> widths(heading.size());
    for (std::size_t i = 0; i < heading.size(); ++i)
        widths[i] = std::min(width(heading[i]), kColumnMost);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], std::min(width(row[i]), kColumnMost));
    }
    const auto appendRow = [&](const std::vector<std::string>& cells) {
        out += "  ";
        for (std::size_t i = 0; i < cells.size(); ++i) {
            out += cells[i];
            if (i + 1 < cells.size())
                out.append(widths[i] - std::min(width(cells[i]), widths[i]) + 2, ' ');
        }
        out += '\n';
    };
    appendRow(heading);
    for (const auto& row : rows)
        appendRow(row);
    if (all > rows.size())
        out += "  " + moreText(all) + '\n';
}

// The rows each list shows, cells as shownUtf8 makes them.
std::vector<std::vector<std::string>> failingRows(const ActionSummary& summary,
                                                  const ShownMeanings& meanings) {
    std::vector<std::vector<std::string>> rows;
    for (const FailingStream& stream : summary.findings.failing) {
        if (rows.size() == kListedRows)
            break;
        rows.push_back(
            {shownUtf8(stream.policy) + (stream.daily ? "" : " (not daily)"),
             shownUtf8(stream.client), shownUtf8(stream.schedule),
             statusText(stream.status, meanings), std::to_string(stream.failedJobs),
             lastSuccessText(stream.lastSuccess, summary.lookbackDays, summary.window.zone),
             shownUtf8(stream.jobId) + " at " + timeText(stream.start, summary.window.zone)});
    }
    return rows;
}

std::vector<std::vector<std::string>> notFoundRows(const ActionSummary& summary) {
    std::vector<std::vector<std::string>> rows;
    for (const MissingPolicy& policy : summary.findings.notFound) {
        if (rows.size() == kListedRows)
            break;
        rows.push_back(
            {shownUtf8(policy.policy),
             lastJobText(policy.lastJob, summary.lookbackDays, summary.window.zone),
             lastSuccessText(policy.lastSuccess, summary.lookbackDays, summary.window.zone)});
    }
    return rows;
}

std::vector<std::vector<std::string>> recoveredRows(const ActionSummary& summary,
                                                    const ShownMeanings& meanings) {
    std::vector<std::vector<std::string>> rows;
    for (const RecoveredJob& job : summary.findings.recovered) {
        if (rows.size() == kListedRows)
            break;
        rows.push_back({shownUtf8(job.policy), shownUtf8(job.client), shownUtf8(job.schedule),
                        statusText(job.status, meanings),
                        shownUtf8(job.jobId) + " at " + timeText(job.start, summary.window.zone),
                        shownUtf8(job.recoveredBy)});
    }
    return rows;
}

const std::vector<std::string> kFailingHeading{
    "Policy", "Client", "Schedule", "Status", "Failed jobs", "Last success", "Newest failed job"};
const std::vector<std::string> kNotFoundHeading{"Policy", "Last job", "Last success"};
const std::vector<std::string> kRecoveredHeading{"Policy", "Client",     "Schedule",
                                                 "Status", "Failed job", "Recovered by job"};

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

// Empty for a dump that is newest first, as far as the findings read it.
std::string orderLine(const ActionSummary& summary) {
    const std::size_t leftOut = summary.findings.counts.leftOutOfPage;
    if (leftOut == 0)
        return {};
    return "The dump is not newest first: the page left out " +
           counted(leftOut, "window job", "window jobs") +
           " that lie below the line where it stopped, so the page and this summary disagree. "
           "The dump must list its newest job first.";
}

std::string runningLine(const ActionSummary& summary) {
    return "Still running or queued: " + counted(summary.findings.counts.running, "job", "jobs") +
           '.';
}

// HTML building blocks, inline-styled so that mail programs keep them.
constexpr std::string_view kHeadingStyle =
    "font-size:17px;margin:20px 0 8px 0;padding-bottom:4px;border-bottom:1px solid #ccc";
constexpr std::string_view kRowStyle =
    "margin:0 0 8px 0;padding:8px 10px;border-radius:4px;overflow-wrap:anywhere;"
    "word-break:break-word";
constexpr std::string_view kFailingStyle = "background:#fde8e8;border-left:4px solid #c62828";
constexpr std::string_view kMissingStyle = "background:#fff4e0;border-left:4px solid #ef6c00";
constexpr std::string_view kRecoveredStyle = "background:#eef6ee;border-left:4px solid #2e7d32";

std::string escaped(std::string_view utf8) {
    std::string out;
    appendHtmlText(out, utf8);
    return out;
}

void appendHtmlHeading(std::string& out, std::string_view text) {
    out += "<h2 style=\"" + std::string(kHeadingStyle) + "\">" + escaped(text) + "</h2>\n";
}

// One row as a block: its title first, then "label: value" pairs that wrap.
void appendHtmlRow(std::string& out, std::string_view style, const std::string& title,
                   const std::vector<std::string>& labels, const std::vector<std::string>& cells,
                   std::size_t firstDetail, const std::string& rowClass) {
    out += "<div class=\"" + rowClass + "\" style=\"" + std::string(kRowStyle) + ';' +
           std::string(style) + "\"><div style=\"font-weight:bold\">" + escaped(title) +
           "</div><div style=\"font-size:14px;color:#333\">";
    for (std::size_t i = firstDetail; i < cells.size(); ++i) {
        if (i > firstDetail)
            out += " &middot; ";
        out += "<span style=\"white-space:nowrap\">" + escaped(labels[i]) + ":</span> " +
               escaped(cells[i]);
    }
    out += "</div></div>\n";
}

void appendHtmlMore(std::string& out, std::size_t all) {
    if (all > kListedRows)
        out += "<p>" + escaped(moreText(all)) + "</p>\n";
}

}  // namespace

std::string pageDate(const std::filesystem::path& page) {
    const std::string name = page.filename().string();
    constexpr std::string_view kPrefix = "report_", kSuffix = ".html";
    if (name.size() > kPrefix.size() + kSuffix.size() && name.starts_with(kPrefix) &&
        name.ends_with(kSuffix))
        return name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    return name;
}

bool needsAction(const Findings& findings) {
    return findings.counts.failing > 0 || findings.counts.notFound > 0 ||
           findings.counts.leftOutOfPage > 0;
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
        if (counts.leftOutOfPage > 0) {
            parts += parts.empty() ? "" : ", ";
            parts += "dump not newest first";
        }
        return out + parts + " (" + recovered + jobs + ')';
    }
    if (counts.jobs == 0)
        return out + "no jobs";
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
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        text = text.substr(0, cut) + std::string(kEllipsis);
    }
    return std::string(kTitle) + " FAILED: " + text;
}

std::string summaryText(const ActionSummary& summary) {
    const Findings& findings = summary.findings;
    const ShownMeanings meanings = shownMeanings(summary.meanings);
    std::string out = actionSubject(summary) + "\n\n" + countsLine(summary) + "\n\n";
    if (const std::string order = orderLine(summary); !order.empty())
        out += order + "\n\n";
    if (findings.counts.failing == 0) {
        out += "Needs action: no stream is still failing.\n";
    } else {
        out += "Needs action: " + counted(findings.counts.failing, "stream", "streams") +
               " still failing\n";
        appendTable(out, kFailingHeading, failingRows(summary, meanings), findings.failing.size());
    }
    out += '\n';
    if (findings.counts.notFound == 0) {
        out += "Every daily policy has jobs.\n";
    } else {
        out += "Daily policies not found: " + std::to_string(findings.counts.notFound) + '\n';
        appendTable(out, kNotFoundHeading, notFoundRows(summary), findings.notFound.size());
    }
    out += '\n' + runningLine(summary) + "\n\n";
    if (findings.counts.recovered == 0) {
        out += "Recovered: none.\n";
    } else {
        out += "Recovered: " + counted(findings.counts.recovered, "failed job", "failed jobs") +
               " that a later job of the same stream made good\n";
        appendTable(out, kRecoveredHeading, recoveredRows(summary, meanings),
                    findings.recovered.size());
    }
    out += '\n' + pageLine(summary) + '\n';
    return out;
}

std::string summaryHtml(const ActionSummary& summary) {
    const Findings& findings = summary.findings;
    const ShownMeanings meanings = shownMeanings(summary.meanings);
    std::string out =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>" +
        escaped(actionSubject(summary)) +
        "</title></head>\n"
        "<body style=\"margin:0;padding:12px;font-family:Arial,Helvetica,sans-serif;"
        "font-size:15px;line-height:1.4;color:#111;background:#fff\">\n"
        "<div style=\"max-width:760px\">\n";
    out += "<h1 style=\"font-size:20px;margin:0 0 8px 0\">" + escaped(actionSubject(summary)) +
           "</h1>\n";
    out += "<p style=\"margin:0 0 12px 0\">" + escaped(countsLine(summary)) + "</p>\n";
    if (const std::string order = orderLine(summary); !order.empty()) {
        out += "<p style=\"" + std::string(kRowStyle) + ";" + std::string(kFailingStyle) + "\">" +
               escaped(order) + "</p>\n";
    }

    appendHtmlHeading(
        out, findings.counts.failing == 0
                 ? std::string("Needs action: no stream is still failing")
                 : "Needs action: " + counted(findings.counts.failing, "stream", "streams") +
                       " still failing");
    for (const auto& row : failingRows(summary, meanings)) {
        appendHtmlRow(out, kFailingStyle, row[0] + " / " + row[1] + " / " + row[2], kFailingHeading,
                      row, 3, "failing");
    }
    appendHtmlMore(out, findings.failing.size());

    if (findings.counts.notFound > 0) {
        appendHtmlHeading(out,
                          "Daily policies not found: " + std::to_string(findings.counts.notFound));
        for (const auto& row : notFoundRows(summary))
            appendHtmlRow(out, kMissingStyle, row[0], kNotFoundHeading, row, 1, "not-found");
        appendHtmlMore(out, findings.notFound.size());
    }

    out += "<p>" + escaped(runningLine(summary)) + "</p>\n";

    appendHtmlHeading(
        out, findings.counts.recovered == 0
                 ? std::string("Recovered: none")
                 : "Recovered: " + counted(findings.counts.recovered, "failed job", "failed jobs"));
    for (const auto& row : recoveredRows(summary, meanings)) {
        appendHtmlRow(out, kRecoveredStyle, row[0] + " / " + row[1] + " / " + row[2],
                      kRecoveredHeading, row, 3, "recovered");
    }
    appendHtmlMore(out, findings.recovered.size());

    out += "<p style=\"margin-top:20px;font-size:13px;color:#555;overflow-wrap:anywhere\">" +
           escaped(pageLine(summary)) + "</p>\n</div>\n</body></html>\n";
    return out;
}

}  // namespace fennick
