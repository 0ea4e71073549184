// The report page on disk: it appears whole or not at all.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "common/report_time.h"
#include "report/report_page.h"

namespace fennick {

// The page a run wrote and what it shows.
struct ReportFile {
    std::filesystem::path page;
    PageCounts counts;
};

// The page of `appDir` named after `today`, made under a hidden temporary
// name and renamed onto its own when complete, so a failure or a kill never
// leaves part of a page under the page's name, and an earlier page of that
// name stays whole until the new one replaces it. Unless kept, the
// temporary file is removed.
class PageFile {
  public:
    // A page name taken by a folder cannot be created: that is said before
    // any work is done.
    PageFile(const std::filesystem::path& appDir, std::chrono::year_month_day today);
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Where the page is written, and the name its failures carry.
    const std::filesystem::path& part() const noexcept { return part_; }
    const std::string& name() const noexcept { return name_; }

    // Renames the complete page onto its name.
    ReportFile keep(const PageCounts& counts);

  private:
    std::string name_;
    std::filesystem::path page_;
    std::filesystem::path target_;
    std::filesystem::path part_;
    bool kept_ = false;
};

// Reads out1.txt of `appDir` and writes the page of `window` named after
// `today` as a PageFile. out1.txt is opened first: when it is missing, no
// page is touched.
ReportFile writeReportFile(const std::filesystem::path& appDir, const Window& window,
                           std::chrono::year_month_day today);

// Removes the temporary pages that a killed run left in `appDir`.
void removeUnfinishedPages(const std::filesystem::path& appDir);

}  // namespace fennick
