// The report page on disk: it appears whole or not at all.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/report_time.h"
#include "files/replaced_file.h"
#include "report/report_page.h"

namespace fennick {

// The page a run wrote and what it shows.
struct ReportFile {
    std::filesystem::path page;
    PageCounts counts;
};

// Reads out1.txt of `appDir` and writes the page of `window` named after
// `today`. The page is made under a hidden temporary name of this run's own
// (see unfinishedPageNames), flushed to disk and renamed onto its own when
// complete, so a failure or a kill never leaves part of a page under the
// page's name, and an earlier page of that name stays whole until the new
// one replaces it. A page name that is a symbolic link has the file it leads
// to replaced; one that is a folder, a FIFO or a device is refused. out1.txt
// is opened first: when it is missing, no page is touched. A failure removes
// the temporary file.
ReportFile writeReportFile(const std::filesystem::path& appDir, const Window& window,
                           std::chrono::year_month_day today);

// The temporary names of the page `pageName` while it is written,
// ".report_DD-MM-YY.html.partial-XXXXXX" beside the page (beside the file it
// links to), and the bare ".report_DD-MM-YY.html.partial" of older versions;
// and whether a name is one of any page's (which the next run removes).
TemporaryNames unfinishedPageNames(std::string_view pageName);
bool isUnfinishedPageName(std::string_view name);

// Removes the temporary pages that killed runs left in `appDir`: plain files
// under such a name that no live run holds.
void removeUnfinishedPages(const std::filesystem::path& appDir);

}  // namespace fennick
