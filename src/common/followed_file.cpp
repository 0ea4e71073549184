#include "common/followed_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace fennick {

std::unique_ptr<FollowedFile> FollowedFile::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<FollowedFile>(new FollowedFile(fd));
}

FollowedFile::~FollowedFile() {
    ::close(fd_);
}

void FollowedFile::written(std::uint64_t bytes) {
    {
        const std::lock_guard lock(mutex_);
        written_ = bytes;
    }
    changed_.notify_all();
}

void FollowedFile::finished() {
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

void FollowedFile::abandon() {
    {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    changed_.notify_all();
}

bool FollowedFile::failed() const {
    const std::lock_guard lock(mutex_);
    return failed_;
}

std::FILE* FollowedFile::stream() {
    const cookie_io_functions_t functions{&FollowedFile::readFor, nullptr, nullptr, nullptr};
    // Buffered: stdio passes large reads straight through, while an
    // unbuffered stream would ask for a byte at a time.
    return fopencookie(this, "r", functions);
}

ssize_t FollowedFile::readFor(void* self, char* buffer, std::size_t size) {
    return static_cast<FollowedFile*>(self)->read(buffer, size);
}

ssize_t FollowedFile::read(char* buffer, std::size_t size) {
    std::uint64_t available = 0;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock,
                      [&] { return abandoned_ || finished_ || written_ > position_ || failed_; });
        if (abandoned_ || failed_) {
            failed_ = true;
            errno = ECANCELED;
            return -1;
        }
        available = written_ - position_;
        if (available == 0)  // finished, and all of it read
            return 0;
    }
    // Only bytes whose write has returned are read, so no half-written
    // piece is ever seen; the lock is not held while the kernel copies.
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, available));
    ssize_t got = 0;
    do {
        got = ::pread(fd_, buffer, wanted, static_cast<off_t>(position_));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        // Shorter than what was written: somebody else changed the file.
        const int error = got < 0 ? errno : EIO;
        const std::lock_guard lock(mutex_);
        failed_ = true;
        errno = error;
        return -1;
    }
    const std::lock_guard lock(mutex_);
    position_ += static_cast<std::uint64_t>(got);
    return got;
}

}  // namespace fennick
