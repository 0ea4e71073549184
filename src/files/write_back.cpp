#include "files/write_back.h"

#include <fcntl.h>

#include "files/line_writer.h"

namespace fennick {

namespace {

// Writing is started in steps of this size: fewer, larger requests.
constexpr std::uint64_t kStep = std::uint64_t{4} << 20;

}  // namespace

WriteBack::~WriteBack() {
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void WriteBack::written(std::uint64_t bytes) {
    if (!thread_.joinable()) {
        // Small files gain nothing: ext4 writes them at close in no time.
        if (bytes < kWorthAThread || stop_)
            return;
        written_ = bytes;
        try {
            thread_ = std::thread(&WriteBack::run, this);
        } catch (...) {
            stop_ = true;  // only a hint: the file is written all the same
        }
        return;
    }
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        wake = bytes / kStep != written_ / kStep;
        written_ = bytes;
    }
    if (wake)
        changed_.notify_one();
}

void WriteBack::run() {
    std::uint64_t started = 0;
    for (;;) {
        std::uint64_t upTo = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || written_ >= started + kStep; });
            if (stop_)
                return;
            upTo = written_;
        }
        // Only a hint: an error here shows again where the file is written
        // or closed, so it is not reported from here.
        static_cast<void>(::sync_file_range(fd_, static_cast<off_t>(started),
                                            static_cast<off_t>(upTo - started),
                                            SYNC_FILE_RANGE_WRITE));
        started = upTo;
    }
}

}  // namespace fennick
