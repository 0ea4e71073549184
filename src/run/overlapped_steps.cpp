#include "run/overlapped_steps.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "files/byte_queue.h"
#include "common/failure.h"
#include "common/file_names.h"
#include "files/followed_file.h"
#include "files/text_file.h"
#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"
#include "report/report_page.h"

namespace fennick {

namespace {

// A thread that works through a file while its writer still writes it,
// started once the file holds `startFrom` bytes. When the file cannot be
// opened again or no thread can be had, the next step does the work itself.
class Follower final : public WriteWatcher {
  public:
    // `work` runs on the thread with the file's stream, and closes it.
    Follower(std::filesystem::path path, std::uint64_t startFrom,
             std::function<void(std::FILE*)> work)
        : path_(std::move(path)), startFrom_(startFrom), work_(std::move(work)) {}
    ~Follower() { stop(); }
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    void written(std::uint64_t bytes) noexcept override {
        if (off_ || (!started_ && (bytes < startFrom_ || !start())))
            return;
        file_->written(bytes);
    }
    void closed() noexcept override {
        complete_ = true;
        if (started_)
            file_->finished();
    }

    bool started() const noexcept { return started_; }
    // The writer closed the file after its last write.
    bool complete() const noexcept { return complete_; }
    // A read failed: the file changed under the reader, or it was given up.
    bool failed() const { return started_ && file_->failed(); }

    // Waits for the work to end.
    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    // Fails the reads still to come, and waits for the work to end.
    void stop() noexcept {
        if (!thread_.joinable())
            return;
        file_->abandon();
        thread_.join();
    }

  private:
    bool start() noexcept {
        off_ = true;  // unless the thread runs
        // The writer has created the file by its first write, so the reader
        // opens the very file it writes.
        file_ = FollowedFile::open(path_);
        std::FILE* stream = file_ ? file_->stream() : nullptr;
        if (stream == nullptr)
            return false;
        try {
            thread_ = std::thread([this, stream] { work_(stream); });
        } catch (...) {
            std::fclose(stream);
            return false;
        }
        off_ = false;
        started_ = true;
        return true;
    }

    std::filesystem::path path_;
    std::uint64_t startFrom_;
    std::function<void(std::FILE*)> work_;
    bool off_ = false;
    bool started_ = false;
    bool complete_ = false;
    std::unique_ptr<FollowedFile> file_;
    std::thread thread_;
};

}  // namespace

// out.txt's rows for the daily table, read while extraction writes out.txt.
class OverlappedSteps::RowsAhead {
  public:
    RowsAhead(const std::filesystem::path& appDir, const RetentionLabels& labels,
              std::uint64_t startFrom)
        : appDir_(appDir),
          labels_(labels),
          follower_(fileIn(appDir, kJobsFile), startFrom,
                    [this](std::FILE* stream) { read(stream); }) {
        try {
            LineReader reader(fileIn(appDir, kPolicyFile), kPolicyFile);
            policies_ = readPolicies(reader).names;
            // out.txt is not written yet: the dump bounds it.
            expectedBytes_ = std::filesystem::file_size(fileIn(appDir, kDumpFile));
        } catch (...) {
            // The table meets this trouble itself, where it always did.
            policies_.clear();
        }
    }
    ~RowsAhead() {
        pause_ = true;
        follower_.stop();
        // The reader reads the follower's file: it goes first.
        rows_.reset();
        reader_.reset();
    }

    // Without a policy line the table never reads out.txt.
    WriteWatcher* watcher() { return policies_.empty() ? nullptr : &follower_; }

    // The rows that readJobRows() reading out.txt now would give.
    JobRows take(const std::vector<std::string>& policies) {
        std::optional<JobRows> rows = takeAhead(policies);
        return rows ? std::move(*rows) : readJobRows(appDir_, policies, labels_);
    }

  private:
    // Extraction comes first: the thread only takes the time it leaves.
    // What is left when the table needs the rows, the table's thread reads.
    void read(std::FILE* stream) noexcept {
        const sched_param none{};
        static_cast<void>(pthread_setschedparam(pthread_self(), SCHED_IDLE, &none));
        try {
            // Every read the thread's own: a reader of its own would run
            // ahead at normal priority.
            reader_.emplace(stream, kJobsFile, false);
        } catch (...) {
            std::fclose(stream);
            broken_ = true;
            return;
        }
        try {
            rows_.emplace(policies_, labels_, expectedBytes_);
            while (!pause_.load(std::memory_order_relaxed) && rows_->readRow(*reader_)) {
            }
        } catch (...) {
            broken_ = true;  // memory ran short, say: the table reads out.txt itself
        }
    }

    // The rows read here, read on to the end; nothing when they were read
    // for another list, or cannot stand for out.txt read now.
    std::optional<JobRows> takeAhead(const std::vector<std::string>& policies) {
        if (!follower_.started())
            return std::nullopt;
        if (!follower_.complete()) {  // extraction failed: out.txt ends where it is
            follower_.stop();
            return std::nullopt;
        }
        pause_ = true;
        follower_.join();
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
        if (rows && (follower_.failed() ||
                     (rows->failure && rows->failure->kind() == FailureKind::OutOfMemory)))
            rows.reset();
        return rows;
    }

    std::filesystem::path appDir_;
    const RetentionLabels& labels_;
    std::vector<std::string> policies_;
    std::uintmax_t expectedBytes_ = 0;
    // The thread's until it is joined, then the caller's.
    std::optional<LineReader> reader_;
    std::optional<JobRows> rows_;
    bool broken_ = false;
    std::atomic<bool> pause_{false};
    Follower follower_;  // last: its thread uses the members above
};

// The page built from out1.txt while the daily table writes it. It waits in
// memory: the page's file is created only once the table is complete, as
// when the steps run one after the other.
class OverlappedSteps::PageAhead {
  public:
    // What the page may hold in memory before it has a file to go to.
    static constexpr std::size_t kHeld = std::size_t{32} << 20;

    PageAhead(const std::filesystem::path& appDir, const Window& window, std::uint64_t startFrom)
        : window_(window),
          follower_(fileIn(appDir, kTableFile), startFrom,
                    [this](std::FILE* table) { build(table); }) {}
    ~PageAhead() { stop(); }

    WriteWatcher* watcher() { return &follower_; }
    bool started() const { return follower_.started(); }

    // Writes the page built from the complete out1.txt to `page` and closes
    // it, with the bytes, the writes and the failure that writePage()
    // reading out1.txt now would give; nothing when the page was not built
    // here, and `page` may then hold part of it.
    std::optional<PageCounts> writeTo(LineWriter& page) {
        if (!follower_.complete()) {  // the table failed: out1.txt ends where it is
            stop();
            return std::nullopt;
        }
        for (std::size_t index = 0;; ++index) {
            const std::string piece = queue_.pop();
            if (piece.empty())
                break;
            if (follower_.failed()) {  // the page will be made afresh: no use writing it
                stop();
                return std::nullopt;
            }
            if (index < failedAt_.load(std::memory_order_acquire)) {
                page.writeDirect(piece);
                continue;
            }
            try {
                page.writeDirect(piece);
            } catch (const Failure&) {
                // As the failed writer's destructor: nobody hears of it.
            }
        }
        follower_.join();
        if (broken_ || follower_.failed())
            return std::nullopt;
        if (failure_)
            std::rethrow_exception(failure_);
        page.close();
        return counts_;
    }

  private:
    void stop() noexcept {
        queue_.abandon();
        follower_.stop();
    }

    void build(std::FILE* tableStream) noexcept {
        // Each stream is closed by the reader or writer that takes it, or
        // here when that cannot be made.
        std::FILE* pageStream = queue_.stream();
        broken_ = pageStream == nullptr;
        try {
            if (!broken_) {
                LineReader table(tableStream, kTableFile, false);
                tableStream = nullptr;
                // The name only shows in a failed write, which here means the
                // page was given up: the caller writes the page's own failures.
                LineWriter page(pageStream, "page");
                pageStream = nullptr;
                try {
                    counts_ = writePage(table, page, window_);
                } catch (const Failure& failure) {
                    // Memory may run short here where it would not for the
                    // page alone; a write the queue refused is no failure of
                    // the page.
                    if (failure.kind() == FailureKind::OutOfMemory || queue_.refused())
                        throw;
                    failure_ = std::current_exception();
                    // The pieces from here on are the failed writer's last,
                    // whose own write errors nobody hears.
                    failedAt_.store(queue_.pushed(), std::memory_order_release);
                }
            }
        } catch (...) {
            broken_ = true;
        }
        if (tableStream != nullptr)
            std::fclose(tableStream);
        if (pageStream != nullptr)
            std::fclose(pageStream);
        queue_.finish();
    }

    Window window_;
    ByteQueue queue_{kHeld};
    // The thread's until it is joined.
    PageCounts counts_;
    std::exception_ptr failure_;
    bool broken_ = false;
    std::atomic<std::size_t> failedAt_{static_cast<std::size_t>(-1)};
    Follower follower_;  // last: its thread uses the members above
};

OverlappedSteps::OverlappedSteps(const std::filesystem::path& appDir, const RetentionLabels& labels,
                                 const Window& window, std::uint64_t startFrom)
    : appDir_(appDir),
      labels_(labels),
      window_(window),
      rows_(std::make_unique<RowsAhead>(appDir_, labels_, startFrom)),
      page_(std::make_unique<PageAhead>(appDir_, window_, startFrom)) {}

OverlappedSteps::~OverlappedSteps() = default;

// Each step opens its files in the order of its plain form on a folder, so
// that a missing or unwritable file fails at the same point.
void OverlappedSteps::extractJobs() {
    LineReader dump(fileIn(appDir_, kDumpFile), kDumpFile);
    LineWriter jobs(fileIn(appDir_, kJobsFile), kJobsFile);
    jobs.watch(rows_->watcher());
    LineWriter otherJobs(fileIn(appDir_, kOtherJobsFile), kOtherJobsFile);
    fennick::extractJobs(dump, jobs, otherJobs, window_);
}

void OverlappedSteps::writeDailyTable() {
    LineReader policies(fileIn(appDir_, kPolicyFile), kPolicyFile);
    LineWriter table(fileIn(appDir_, kTableFile), kTableFile);
    table.watch(page_->watcher());
    fennick::writeDailyTable(policies, table, [this](const std::vector<std::string>& names) {
        return rows_->take(names);
    });
}

ReportFile OverlappedSteps::writeReportFile(std::chrono::year_month_day today) {
    LineReader table(fileIn(appDir_, kTableFile), kTableFile);
    PageFile file(appDir_, today);
    std::optional<PageCounts> counts;
    if (page_->started()) {
        LineWriter page(file.part(), file.name());
        counts = page_->writeTo(page);
    }
    if (!counts) {
        LineWriter page(file.part(), file.name());
        counts = writePage(table, page, window_);
    }
    return file.keep(*counts);
}

}  // namespace fennick
