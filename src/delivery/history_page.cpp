#include "delivery/history_page.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "common/time_zone.h"
#include "delivery/night_cells.h"
#include "delivery/text_encoding.h"
#include "report/report_page.h"

namespace fennick {

namespace {

using std::string_view_literals::operator""sv;

constexpr std::string_view kArrow = "\xE2\x86\x92";     // "→"
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // "…"
constexpr std::string_view kDash = "\xE2\x80\x93";      // "–"

// Cells stay 1.4em wide so that 30 nights fit beside the names at 800 px;
// the grid and the list scroll in their own boxes, never the page.
constexpr std::string_view kHead =
    "<!DOCTYPE html>\n"
    "<html lang=\"en\">\n"
    "<head>\n"
    "<meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<title>Backup history</title>\n"
    "<style>\n"
    "*{box-sizing:border-box}\n"
    "html{-webkit-text-size-adjust:100%;text-size-adjust:100%}\n"
    "body{margin:0 auto;padding:12px;max-width:1240px;font:15px/1.45 system-ui,sans-serif;"
    "color:#212121;background:#fff}\n"
    "h1{font-size:1.5em;margin:.2em 0 .3em}\n"
    "h2{font-size:1.15em;margin:1.4em 0 .4em}\n"
    "p{margin:.3em 0;overflow-wrap:anywhere}\n"
    ".scroll{overflow-x:auto;max-width:100%}\n"
    ".chart svg{display:block;width:100%;min-width:460px;max-width:820px;height:auto}\n"
    ".legend{list-style:none;margin:.3em 0 .6em;padding:0;display:flex;flex-wrap:wrap;"
    "gap:.3em 1.2em}\n"
    ".legend span{display:inline-block;width:1.4em;text-align:center;border:1px solid #bdbdbd;"
    "margin-right:.3em}\n"
    // Scrolled from the right, so that a phone opens on the newest nights.
    ".grid{direction:rtl}\n"
    ".grid table{direction:ltr;margin-left:0;margin-right:auto;border-collapse:collapse;"
    "font-size:.9em}\n"
    ".grid th,.grid td{padding:0}\n"
    ".grid th.name{position:sticky;left:0;z-index:1;background:#fff;text-align:left;"
    "font-weight:normal;padding-right:.5em}\n"
    ".grid th.name div{max-width:max(8em,min(16em,22vw));overflow:hidden;"
    "text-overflow:ellipsis;white-space:nowrap}\n"
    ".grid th.day{font-weight:normal;font-size:.8em;vertical-align:bottom;color:#555}\n"
    ".grid th.day span{display:inline-block;writing-mode:vertical-rl;transform:rotate(180deg);"
    "white-space:nowrap;padding:.2em 0}\n"
    ".grid td.night{width:1.4em;min-width:1.4em;height:1.4em;text-align:center;"
    "line-height:1.4em;border:1px solid #bdbdbd}\n"
    ".grid tr.section th{text-align:left;padding:.6em 0 .2em;font-weight:bold}\n"
    ".grid tr.more td{padding:.2em 0;font-style:italic}\n"
    // Headings and "… and N more" stay in sight wherever the grid is scrolled.
    ".grid tr.section span,.grid tr.more span{position:sticky;left:0}\n"
    "table.list{border-collapse:collapse}\n"
    "table.list th,table.list td{padding:.25em .6em;border-bottom:1px solid #e0e0e0;"
    "text-align:left;vertical-align:top}\n"
    "table.list td.n{text-align:right;white-space:nowrap}\n"
    "table.list td.bad{color:#c62828;font-weight:bold}\n"
    "table.list .t{white-space:nowrap}\n"
    "table.list .none{color:#757575}\n"
    // A phone's list wraps its times rather than scroll.
    "@media (max-width:480px){body{font-size:13px;padding:8px}"
    "table.list th,table.list td{padding:.25em .3em}table.list .t{white-space:normal}}\n"
    "</style>\n"
    "</head>\n"
    "<body>\n"
    "<h1>Backup history</h1>\n";

constexpr std::string_view kTail = "</body>\n</html>\n";

// Names and times land in text and in attributes alike, so quotes are
// escaped as well.
void appendEscaped(std::string& out, std::string_view text) {
    std::size_t plain = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::string_view reference;
        switch (text[at]) {
            case '&':
                reference = "&amp;";
                break;
            case '<':
                reference = "&lt;";
                break;
            case '>':
                reference = "&gt;";
                break;
            case '"':
                reference = "&quot;";
                break;
            case '\'':
                reference = "&#39;";
                break;
            default:
                continue;
        }
        out.append(text, plain, at - plain);
        out += reference;
        plain = at + 1;
    }
    out.append(text, plain);
}

// What a reader sees of an input's text, escaped.
std::string shownEscaped(std::string_view text) {
    std::string out;
    appendEscaped(out, shownUtf8(text));
    return out;
}

void appendCount(std::string& out, std::size_t value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

// SVG coordinates, to a tenth.
void appendCoordinate(std::string& out, double value) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.1f", value);
    out.append(text, static_cast<std::size_t>(std::max(length, 0)));
}

// A time as the report shows times; never fails.
std::string timeText(double epochSeconds, const TimeZone* zone) {
    try {
        return zoneText(epochSeconds, zone);
    } catch (...) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g s", epochSeconds);
        return text;
    }
}

// The date `epochSeconds` falls on in `zone`; none for a time outside the
// years the report shows.
std::optional<std::chrono::year_month_day> dateOf(double epochSeconds, const TimeZone* zone) {
    const double instant = std::nearbyint(epochSeconds);
    if (!(std::fabs(instant) < 3e11))
        return std::nullopt;
    const auto at = static_cast<long long>(instant);
    const long long offset = zone ? zone->offsetAt(at) : kReportZoneOffset;
    const LocalTime local{std::chrono::seconds{at + offset}};
    const std::chrono::year_month_day date{std::chrono::floor<std::chrono::days>(local)};
    if (date.year() < std::chrono::year{100} || date.year() > std::chrono::year{9999})
        return std::nullopt;
    return date;
}

void appendTwo(std::string& out, unsigned value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

// "MM/DD", the grid's column heading.
std::string monthDayText(const std::optional<std::chrono::year_month_day>& date) {
    if (!date)
        return "?";
    std::string out;
    appendTwo(out, static_cast<unsigned>(date->month()));
    out += '/';
    appendTwo(out, static_cast<unsigned>(date->day()));
    return out;
}

// "MM/DD/YYYY", as the report's dates read.
std::string fullDateText(const std::optional<std::chrono::year_month_day>& date) {
    if (!date)
        return "?";
    std::string out = monthDayText(date);
    out += '/';
    const auto year = static_cast<unsigned>(static_cast<int>(date->year()));
    appendTwo(out, year / 100);
    appendTwo(out, year % 100);
    return out;
}

// Kilobytes as the dump counts them (1024 bytes), in the largest unit that
// keeps a number of at least 1: "0 KB", "812 KB", "1.5 MB", "12.4 GB".
std::string sizeText(double kbytes) {
    char text[48];
    if (!std::isfinite(kbytes) || kbytes < 0) {
        std::snprintf(text, sizeof text, "%.6g KB", kbytes);
        return text;
    }
    if (std::round(kbytes) < 1024) {
        std::snprintf(text, sizeof text, "%.0f KB", std::round(kbytes));
        return text;
    }
    static constexpr std::array<std::string_view, 3> kUnits{"MB", "GB", "TB"};
    double value = kbytes / 1024;
    std::size_t unit = 0;
    // Rounded as shown, so that 1023.97 MB reads as 1.0 GB, not 1024.0 MB.
    while (unit + 1 < kUnits.size() && std::round(value * 10) >= 1024 * 10) {
        value /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f ", value);
    std::string out = text;
    out += kUnits[unit];
    return out;
}

// A step of 1, 2 or 5 times a power of ten near `rough`.
double niceStep(double rough) {
    if (!(rough > 0) || !std::isfinite(rough))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double scaled = rough / power;
    const double factor = scaled <= 1 ? 1 : scaled <= 2 ? 2 : scaled <= 5 ? 5 : 10;
    return factor * power;
}

// What the page shows of each night, made once for every row that needs it.
struct ShownNight {
    std::string start, end;  // times as the report shows them
    std::string day;         // "MM/DD" of its start
    std::string date;        // "MM/DD/YYYY" of its start
    const NightTotals* totals = nullptr;
};

std::vector<ShownNight> shownNights(const Findings& findings, const TimeZone* zone) {
    std::vector<ShownNight> shown;
    shown.reserve(findings.nights.size());
    for (std::size_t k = 0; k < findings.nights.size(); ++k) {
        const Night& night = findings.nights[k];
        const auto date = dateOf(night.start, zone);
        // A night before the first known job has no totals to tell: its
        // zeros would claim that nothing ran.
        const bool known = k < findings.nightTotals.size() &&
                           !nightUnknown(findings.nights, k, findings.knownSince);
        shown.push_back({timeText(night.start, zone), timeText(night.end, zone), monthDayText(date),
                         fullDateText(date), known ? &findings.nightTotals[k] : nullptr});
    }
    return shown;
}

// " (times in Europe/Berlin)" for a zone of the operator's choosing; the
// report zone is the one every reader knows.
std::string zoneNote(const TimeZone* zone) {
    if (!zone)
        return "";
    std::string out = " (times in ";
    out += shownEscaped(zone->name());
    out += ')';
    return out;
}

void appendKnownSince(std::string& out, const Findings& findings, const TimeZone* zone) {
    out += "<p>";
    if (findings.knownSince) {
        out += "The known jobs begin at ";
        appendEscaped(out, timeText(*findings.knownSince, zone));
        out += ": nothing is known of the time before.";
    } else {
        out += "No jobs are known.";
    }
    out += "</p>\n";
}

struct Sums {
    std::size_t jobs = 0, failed = 0;
    double kbytes = 0;
};

Sums sumsOf(const std::vector<ShownNight>& nights) {
    Sums sums;
    for (const ShownNight& night : nights) {
        if (!night.totals)
            continue;
        sums.jobs += night.totals->jobs;
        sums.failed += night.totals->failed;
        if (std::isfinite(night.totals->kbytes))
            sums.kbytes += night.totals->kbytes;
    }
    return sums;
}

// The chart's frame, in the viewBox's units: the jobs' panel above the data
// panel, both over the same night columns.
constexpr double kChartWidth = 600, kChartHeight = 340;
constexpr double kPlotLeft = 80, kPlotRight = 580;
constexpr double kJobsTop = 36, kJobsBottom = 186;
constexpr double kDataTop = 214, kDataBottom = 290;
constexpr std::string_view kJobsColour = "#78909c";
constexpr std::string_view kFailedColour = "#c62828";
constexpr std::string_view kDataColour = "#00897b";

void appendText(std::string& out, double x, double y, std::string_view anchor,
                std::string_view text, std::string_view extra = {}) {
    out += "<text x=\"";
    appendCoordinate(out, x);
    out += "\" y=\"";
    appendCoordinate(out, y);
    out += "\" text-anchor=\"";
    out += anchor;
    out += '"';
    out += extra;
    out += '>';
    out += text;
    out += "</text>\n";
}

void appendRect(std::string& out, double x, double y, double width, double height,
                std::string_view colour) {
    out += "<rect x=\"";
    appendCoordinate(out, x);
    out += "\" y=\"";
    appendCoordinate(out, y);
    out += "\" width=\"";
    appendCoordinate(out, width);
    out += "\" height=\"";
    appendCoordinate(out, height);
    out += "\" fill=\"";
    out += colour;
    out += "\"/>";
}

void appendGridLine(std::string& out, double y, bool axis) {
    out += "<line x1=\"";
    appendCoordinate(out, kPlotLeft);
    out += "\" x2=\"";
    appendCoordinate(out, kPlotRight);
    out += "\" y1=\"";
    appendCoordinate(out, y);
    out += "\" y2=\"";
    appendCoordinate(out, y);
    out += axis ? "\" stroke=\"#616161\"/>\n"sv : "\" stroke=\"#e0e0e0\"/>\n"sv;
}

// A panel's value axis: its ticks from 0 to `top` by `step`, labelled by
// `label`, and its title along the side.
template <typename Label>
void appendValueAxis(std::string& out, double topY, double bottomY, double top, double step,
                     std::string_view title, const Label& label) {
    const auto ticks = static_cast<std::size_t>(std::llround(top / step));
    for (std::size_t i = 0; i <= ticks; ++i) {
        const double value = step * static_cast<double>(i);
        const double y = bottomY - (bottomY - topY) * value / top;
        appendGridLine(out, y, i == 0);
        appendText(out, kPlotLeft - 6, y + 4, "end", label(value));
    }
    const double middle = (topY + bottomY) / 2;
    out += "<text x=\"16\" y=\"";
    appendCoordinate(out, middle);
    out += "\" text-anchor=\"middle\" transform=\"rotate(-90 16 ";
    appendCoordinate(out, middle);
    out += ")\" font-weight=\"bold\">";
    out += title;
    out += "</text>\n";
}

void appendChart(std::string& out, const std::vector<ShownNight>& nights, const Sums& sums,
                 std::string_view span) {
    const std::size_t count = nights.size();
    std::size_t mostJobs = 0;
    double mostKbytes = 0;
    for (const ShownNight& night : nights) {
        if (!night.totals)
            continue;
        mostJobs = std::max(mostJobs, night.totals->jobs);
        if (std::isfinite(night.totals->kbytes))
            mostKbytes = std::max(mostKbytes, night.totals->kbytes);
    }
    const double jobsStep = std::max(1.0, niceStep(static_cast<double>(mostJobs) / 4));
    const double jobsTop =
        std::max(jobsStep, jobsStep * std::ceil(static_cast<double>(mostJobs) / jobsStep));

    // The data axis counts in the largest unit the busiest night reaches.
    static constexpr std::array<std::string_view, 4> kUnits{"KB", "MB", "GB", "TB"};
    std::size_t unit = 0;
    double perUnit = 1;
    while (unit + 1 < kUnits.size() && mostKbytes >= perUnit * 1024) {
        perUnit *= 1024;
        ++unit;
    }
    const double dataStep = niceStep(mostKbytes / perUnit / 3);
    const double dataTop =
        std::max(dataStep, dataStep * std::ceil(mostKbytes / perUnit / dataStep));

    out +=
        "<h2 id=\"chart-heading\">Jobs and data written per night</h2>\n"
        "<div class=\"scroll chart\">\n"
        "<svg viewBox=\"0 0 ";
    appendCoordinate(out, kChartWidth);
    out += ' ';
    appendCoordinate(out, kChartHeight);
    out +=
        "\" role=\"img\" aria-labelledby=\"chart-title\" aria-describedby=\"chart-desc "
        "night-list\" font-family=\"system-ui,sans-serif\" font-size=\"13\" fill=\"#212121\">\n"
        "<title id=\"chart-title\">Jobs, failed jobs and data written per night</title>\n"
        "<desc id=\"chart-desc\">";
    out += "Bars of the jobs of each of the ";
    appendCount(out, count);
    out += " nights";
    out += span;
    out +=
        ", oldest left, their failed part in red, and below them the data written each "
        "night. In all ";
    appendCount(out, sums.jobs);
    out += " jobs, ";
    appendCount(out, sums.failed);
    out += " failed, ";
    out += sizeText(sums.kbytes);
    out += " written. The list of nights below gives each night's numbers.</desc>\n";

    // Key, above the panels.
    appendRect(out, kPlotLeft, 8, 12, 12, kJobsColour);
    appendText(out, kPlotLeft + 17, 18, "start", "jobs");
    appendRect(out, kPlotLeft + 70, 8, 12, 12, kFailedColour);
    appendText(out, kPlotLeft + 87, 18, "start", "failed jobs");
    appendRect(out, kPlotLeft + 180, 8, 12, 12, kDataColour);
    appendText(out, kPlotLeft + 197, 18, "start", "data written");
    out += '\n';

    appendValueAxis(out, kJobsTop, kJobsBottom, jobsTop, jobsStep, "jobs", [](double value) {
        std::string text;
        appendCount(text, static_cast<std::size_t>(std::llround(value)));
        return text;
    });
    appendValueAxis(out, kDataTop, kDataBottom, dataTop, dataStep, "written", [&](double value) {
        if (value == 0)
            return std::string("0");
        char text[48];
        std::snprintf(text, sizeof text, "%g ", value);
        std::string label = text;
        label += kUnits[unit];
        return label;
    });

    const double slot =
        (kPlotRight - kPlotLeft) / static_cast<double>(std::max<std::size_t>(count, 1));
    const double barWidth = slot * 0.7;
    // About six dates along the bottom, night 0's among them.
    const std::size_t every = std::max<std::size_t>(1, (count + 5) / 6);
    for (std::size_t column = 0; column < count; ++column) {
        const std::size_t k = count - 1 - column;
        const ShownNight& night = nights[k];
        const double left = kPlotLeft + slot * static_cast<double>(column) + (slot - barWidth) / 2;
        const double middle = left + barWidth / 2;
        if (night.totals) {
            const NightTotals& totals = *night.totals;
            const double jobsHeight =
                (kJobsBottom - kJobsTop) * static_cast<double>(totals.jobs) / jobsTop;
            const double failedHeight = (kJobsBottom - kJobsTop) *
                                        static_cast<double>(std::min(totals.failed, totals.jobs)) /
                                        jobsTop;
            out += "<g><title>";
            out += night.date;
            out += ": ";
            appendCount(out, totals.jobs);
            out += totals.jobs == 1 ? " job, "sv : " jobs, "sv;
            appendCount(out, totals.failed);
            out += " failed, ";
            out += sizeText(totals.kbytes);
            out += " written</title>";
            if (jobsHeight > failedHeight)
                appendRect(out, left, kJobsBottom - jobsHeight, barWidth, jobsHeight - failedHeight,
                           kJobsColour);
            if (failedHeight > 0)
                appendRect(out, left, kJobsBottom - failedHeight, barWidth, failedHeight,
                           kFailedColour);
            const double kbytes = std::isfinite(totals.kbytes) ? std::max(totals.kbytes, 0.0) : 0;
            const double dataHeight = (kDataBottom - kDataTop) * kbytes / perUnit / dataTop;
            if (dataHeight > 0)
                appendRect(out, left, kDataBottom - dataHeight, barWidth, dataHeight, kDataColour);
            out += "</g>\n";
        }
        if (k % every == 0) {
            out += "<line x1=\"";
            appendCoordinate(out, middle);
            out += "\" x2=\"";
            appendCoordinate(out, middle);
            out += "\" y1=\"";
            appendCoordinate(out, kDataBottom);
            out += "\" y2=\"";
            appendCoordinate(out, kDataBottom + 5);
            out += "\" stroke=\"#616161\"/>";
            appendText(out, middle, kDataBottom + 19, "middle", night.day);
        }
    }
    appendText(out, (kPlotLeft + kPlotRight) / 2, 330, "middle",
               "night, by the date it starts; the newest on the right", " font-weight=\"bold\"");
    out += "</svg>\n</div>\n";
}

// A grid cell depends on its night and state alone: each is made once and
// copied into every row.
class GridCells {
  public:
    explicit GridCells(const std::vector<ShownNight>& nights) {
        cells_.resize(nights.size() * kStates);
        for (std::size_t k = 0; k < nights.size(); ++k) {
            for (const NightState state : kLegendStates) {
                std::string& cell = cells_[k * kStates + static_cast<std::size_t>(state)];
                cell = "<td class=\"night\" data-night=\"";
                appendCount(cell, k);
                cell += "\" style=\"background:";
                cell += nightColour(state);
                cell += ";color:";
                cell += nightInk(state);
                cell += "\" title=\"";
                cell += nights[k].date;
                cell += ": ";
                cell += nightWords(state);
                cell += "\">";
                cell += nightSign(state);
                cell += "</td>";
                longest_ = std::max(longest_, cell.size());
            }
        }
    }

    const std::string& at(std::size_t night, NightState state) const {
        const auto index = static_cast<std::size_t>(state);
        return cells_[night * kStates + (index < kStates ? index : 0)];
    }
    std::size_t longest() const { return longest_; }

  private:
    static constexpr std::size_t kStates = 6;
    std::vector<std::string> cells_;
    std::size_t longest_ = 0;
};

// One row: the name, then the nights oldest first; a night the row does not
// hold is not known.
void appendGridRow(std::string& out, const GridCells& cells, std::size_t count,
                   std::string_view name, const NightStates& states) {
    out += "<tr><th class=\"name\" scope=\"row\" title=\"";
    out += name;
    out += "\"><div>";
    out += name;
    out += "</div></th>";
    for (std::size_t column = 0; column < count; ++column) {
        const std::size_t k = count - 1 - column;
        out += cells.at(k, k < states.size() ? states[k] : NightState::Unknown);
    }
    out += "</tr>\n";
}

void appendSectionRow(std::string& out, std::size_t count, std::string_view title) {
    out += "<tr class=\"section\"><th colspan=\"";
    appendCount(out, count + 1);
    out += "\" scope=\"rowgroup\"><span>";
    out += title;
    out += "</span></th></tr>\n";
}

void appendMoreRow(std::string& out, std::size_t count, std::size_t more) {
    out += "<tr class=\"more\"><td colspan=\"";
    appendCount(out, count + 1);
    out += "\"><span>";
    out += kEllipsis;
    out += " and ";
    appendCount(out, more);
    out += " more</span></td></tr>\n";
}

void appendGrid(std::string& out, const Findings& findings, const std::vector<ShownNight>& nights) {
    const std::size_t count = nights.size();
    out +=
        "<h2>Each night of the daily policies and of the streams failing now</h2>\n"
        "<ul class=\"legend\">";
    for (const NightState state : kLegendStates) {
        out += "<li><span style=\"background:";
        out += nightColour(state);
        out += ";color:";
        out += nightInk(state);
        out += "\">";
        out += nightSign(state);
        out += "</span>";
        out += nightWords(state);
        out += "</li>";
    }
    out += "</ul>\n";

    const std::size_t daily = std::min(findings.dailyNights.size(), kHistoryRows);
    const std::size_t failing = std::min(findings.failing.size(), kHistoryRows);
    if (daily == 0 && failing == 0) {
        out += "<p>No daily policies are listed and no stream is failing.</p>\n";
        return;
    }

    const GridCells cells(nights);
    out.reserve(out.size() + (daily + failing) * (count * cells.longest() + 256) + 4096);
    out +=
        "<div class=\"scroll grid\">\n<table>\n<thead><tr><th class=\"name\" "
        "scope=\"col\">Policy</th>";
    for (std::size_t column = 0; column < count; ++column) {
        const ShownNight& night = nights[count - 1 - column];
        out += "<th class=\"day\" scope=\"col\" title=\"";
        out += night.date;
        out += "\"><span>";
        out += night.day;
        out += "</span></th>";
    }
    out += "</tr></thead>\n";

    if (daily > 0) {
        out += "<tbody>\n";
        std::string title = "Daily policies (";
        appendCount(title, findings.dailyNights.size());
        title += ')';
        appendSectionRow(out, count, title);
        for (std::size_t i = 0; i < daily; ++i) {
            const PolicyNights& policy = findings.dailyNights[i];
            appendGridRow(out, cells, count, shownEscaped(policy.policy), policy.nights);
        }
        if (findings.dailyNights.size() > daily)
            appendMoreRow(out, count, findings.dailyNights.size() - daily);
        out += "</tbody>\n";
    }
    if (failing > 0) {
        out += "<tbody>\n";
        std::string title = "Failing now (";
        appendCount(title, findings.failing.size());
        title += "): policy / client / schedule";
        appendSectionRow(out, count, title);
        for (std::size_t i = 0; i < failing; ++i) {
            const FailingStream& stream = findings.failing[i];
            std::string name = shownEscaped(stream.policy);
            name += " / ";
            name += shownEscaped(stream.client);
            name += " / ";
            name += shownEscaped(stream.schedule);
            appendGridRow(out, cells, count, name, stream.nights);
        }
        if (findings.failing.size() > failing)
            appendMoreRow(out, count, findings.failing.size() - failing);
        out += "</tbody>\n";
    }
    out += "</table>\n</div>\n";
}

void appendNightList(std::string& out, const HistoryPage& page,
                     const std::vector<ShownNight>& nights) {
    const std::vector<Night>& spans = page.findings.nights;
    out +=
        "<h2>The nights, newest first</h2>\n"
        "<div class=\"scroll\">\n<table class=\"list\" id=\"night-list\">\n"
        "<thead><tr><th scope=\"col\">Night</th><th scope=\"col\">Jobs</th>"
        "<th scope=\"col\">Failed</th><th scope=\"col\">Written</th>"
        "<th scope=\"col\">Report</th></tr></thead>\n<tbody>\n";
    for (std::size_t k = 0; k < nights.size(); ++k) {
        const ShownNight& night = nights[k];
        out += "<tr><td><span class=\"t\">";
        appendEscaped(out, night.start);
        out += "</span> ";
        out += kArrow;
        out += " <span class=\"t\">";
        appendEscaped(out, night.end);
        out += "</span></td>";
        if (night.totals) {
            out += "<td class=\"n\">";
            appendCount(out, night.totals->jobs);
            out += night.totals->failed > 0 ? "</td><td class=\"n bad\">"sv
                                            : "</td><td class=\"n\">"sv;
            appendCount(out, night.totals->failed);
            out += "</td><td class=\"n\">";
            out += sizeText(night.totals->kbytes);
            out += "</td>";
        } else {
            out += "<td class=\"n none\" colspan=\"3\">not known</td>";
        }
        // A run names its page after the date it ran on, at its window's end.
        const std::string name = reportPageOf(spans[k].end, page.window.zone);
        if (!name.empty() && page.pageExists && page.pageExists(name)) {
            // "report" keeps the column narrow enough for a phone.
            out += "<td><a href=\"";
            appendEscaped(out, name);
            out += "\" title=\"";
            appendEscaped(out, name);
            out += "\">report</a></td>";
        } else {
            out += "<td class=\"none\">";
            out += kDash;
            out += "</td>";
        }
        out += "</tr>\n";
    }
    out += "</tbody>\n</table>\n</div>\n";
}

}  // namespace

std::string reportPageOf(double epochSeconds, const TimeZone* zone) {
    const auto date = dateOf(epochSeconds, zone);
    return date ? reportFileName(*date) : std::string();
}

std::string historyPageHtml(const HistoryPage& page) {
    const Findings& findings = page.findings;
    const TimeZone* zone = page.window.zone;
    std::string out;
    out.reserve(64 * 1024);
    out += kHead;

    if (findings.nights.empty()) {
        out += "<p>No history was kept: this run gathered no nights.</p>\n";
        appendKnownSince(out, findings, zone);
        out += kTail;
        return out;
    }

    const std::vector<ShownNight> nights = shownNights(findings, zone);
    const Sums sums = sumsOf(nights);
    // The oldest night's start to night 0's end.
    std::string span = " from ";
    appendEscaped(span, nights.back().start);
    span += " to ";
    appendEscaped(span, nights.front().end);
    span += zoneNote(zone);

    out += "<p>The last ";
    appendCount(out, nights.size());
    out += nights.size() == 1 ? " night"sv : " nights"sv;
    out += span;
    out += ": ";
    appendCount(out, sums.jobs);
    out += sums.jobs == 1 ? " job, "sv : " jobs, "sv;
    appendCount(out, sums.failed);
    out += " failed, ";
    out += sizeText(sums.kbytes);
    out += " written.</p>\n";
    appendKnownSince(out, findings, zone);

    appendChart(out, nights, sums, span);
    appendGrid(out, findings, nights);
    appendNightList(out, page, nights);
    out += kTail;
    return out;
}

}  // namespace fennick
