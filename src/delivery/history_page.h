// The history page (history.html): the last nights of every daily policy and
// of the streams failing now, the jobs and data of each night, and links to
// the nights' report pages. Written beside the report pages, never mailed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "common/report_time.h"
#include "pipeline/findings.h"

namespace fennick {

// The grid's daily policies and its failing streams each stop here, with
// "… and N more": a list of a thousand daily policies is shown whole.
inline constexpr std::size_t kHistoryRows = 1000;

struct HistoryPage {
    const Findings& findings;
    Window window;
    // Whether a report page of this name ("report_DD-MM-YY.html") is in the
    // folder.
    std::function<bool(std::string_view name)> pageExists;
};

// One self-contained UTF-8 HTML5 document titled "Backup history": inline
// CSS and SVG only, no scripts, nothing fetched. In order: the nights' span
// and the known jobs' beginning; a chart of the jobs, failed jobs and data
// written per night, oldest left; the grid of the nights, one row per daily
// policy then one per failing stream ("policy / client / schedule"), with its
// legend; the nights newest first, each linked to the report page named
// after the date of its end when `pageExists` says that page is there.
// Times are shown in the window's zone. Without nights (none gathered) the
// page says that no history was kept. Names are shown as shownUtf8 makes
// them, escaped.
std::string historyPageHtml(const HistoryPage& page);

// "report_DD-MM-YY.html" of the date that `epochSeconds` falls on in `zone`
// (the report zone when null); empty for a time no date can be told of.
std::string reportPageOf(double epochSeconds, const TimeZone* zone);

}  // namespace fennick
