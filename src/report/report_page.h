// The "Backup Report" page from the daily table (out1.txt).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

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

// "report_DD-MM-YY.html" for the date the page is written on.
std::string reportFileName(std::chrono::year_month_day today);

// Writes the page of `window` from the lines of `table` to `page`, and
// closes it. An empty table fails after the page's first ten lines; a line
// too short for its status fails with nothing of that line written.
PageCounts writePage(LineReader& table, LineWriter& page, const Window& window);

}  // namespace fennick
