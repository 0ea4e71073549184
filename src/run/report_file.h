// The report page on disk: it appears whole or not at all.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/report_time.h"
#include "report/report_page.h"

namespace fennick {

// The page a run wrote and what it shows.
struct ReportFile {
    std::filesystem::path page;
    PageCounts counts;
};

// Reads out1.txt of `appDir` and writes the page of `window` named after
// `today`. The page is made under a hidden temporary name and renamed onto
// its own when complete, so a failure or a kill never leaves part of a page
// under the page's name, and an earlier page of that name stays whole until
// the new one replaces it. out1.txt is opened first: when it is missing, no
// page is touched. A failure removes the temporary file.
ReportFile writeReportFile(const std::filesystem::path& appDir, const Window& window,
                           std::chrono::year_month_day today);

// The temporary name of the page `pageName` while it is written, and whether
// a name is one of those (which the next run removes).
std::string unfinishedPageName(std::string_view pageName);
bool isUnfinishedPageName(std::string_view name);

// Removes the temporary pages that a killed run left in `appDir`.
void removeUnfinishedPages(const std::filesystem::path& appDir);

}  // namespace fennick
