// Extraction, the daily table and the report page of one run, overlapped on
// the second core: while a step writes its output, a thread reads what has
// been written and does the next step's work on it (the table's rows from
// out.txt, the page from out1.txt), so that the next step starts with it
// done. The steps themselves are the plain ones; every file, failure and
// message is that of running them one after the other.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "files/line_writer.h"
#include "common/report_time.h"
#include "pipeline/retention_labels.h"
#include "run/report_file.h"

namespace fennick {

class OverlappedSteps {
  public:
    // Reads the policy list now, to keep only its policies' rows. A thread
    // starts once an output holds `startFrom` bytes: a shorter file is done
    // before the thread would pay.
    OverlappedSteps(const std::filesystem::path& appDir, const RetentionLabels& labels,
                    const Window& window, std::uint64_t startFrom = kWorthAThread);
    // Stops the threads that still work, and waits for them.
    ~OverlappedSteps();
    OverlappedSteps(const OverlappedSteps&) = delete;
    OverlappedSteps& operator=(const OverlappedSteps&) = delete;

    // extractJobs(appDir, window).
    void extractJobs();
    // writeDailyTable(appDir, labels), with the rows read while out.txt was
    // written when the policy list is still the one read at the start.
    void writeDailyTable();
    // writeReportFile(appDir, window, today), with the page built while
    // out1.txt was written.
    ReportFile writeReportFile(std::chrono::year_month_day today);

  private:
    class RowsAhead;
    class PageAhead;

    std::filesystem::path appDir_;
    RetentionLabels labels_;
    Window window_;
    std::unique_ptr<RowsAhead> rows_;
    std::unique_ptr<PageAhead> page_;
};

}  // namespace fennick
