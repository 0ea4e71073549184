// One thread reads a file while another still writes it: a step can start
// on the output of the step before it on the second core, rather than read
// the whole file again once it is complete.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>

namespace fennick {

class FollowedFile {
  public:
    // Opens `path`, which the writer has already created, for reading;
    // nullptr when it cannot be opened.
    static std::unique_ptr<FollowedFile> open(const std::filesystem::path& path);
    ~FollowedFile();
    FollowedFile(const FollowedFile&) = delete;
    FollowedFile& operator=(const FollowedFile&) = delete;

    // The writer's side. The file's first `bytes` bytes are written.
    void written(std::uint64_t bytes);
    // The writer has closed the file after its last written().
    void finished();
    // The writer has failed: the reader's next read fails.
    void abandon();

    // The reader's side: the bytes in file order, each read waiting until
    // the writer has written them; the end of the file once it has
    // finished. One stream per file; closing it leaves the file open.
    std::FILE* stream();
    // True once a read has failed: the writer gave up, or the file changed
    // under the reader.
    bool failed() const;

  private:
    explicit FollowedFile(int fd) noexcept : fd_(fd) {}
    static ssize_t readFor(void* self, char* buffer, std::size_t size);
    ssize_t read(char* buffer, std::size_t size);

    int fd_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t written_ = 0;
    bool finished_ = false;
    bool abandoned_ = false;
    // The reader's own.
    std::uint64_t position_ = 0;
    bool failed_ = false;
};

}  // namespace fennick
