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
    static constexpr std::size_t kNoMemoryLimit = static_cast<std::size_t>(-1);

    // `name` is what failures call the file. A missing file is "file not found".
    // A line longer than the memory that can hold it is "out of memory" at
    // that line; `memoryLimit` caps the buffer below what the allocator
    // grants, so that tests can make that happen at a size they choose.
    LineReader(const std::filesystem::path& path, std::string_view name,
               std::size_t memoryLimit = kNoMemoryLimit);
    // Reads an open stream to its end and closes it: text in memory
    // (`fmemopen`) for steps tested without a folder.
    LineReader(std::FILE* stream, std::string_view name);
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
    bool fill();           // reads more bytes; false at end of file
    bool grow() noexcept;  // doubles the buffer; false when memory runs out

    std::FILE* file_ = nullptr;
    std::string name_;
    RawBuffer buffer_;
    std::size_t memoryLimit_ = kNoMemoryLimit;
    std::size_t begin_ = 0;  // first unread byte
    std::size_t end_ = 0;    // one past the last byte in the buffer
    bool eof_ = false;
    long line_ = 0;
};

}  // namespace fennick
