#include "run/report_run.h"

#include <chrono>
#include <memory>

#include "common/file_names.h"
#include "files/text_file.h"
#include "pipeline/daily_table.h"
#include "pipeline/policy_intervals.h"
#include "pipeline/retention_labels.h"
#include "run/overlapped_steps.h"
#include "run/run_lock.h"
#include "run/unattended.h"

namespace fennick {

namespace {

// The date the page is named after, asked for when the page step starts.
std::chrono::year_month_day today(const Clock& now) {
    return std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(now())};
}

// The steps and the findings, under the lock that the caller holds.
void runSteps(const RunRequest& request, RunResult& result) {
    const std::filesystem::path& appDir = request.appDir;
    if (request.dump)
        refreshDump(appDir, *request.dump);
    // The id goes nowhere, but a dump without one stops the run here.
    if (request.readFirstJobId)
        firstJobId(appDir);
    // What a killed run left half-written goes, whichever front end runs now.
    removeUnfinishedPages(appDir);
    removeUnfinishedDump(appDir);
    // Each step writes its files only once the step before has ended, and
    // hands on through files; a failure stops the run and leaves the later
    // steps' files as they were. Only reading may start early: the table's
    // rows are read on the second core while extraction writes out.txt.
    const RetentionLabels labels = readRetentionLabels(appDir);
    result.windowStepRan = true;
    // Read once for the table, its rows and the findings; a failure in it
    // is met when the table's turn comes.
    const PolicyFile policies = readPolicyFile(appDir);
    ReportFile report;
    {
        OverlappedSteps steps(appDir, labels, result.window, policies);
        steps.extractJobs();
        steps.writeDailyTable();
        report = writeReportFile(appDir, result.window, today(request.now));
    }
    if (request.findingsLookbackDays) {
        // Findings that cannot be had after the page is on disk still fail
        // the run: nobody would learn what needs action.
        LineReader dump(fileIn(appDir, kDumpFile), kDumpFile);
        const int lookback = *request.findingsLookbackDays;
        PolicyIntervals intervals = readPolicyIntervals(appDir);
        const RecallRequest recall{std::move(intervals.intervals), request.suspicion};
        if (request.history)
            result.history.emplace();
        result.findings = findRecalling(dump, result.window, policies.list.names, lookback, recall,
                                        request.history ? &*request.history : nullptr,
                                        result.history ? &*result.history : nullptr);
        result.codes = readStatusCodes(appDir);
        result.codes.warnings.insert(result.codes.warnings.end(), intervals.warnings.begin(),
                                     intervals.warnings.end());
    }
    result.report = std::move(report);
}

}  // namespace

std::string RunResult::failureText() const {
    if (!failure)
        return {};
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& caught) {
        return caught.what();
    } catch (...) {
        return "unknown failure";
    }
}

RunResult runReport(const RunRequest& request, const WhileHeld& whileHeld) {
    RunResult result;
    result.window = computeWindow(request.pickers);
    std::unique_ptr<RunLock> lock;
    try {
        // A second run in the same folder would overwrite these files while
        // this one reads them; it waits here instead.
        lock = std::make_unique<RunLock>(request.appDir);
        runSteps(request, result);
    } catch (const std::exception&) {
        result.report.reset();
        result.findings.reset();
        result.history.reset();
        result.failure = std::current_exception();
    }
    if (whileHeld)
        whileHeld(result);
    return result;
}

ReportFile reportOf(const RunResult& result) {
    if (result.failure)
        std::rethrow_exception(result.failure);
    return *result.report;
}

ReportFile writeTodaysReport(const std::filesystem::path& appDir, const Window& window,
                             const Clock& now) {
    const RunLock lock(appDir);
    removeUnfinishedPages(appDir);
    return writeReportFile(appDir, window, today(now));
}

}  // namespace fennick
