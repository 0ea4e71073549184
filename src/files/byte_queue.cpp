#include "files/byte_queue.h"

#include <cerrno>

namespace fennick {

std::FILE* ByteQueue::stream() {
    const cookie_io_functions_t functions{nullptr, &ByteQueue::writeFor, nullptr, nullptr};
    std::FILE* stream = fopencookie(this, "w", functions);
    if (stream != nullptr)
        std::setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

ssize_t ByteQueue::writeFor(void* self, const char* bytes, std::size_t size) {
    return static_cast<ByteQueue*>(self)->write(bytes, size);
}

ssize_t ByteQueue::write(const char* bytes, std::size_t size) {
    if (size == 0)
        return 0;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return abandoned_ || held_ < capacity_; });
    if (abandoned_) {
        refused_ = true;
        errno = ECANCELED;
        return 0;  // a write function reports a failure by taking nothing
    }
    lock.unlock();
    std::string piece;
    try {
        piece.assign(bytes, size);  // copied outside the lock
    } catch (...) {
        // Nothing may leave through the C library's frames.
        lock.lock();
        refused_ = true;
        errno = ENOMEM;
        return 0;  // a write function reports a failure by taking nothing
    }
    lock.lock();
    held_ += size;
    ++pushed_;
    pieces_.push_back(std::move(piece));
    lock.unlock();
    changed_.notify_all();
    return static_cast<ssize_t>(size);
}

void ByteQueue::finish() {
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

bool ByteQueue::refused() {
    const std::lock_guard lock(mutex_);
    return refused_;
}

std::size_t ByteQueue::pushed() {
    const std::lock_guard lock(mutex_);
    return pushed_;
}

void ByteQueue::abandon() {
    {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
        pieces_.clear();
        held_ = 0;
    }
    changed_.notify_all();
}

std::string ByteQueue::pop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return finished_ || !pieces_.empty(); });
    if (pieces_.empty())
        return {};
    std::string piece = std::move(pieces_.front());
    pieces_.pop_front();
    held_ -= piece.size();
    lock.unlock();
    changed_.notify_all();
    return piece;
}

}  // namespace fennick
