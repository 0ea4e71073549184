// Single-byte text files: bytes pass through unchanged, lines end in CR LF
// when written, and LF (with one CR before it removed) when read.
#pragma once

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fennick {

// `AppDir` joined with a file's name.
std::filesystem::path fileIn(const std::filesystem::path& appDir, std::string_view name);

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

// Creates a file anew (replacing one of the same name) and writes lines that
// end in CR LF. What was written stays on disk if a later step fails: the
// writer's buffer goes out when it is closed or destroyed.
class LineWriter {
  public:
    LineWriter(const std::filesystem::path& path, std::string_view name);
    // Writes to an open stream and closes it (`open_memstream` in tests).
    LineWriter(std::FILE* stream, std::string_view name);
    ~LineWriter();
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    void write(std::string_view text);
    void writeLine(std::string_view text);
    // Flushes and closes; a failed flush is an I/O error.
    void close();

  private:
    void fail();
    void flushBuffer();

    std::FILE* file_ = nullptr;
    std::string name_;
    // Lines gather here and reach the file in large writes, one call per
    // buffer rather than two per line.
    RawBuffer buffer_;
    std::size_t used_ = 0;
    bool firstLineFlushed_ = false;
};

}  // namespace fennick
