#include "pipeline/jobs_ahead.h"

#include <pthread.h>
#include <sched.h>

#include "common/file_names.h"

namespace fennick {

JobsAhead::JobsAhead(const std::filesystem::path& appDir, const RetentionLabels& labels,
                     std::uint64_t startFrom)
    : jobsPath_(fileIn(appDir, kJobsFile)), labels_(labels), startFrom_(startFrom) {
    try {
        LineReader reader(fileIn(appDir, kPolicyFile), kPolicyFile);
        policies_ = readPolicies(reader).names;
        // out.txt is not written yet: the dump bounds it. Room that is
        // reserved and never used costs no memory.
        expectedBytes_ = std::filesystem::file_size(fileIn(appDir, kDumpFile));
    } catch (...) {
        off_ = true;
    }
    // Without a policy line the table never reads out.txt.
    off_ = off_ || policies_.empty();
}

JobsAhead::~JobsAhead() {
    stopThread();
}

void JobsAhead::stopThread() noexcept {
    if (!thread_.joinable())
        return;
    pause_ = true;
    file_->abandon();
    thread_.join();
}

void JobsAhead::written(std::uint64_t bytes) noexcept {
    if (off_ || (!thread_.joinable() && bytes < startFrom_))
        return;
    if (!thread_.joinable())
        start();
    if (!off_)
        file_->written(bytes);
}

void JobsAhead::start() noexcept {
    // The writer has created the file by its first write, so the reader
    // opens the very file it writes.
    file_ = FollowedFile::open(jobsPath_);
    std::FILE* stream = file_ ? file_->stream() : nullptr;
    if (stream == nullptr) {
        off_ = true;
        return;
    }
    try {
        reader_.emplace(stream, kJobsFile, false);
    } catch (...) {
        std::fclose(stream);
        off_ = true;
        return;
    }
    try {
        thread_ = std::thread(&JobsAhead::readAhead, this);
    } catch (...) {
        reader_.reset();
        off_ = true;
    }
}

void JobsAhead::closed() noexcept {
    closed_ = true;
    if (thread_.joinable())
        file_->finished();
}

void JobsAhead::readAhead() noexcept {
    // Extraction comes first: this thread only takes time that it leaves.
    // What is left when the table needs the rows, the table's thread reads.
    const sched_param none{};
    static_cast<void>(pthread_setschedparam(pthread_self(), SCHED_IDLE, &none));
    try {
        reading_.emplace(policies_, labels_, expectedBytes_);
        reading_->readFrom(*reader_, &pause_);
    } catch (...) {
        broken_ = true;  // memory ran short, say: the table reads out.txt itself
    }
}

std::optional<JobIndex> JobsAhead::take(const std::vector<std::string>& policies) {
    if (!thread_.joinable())
        return std::nullopt;
    if (!closed_) {
        stopThread();
        return std::nullopt;
    }
    pause_ = true;
    thread_.join();
    std::optional<JobIndex> rows;
    if (!broken_ && reading_ && policies == policies_) {
        try {
            reading_->readFrom(*reader_);
            rows = std::move(*reading_).finish();
        } catch (...) {
            rows.reset();
        }
    }
    // Otherwise the table reads out.txt itself: what was read here goes
    // first.
    reading_.reset();
    reader_.reset();
    // A failed read (the file changed under the reader) would stand in the
    // rows as an I/O error that the file itself does not give; memory may
    // run short here where it would not for the table alone.
    if (rows &&
        (file_->failed() || (rows->failure && rows->failure->kind() == FailureKind::OutOfMemory)))
        rows.reset();
    return rows;
}

}  // namespace fennick
