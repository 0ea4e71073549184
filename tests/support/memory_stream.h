// Streams over memory for the steps tested without a folder. The writer
// appends to a string through a cookie stream, which also works unbuffered,
// as the line writer sets it.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace fennick::test {

// Reads `text`, which must outlive the stream.
inline std::FILE* readingFrom(std::string& text) {
    return fmemopen(text.data(), text.size(), "rb");
}

// Appends everything written to `text`, which must outlive the stream.
inline std::FILE* appendingTo(std::string& text) {
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* bytes, std::size_t size) -> ssize_t {
        static_cast<std::string*>(cookie)->append(bytes, size);
        return static_cast<ssize_t>(size);
    };
    return fopencookie(&text, "wb", io);
}

// Reads `text` and then fails with EIO, as a disk with a bad block does
// right after the bytes before it. `text` must outlive the stream.
struct FailingText {
    std::string text;
    std::size_t at = 0;  // bytes handed out so far
};
inline std::FILE* readingThenFailing(FailingText& source) {
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* bytes, std::size_t size) -> ssize_t {
        auto& source = *static_cast<FailingText*>(cookie);
        const std::size_t left = source.text.size() - source.at;
        if (left == 0) {
            errno = EIO;
            return -1;
        }
        const std::size_t taken = size < left ? size : left;
        source.text.copy(bytes, taken, source.at);
        source.at += taken;
        return static_cast<ssize_t>(taken);
    };
    return fopencookie(&source, "rb", io);
}

}  // namespace fennick::test
