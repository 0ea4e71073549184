#include "pipeline/process.h"

#include <chrono>

#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"
#include "pipeline/retention_labels.h"
#include "report/report_page.h"

namespace fennick {

Window process(const std::filesystem::path& appDir, const Pickers& pickers, const Clock& now,
               Window& window) {
    // Each step ends before the next begins and hands on through files; a
    // failure stops the run and leaves the later steps' files as they were.
    const RetentionLabels labels = readRetentionLabels(appDir);
    window = computeWindow(pickers);
    extractJobs(appDir, window);
    writeDailyTable(appDir, labels);
    writeTodaysReport(appDir, window, now);
    return window;
}

void writeTodaysReport(const std::filesystem::path& appDir, const Window& window,
                       const Clock& now) {
    const auto today = std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(now())};
    writeReport(appDir, window, today);
}

}  // namespace fennick
