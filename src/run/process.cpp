#include "run/process.h"

#include <chrono>

#include "pipeline/retention_labels.h"
#include "run/dump_refresh.h"
#include "run/overlapped_steps.h"
#include "run/run_lock.h"

namespace fennick {

namespace {

// The date the page is named after, asked for when the page step starts.
std::chrono::year_month_day today(const Clock& now) {
    return std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(now())};
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
    // steps' files as they were. Only reading may start early: the table's
    // rows are read on the second core while extraction writes out.txt.
    const RetentionLabels labels = readRetentionLabels(appDir);
    window = computeWindow(pickers);
    OverlappedSteps steps(appDir, labels, window);
    steps.extractJobs();
    steps.writeDailyTable();
    return writeReportFile(appDir, window, today(now));
}

ReportFile writeTodaysReport(const std::filesystem::path& appDir, const Window& window,
                             const Clock& now) {
    const RunLock lock(appDir);
    removeUnfinishedPages(appDir);
    return writeReportFile(appDir, window, today(now));
}

}  // namespace fennick
