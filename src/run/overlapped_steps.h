// Extraction and the daily table of one run, overlapped on the second core:
// while extraction writes out.txt, a thread reads what has been written
// into the table's rows, so that the table starts with them at hand instead
// of reading out.txt once more. The steps themselves are the plain ones;
// every file, failure and message is that of running them one after the
// other.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "common/report_time.h"
#include "files/line_writer.h"
#include "pipeline/daily_table.h"
#include "pipeline/retention_labels.h"

namespace fennick {

class OverlappedSteps {
  public:
    // Keeps only the rows of `policies`, the run's one reading of the
    // policy list. The thread starts once out.txt holds `startFrom` bytes: a
    // shorter file is done before the thread would pay.
    OverlappedSteps(const std::filesystem::path& appDir, const RetentionLabels& labels,
                    const Window& window, const PolicyFile& policies,
                    std::uint64_t startFrom = kWorthAThread);
    // Stops the thread if it still reads, and waits for it.
    ~OverlappedSteps();
    OverlappedSteps(const OverlappedSteps&) = delete;
    OverlappedSteps& operator=(const OverlappedSteps&) = delete;

    // extractJobs(appDir, window).
    void extractJobs();
    // writeDailyTable(appDir, labels) on the list read before, with the rows
    // read while out.txt was written.
    void writeDailyTable();

  private:
    class RowsAhead;

    std::filesystem::path appDir_;
    RetentionLabels labels_;
    Window window_;
    const PolicyFile& policies_;
    std::unique_ptr<RowsAhead> rows_;
};

}  // namespace fennick
