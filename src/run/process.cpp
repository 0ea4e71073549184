#include "run/process.h"

#include <chrono>

#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"
#include "pipeline/jobs_ahead.h"
#include "pipeline/retention_labels.h"
#include "run/dump_refresh.h"
#include "run/page_ahead.h"
#include "run/run_lock.h"

namespace fennick {

namespace {

ReportFile writeReportOn(const std::filesystem::path& appDir, const Window& window,
                         const Clock& now, PageAhead* ahead = nullptr) {
    const auto today = std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(now())};
    return writeReportFile(appDir, window, today, ahead);
}

}  // namespace

ReportFile process(const std::filesystem::path& appDir, const Pickers& pickers, const Clock& now,
                   Window& window) {
    // A second run in the same folder would overwrite these files while
    // this one reads them; it waits here instead.
    const RunLock lock(appDir);
    return processHeld(lock, appDir, pickers, now, window);
}

ReportFile processHeld(const RunLock& /*held*/, const std::filesystem::path& appDir,
                       const Pickers& pickers, const Clock& now, Window& window) {
    // What a killed run left half-written goes, whichever front end runs now.
    removeUnfinishedPages(appDir);
    removeUnfinishedDump(appDir);
    // Each step writes its files only once the step before has ended, and
    // hands on through files; a failure stops the run and leaves the later
    // steps' files as they were. Only reading may start early.
    const RetentionLabels labels = readRetentionLabels(appDir);
    window = computeWindow(pickers);
    // The table's reading of out.txt follows extraction's writing of it on
    // the second core; what the table finds is as if it read the file after.
    JobsAhead jobsAhead(appDir, labels);
    extractJobs(appDir, window, &jobsAhead);
    // Likewise the page follows the table's writing, held in memory until
    // the table is complete.
    PageAhead pageAhead(appDir, window);
    writeDailyTable(appDir, labels, &jobsAhead, &pageAhead);
    return writeReportOn(appDir, window, now, &pageAhead);
}

ReportFile writeTodaysReport(const std::filesystem::path& appDir, const Window& window,
                             const Clock& now) {
    const RunLock lock(appDir);
    removeUnfinishedPages(appDir);
    return writeReportOn(appDir, window, now);
}

}  // namespace fennick
