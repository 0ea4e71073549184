// A file descriptor that closes itself.
#pragma once

#include <unistd.h>

#include <utility>

namespace fennick {

class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        return *this;
    }

    int get() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);  // never retried: on Linux the descriptor is gone either way
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

}  // namespace fennick
