// Single-byte text files: bytes pass through unchanged, lines end in CR LF
// when written, and LF (with one CR before it removed) when read.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/line_writer.h"
#include "common/raw_buffer.h"

namespace fennick {

// `AppDir` joined with a file's name.
std::filesystem::path fileIn(const std::filesystem::path& appDir, std::string_view name);

// Reads a file one line at a time through one reusable buffer, so memory
// follows the longest line, not the file.
class LineReader {
  public:
    // `name` is what failures call the file. A missing file is "file not found".
    LineReader(const std::filesystem::path& path, std::string name);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool atEnd();
    // The next line without its terminator; valid until the next readLine()
    // or atEnd(), either of which may refill the buffer.
    // Reading when atEnd() is "input past end".
    std::string_view readLine();
    // 1-based number of the line that readLine() returned last.
    long lineNumber() const noexcept { return line_; }
    const std::string& name() const noexcept { return name_; }

  private:
    bool fill();  // reads more bytes; false at end of file

    std::FILE* file_ = nullptr;
    std::string name_;
    RawBuffer buffer_;
    std::size_t begin_ = 0;  // first unread byte
    std::size_t end_ = 0;    // one past the last byte in the buffer
    bool eof_ = false;
    long line_ = 0;
};

// Whole-file helpers for small files and tests.
std::string readAll(const std::filesystem::path& path);
void writeAll(const std::filesystem::path& path, std::string_view bytes);

}  // namespace fennick
