#include "files/followed_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace fennick {

std::unique_ptr<FollowedFile> FollowedFile::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<FollowedFile> file(new (std::nothrow) FollowedFile(fd));
    if (!file)
        ::close(fd);
    return file;
}

FollowedFile::~FollowedFile() {
    ::close(fd_);
}

void FollowedFile::changed() noexcept {
    changes_.fetch_add(1, std::memory_order_release);
    changes_.notify_all();
}

void FollowedFile::written(std::uint64_t bytes) {
    written_.store(bytes, std::memory_order_release);
    changed();
}

void FollowedFile::finished() {
    finished_.store(true, std::memory_order_release);
    changed();
}

void FollowedFile::abandon() {
    abandoned_.store(true, std::memory_order_release);
    changed();
}

bool FollowedFile::failed() const {
    return failed_.load(std::memory_order_acquire);
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

ssize_t FollowedFile::fail(int error) {
    failed_.store(true, std::memory_order_release);
    errno = error;
    return -1;
}

ssize_t FollowedFile::read(char* buffer, std::size_t size) {
    std::uint64_t available = 0;
    for (;;) {
        // Read before the state, so that a change after it ends the wait.
        const std::uint32_t seen = changes_.load(std::memory_order_acquire);
        if (abandoned_.load(std::memory_order_acquire) || failed())
            return fail(ECANCELED);
        // `finished_` before `written_`: the last written() came before it.
        const bool finished = finished_.load(std::memory_order_acquire);
        available = written_.load(std::memory_order_acquire) - position_;
        if (available > 0)
            break;
        if (finished)
            return 0;  // all of it read
        changes_.wait(seen, std::memory_order_acquire);
    }
    // Only bytes whose write has returned are read, so no half-written
    // piece is ever seen.
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, available));
    ssize_t got = 0;
    do {
        got = ::pread(fd_, buffer, wanted, static_cast<off_t>(position_));
    } while (got < 0 && errno == EINTR);
    if (got <= 0)  // shorter than what was written: somebody else changed the file
        return fail(got < 0 ? errno : EIO);
    position_ += static_cast<std::uint64_t>(got);
    return got;
}

}  // namespace fennick
