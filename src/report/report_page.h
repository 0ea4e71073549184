// The "Backup Report" page from the daily table (out1.txt).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/report_time.h"
#include "files/text_file.h"

namespace fennick {

// What the page shows, counted as it is written.
struct PageCounts {
    std::size_t jobs = 0;         // rows of jobs
    std::size_t highlighted = 0;  // rows of jobs highlighted: status neither "0" nor "1"
    std::size_t running = 0;      // of those, jobs still running or queued (no status)
    std::size_t notFound = 0;     // daily policies without jobs

    // Highlighted rows of jobs that ended without their backup.
    std::size_t failed() const { return highlighted - running; }

    bool operator==(const PageCounts&) const = default;
};

// The page's name is the prefix, the date it is written on as "DD-MM-YY" and
// the suffix: "report_06-12-26.html".
inline constexpr std::string_view kPageNamePrefix = "report_";
inline constexpr std::string_view kPageNameSuffix = ".html";
std::string reportFileName(std::chrono::year_month_day today);

// Lines 1 to 7 of every page, each with its line end, and the empty line 8.
// The "--->" and the missing head and body elements are what the page has
// always looked like; browsers take it as it is.
inline constexpr std::string_view kPageHead =
    "<html>\r\n"
    "<STYLE TYPE=\"text/css\">\r\n"
    "<!--\r\n"
    "TD{font-family: Arial; font-size: 8pt;}\r\n"
    "--->\r\n"
    "</STYLE>\r\n"
    "<TABLE BORDER=5 CELLPADDING=1 CELLSPACING=2 BGCOLOR=\"#99CCCC\">\r\n"
    "\r\n";

// Writes the page of `window` from the lines of `table` to `page`, and
// closes it. An empty table fails after the page's first ten lines; a line
// too short for its status fails with nothing of that line written.
PageCounts writePage(LineReader& table, LineWriter& page, const Window& window);

}  // namespace fennick
