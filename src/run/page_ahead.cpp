#include "run/page_ahead.h"

#include <string>

#include "common/failure.h"
#include "common/file_names.h"
#include "files/text_file.h"

namespace fennick {

PageAhead::PageAhead(const std::filesystem::path& appDir, const Window& window,
                     std::uint64_t startFrom)
    : tablePath_(fileIn(appDir, kTableFile)), window_(window), startFrom_(startFrom) {}

PageAhead::~PageAhead() {
    stop();
}

void PageAhead::stop() noexcept {
    if (!thread_.joinable())
        return;
    file_->abandon();
    queue_.abandon();
    thread_.join();
}

void PageAhead::written(std::uint64_t bytes) noexcept {
    if (off_ || (!thread_.joinable() && bytes < startFrom_))
        return;
    if (!thread_.joinable()) {
        // The writer has created out1.txt by its first write.
        file_ = FollowedFile::open(tablePath_);
        tableStream_ = file_ ? file_->stream() : nullptr;
        pageStream_ = tableStream_ != nullptr ? queue_.stream() : nullptr;
        if (pageStream_ == nullptr) {
            if (tableStream_ != nullptr)
                std::fclose(tableStream_);
            off_ = true;
            return;
        }
        try {
            thread_ = std::thread(&PageAhead::build, this);
        } catch (...) {
            std::fclose(tableStream_);
            std::fclose(pageStream_);
            off_ = true;
            return;
        }
    }
    file_->written(bytes);
}

void PageAhead::closed() noexcept {
    closed_ = true;
    if (thread_.joinable())
        file_->finished();
}

void PageAhead::build() noexcept {
    // Each stream is closed by the reader or writer that takes it, or here
    // when that cannot be made.
    std::FILE* pageStream = pageStream_;
    try {
        LineReader table(tableStream_, kTableFile, false);
        tableStream_ = nullptr;
        // The name only shows in a failed write, which here means the page
        // was given up: the caller writes the page's own failures.
        LineWriter page(pageStream, "page");
        pageStream = nullptr;
        try {
            counts_ = writePage(table, page, window_);
        } catch (const Failure& failure) {
            // Memory may run short here where it would not for the page
            // alone; a write the queue refused is no failure of the page.
            if (failure.kind() == FailureKind::OutOfMemory || queue_.refused())
                throw;
            failure_ = std::current_exception();
            failedAt_.store(queue_.pushed(), std::memory_order_release);
        }
    } catch (...) {
        broken_ = true;
    }
    if (tableStream_ != nullptr)
        std::fclose(tableStream_);
    if (pageStream != nullptr)
        std::fclose(pageStream);
    queue_.finish();
}

std::optional<PageCounts> PageAhead::writeTo(LineWriter& page) {
    if (!thread_.joinable())
        return std::nullopt;
    if (!closed_) {
        stop();
        return std::nullopt;
    }
    for (std::size_t index = 0;; ++index) {
        const std::string piece = queue_.pop();
        if (piece.empty())
            break;
        if (file_->failed()) {  // the page will be made afresh: no use writing it
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
    thread_.join();
    if (broken_ || file_->failed())
        return std::nullopt;
    if (failure_)
        std::rethrow_exception(failure_);
    page.close();
    return counts_;
}

}  // namespace fennick
