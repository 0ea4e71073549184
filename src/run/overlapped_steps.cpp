#include "run/overlapped_steps.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "common/file_names.h"
#include "files/followed_file.h"
#include "files/text_file.h"
#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"

namespace fennick {

// out.txt's rows for the daily table, read on a thread while extraction
// writes out.txt. When the file cannot be followed or no thread can be had,
// the table reads out.txt itself.
class OverlappedSteps::RowsAhead final : public WriteWatcher {
  public:
    RowsAhead(const std::filesystem::path& appDir, const RetentionLabels& labels,
              const std::vector<std::string>& policies, std::uint64_t startFrom)
        : appDir_(appDir), labels_(labels), startFrom_(startFrom), policies_(policies) {
        // out.txt is not written yet: the dump bounds it. Room that is
        // reserved and never used costs no memory.
        std::error_code unknown;
        expectedBytes_ = std::filesystem::file_size(fileIn(appDir, kDumpFile), unknown);
        if (unknown)
            policies_.clear();  // extraction meets this trouble itself
        // Without a policy line the table never reads out.txt.
        off_ = policies_.empty();
    }
    ~RowsAhead() { stop(); }

    // out.txt's writer tells how far it has come; the first bytes from
    // `startFrom` on start the thread.
    void written(std::uint64_t bytes) noexcept override {
        if (off_ || (!thread_.joinable() && (bytes < startFrom_ || !start())))
            return;
        file_->written(bytes);
    }
    void closed() noexcept override {
        complete_ = true;
        if (thread_.joinable())
            file_->finished();
    }

    // The rows that readJobRows() reading out.txt now would give.
    JobRows take(const std::vector<std::string>& policies) {
        std::optional<JobRows> rows = takeAhead(policies);
        return rows ? std::move(*rows) : readJobRows(appDir_, policies, labels_);
    }

  private:
    bool start() noexcept {
        off_ = true;  // unless the thread runs
        // The writer has created the file by its first write, so the reader
        // opens the very file it writes.
        file_ = FollowedFile::open(fileIn(appDir_, kJobsFile));
        std::FILE* stream = file_ ? file_->stream() : nullptr;
        if (stream == nullptr)
            return false;
        try {
            // Every read the thread's own: a reader's own thread reading
            // ahead would take the priority the rows' thread gives up.
            reader_.emplace(stream, kJobsFile, false);
        } catch (...) {
            std::fclose(stream);
            return false;
        }
        try {
            thread_ = std::thread(&RowsAhead::read, this);
        } catch (...) {
            reader_.reset();
            return false;
        }
        off_ = false;
        return true;
    }

    // Extraction comes first: the thread only takes the time it leaves.
    // What is left when the table needs the rows, the table's thread reads.
    void read() noexcept {
        const sched_param none{};
        static_cast<void>(pthread_setschedparam(pthread_self(), SCHED_IDLE, &none));
        try {
            rows_.emplace(policies_, labels_, expectedBytes_);
            while (!pause_.load(std::memory_order_relaxed) && rows_->readRow(*reader_)) {
            }
        } catch (...) {
            broken_ = true;  // memory ran short, say: the table reads out.txt itself
        }
    }

    void stop() noexcept {
        if (!thread_.joinable())
            return;
        pause_ = true;
        file_->abandon();
        thread_.join();
    }

    // The rows read here, read on to the end; nothing when they were read
    // for another list, or cannot stand for out.txt read now.
    std::optional<JobRows> takeAhead(const std::vector<std::string>& policies) {
        if (!thread_.joinable())
            return std::nullopt;
        if (!complete_) {  // extraction failed: out.txt ends where it is
            stop();
            return std::nullopt;
        }
        pause_ = true;
        thread_.join();
        std::optional<JobRows> rows;
        if (!broken_ && rows_ && policies == policies_) {
            try {
                while (rows_->readRow(*reader_)) {
                }
                rows = std::move(rows_);
            } catch (...) {
                rows.reset();
            }
        }
        // What was read here goes before the table reads out.txt itself.
        rows_.reset();
        reader_.reset();
        // A failed read (the file changed under the reader) would stand in
        // the rows as an I/O error that the file itself does not give; memory
        // may run short here where it would not for the table alone.
        if (rows && (file_->failed() ||
                     (rows->failure && rows->failure->kind() == FailureKind::OutOfMemory)))
            rows.reset();
        return rows;
    }

    std::filesystem::path appDir_;
    const RetentionLabels& labels_;
    std::uint64_t startFrom_;
    std::vector<std::string> policies_;
    std::uintmax_t expectedBytes_ = 0;
    bool off_ = false;       // nothing to read ahead, or it cannot be done
    bool complete_ = false;  // extraction closed out.txt
    std::unique_ptr<FollowedFile> file_;
    // The thread's until it is joined, then the caller's.
    std::optional<LineReader> reader_;
    std::optional<JobRows> rows_;
    bool broken_ = false;
    std::atomic<bool> pause_{false};
    std::thread thread_;
};

OverlappedSteps::OverlappedSteps(const std::filesystem::path& appDir, const RetentionLabels& labels,
                                 const Window& window, const PolicyFile& policies,
                                 std::uint64_t startFrom)
    : appDir_(appDir),
      labels_(labels),
      window_(window),
      policies_(policies),
      rows_(std::make_unique<RowsAhead>(
          appDir_, labels_, policies.openFailure ? std::vector<std::string>{} : policies.list.names,
          startFrom)) {}

OverlappedSteps::~OverlappedSteps() = default;

// Each step opens its files in the order of its plain form on a folder, so
// that a missing or unwritable file fails at the same point.
void OverlappedSteps::extractJobs() {
    LineReader dump(fileIn(appDir_, kDumpFile), kDumpFile);
    LineWriter jobs(fileIn(appDir_, kJobsFile), kJobsFile);
    jobs.watch(rows_.get());
    LineWriter otherJobs(fileIn(appDir_, kOtherJobsFile), kOtherJobsFile);
    fennick::extractJobs(dump, jobs, otherJobs, window_);
}

void OverlappedSteps::writeDailyTable() {
    // The list was read at the start; a list that could not be opened fails
    // here, before out1.txt is made, as opening it here would.
    if (policies_.openFailure)
        throw *policies_.openFailure;
    LineWriter table(fileIn(appDir_, kTableFile), kTableFile);
    fennick::writeDailyTable(policies_.list, table, [this](const std::vector<std::string>& names) {
        return rows_->take(names);
    });
}

}  // namespace fennick
