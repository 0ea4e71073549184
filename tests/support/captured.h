// One of our own descriptors (standard output or error) sent to a file while
// the object lives, so a test can read what the code under test printed.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fennick::test {

class Captured {
  public:
    Captured(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {
        std::fflush(nullptr);
        saved_ = ::dup(fd_);
        const int file = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(file, fd_);
        ::close(file);
    }
    ~Captured() { restore(); }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;

    // What was written so far; the descriptor is ours again afterwards.
    std::string text() {
        restore();
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

  private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(nullptr);
            ::dup2(saved_, fd_);
            ::close(saved_);
            saved_ = -1;
        }
    }

    int fd_;
    std::filesystem::path path_;
    int saved_ = -1;
};

}  // namespace fennick::test
