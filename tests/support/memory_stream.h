// Streams over memory for the steps tested without a folder. The writer
// appends to a string through a cookie stream, which also works unbuffered,
// as the line writer sets it.
#pragma once

#include <sys/types.h>

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

}  // namespace fennick::test
