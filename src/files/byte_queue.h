// Bytes handed from one thread to another through memory, with a cap on
// what is held at once: a step can produce its output on the second core
// before the file it goes to may be created.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace fennick {

class ByteQueue {
  public:
    // At most `capacity` bytes wait in the queue; a single write may bring
    // it over by its own size.
    explicit ByteQueue(std::size_t capacity) noexcept : capacity_(capacity) {}
    ByteQueue(const ByteQueue&) = delete;
    ByteQueue& operator=(const ByteQueue&) = delete;

    // The producer's side: a stream whose writes wait while the queue is
    // full and fail once the consumer has given up. It is unbuffered, so
    // each write of the producer is one piece. Closing it adds nothing.
    std::FILE* stream();
    // No more bytes come; the consumer's pop() then ends.
    void finish();
    // How many pieces the producer has handed in so far.
    std::size_t pushed();
    // True once a write has failed: the queue gave up or memory ran out.
    bool refused();

    // The consumer's side: the next piece in order, waiting for it; empty
    // once the producer has finished and everything is taken.
    std::string pop();
    // The consumer takes nothing more: waiting writes fail.
    void abandon();

  private:
    static ssize_t writeFor(void* self, const char* bytes, std::size_t size);
    ssize_t write(const char* bytes, std::size_t size);

    std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> pieces_;
    std::size_t held_ = 0;
    std::size_t pushed_ = 0;
    bool finished_ = false;
    bool abandoned_ = false;
    bool refused_ = false;
};

}  // namespace fennick
