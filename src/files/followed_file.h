// One thread reads a file while another still writes it: a step can start
// on the output of the step before it on the second core, rather than read
// the whole file again once it is complete.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

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
    ssize_t fail(int error);
    void changed() noexcept;

    int fd_;
    // No lock is shared with the reader, which may run at the lowest
    // priority: the writer never waits for it. The reader waits on
    // `changes_`, which every change of the writer's moves on.
    std::atomic<std::uint64_t> written_{0};
    std::atomic<bool> finished_{false};
    std::atomic<bool> abandoned_{false};
    std::atomic<std::uint32_t> changes_{0};
    // The reader's own; failed_ is read by others once the reader is done.
    std::uint64_t position_ = 0;
    std::atomic<bool> failed_{false};
};

}  // namespace fennick
