// Bytes that readers and writers fill themselves.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

namespace fennick {

// Bytes that are not cleared when allocated: a page of them costs only once
// something is written there, so a buffer larger than its file stays cheap.
class RawBuffer {
  public:
    explicit RawBuffer(std::size_t size)
        : bytes_(std::make_unique_for_overwrite<char[]>(size)), size_(size) {}

    char* data() noexcept { return bytes_.get(); }
    std::size_t size() const noexcept { return size_; }
    // Twice the room, keeping the first `keep` bytes.
    void grow(std::size_t keep) {
        auto bigger = std::make_unique_for_overwrite<char[]>(2 * size_);
        std::memcpy(bigger.get(), bytes_.get(), keep);
        bytes_ = std::move(bigger);
        size_ *= 2;
    }

  private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_;
};

}  // namespace fennick
