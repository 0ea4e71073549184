// A second thread asks the kernel to start writing a big output to disk
// while the run still writes its later parts. Otherwise ext4 does all of it
// at once when a replaced file is closed or renamed over the old one, and
// the run waits: ~120 ms of a month's run (bench/RESULTS.md).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace fennick {

class WriteBack {
  public:
    // `fd` must stay open until the destructor has returned.
    explicit WriteBack(int fd) noexcept : fd_(fd) {}
    // Waits for the call in progress, if any, and starts no other.
    ~WriteBack();
    WriteBack(const WriteBack&) = delete;
    WriteBack& operator=(const WriteBack&) = delete;

    // The file's first `bytes` bytes have been written. Only a file that
    // grows past the first few megabytes starts the thread.
    void written(std::uint64_t bytes);

  private:
    void run();

    int fd_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t written_ = 0;  // bytes handed to the file
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace fennick
