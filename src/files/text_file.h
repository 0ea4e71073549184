// Single-byte text files: bytes pass through unchanged, lines end in CR LF
// when written, and LF (with one CR before it removed) when read.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "files/line_writer.h"
#include "files/read_ahead.h"

namespace fennick {

// `AppDir` joined with a file's name.
std::filesystem::path fileIn(const std::filesystem::path& appDir, std::string_view name);

// What a message calls the kind of file that `mode` (a stat's st_mode) is:
// "a FIFO", "a character device", "a folder", ...
std::string_view fileKindName(mode_t mode);

// Reads a file one line at a time, so that memory follows the longest line,
// not the file. A second thread reads ahead (files/read_ahead.h); lines,
// line numbers and failures are those of reading piece by piece on demand.
class LineReader {
  public:
    static constexpr std::size_t kNoMemoryLimit = static_cast<std::size_t>(-1);
    // The caller reads in pieces of this size (a shorter file in one piece).
    static constexpr std::size_t kPieceSize = std::size_t{1} << 18;
    // Once a thread reads ahead, it reads pieces of this size: each piece
    // wakes it, a wake-up on a virtual machine costs tens of microseconds,
    // and a month's run took ~15 % less time with a megabyte than with a
    // quarter of one (bench/RESULTS.md). The caller's own pieces stay short,
    // as their memory is all that a daily run needs.
    static constexpr std::size_t kAheadPieceSize = std::size_t{1} << 20;
    // A thread reads ahead only after this much: a daily run's scan (tens of
    // megabytes) is over before the thread would pay for itself.
    static constexpr std::size_t kInlineBytes = std::size_t{48} << 20;

    // `name` is what failures call the file. A missing file is "file not found";
    // one that is not a regular file (a FIFO, a device, a socket, a folder) is
    // an I/O error at once, without waiting for a writer or reading a byte.
    // A line longer than the memory that can hold it is "out of memory" at
    // that line; `memoryLimit` caps the buffer below what the allocator
    // grants, so that tests can make that happen at a size they choose.
    LineReader(const std::filesystem::path& path, std::string_view name,
               std::size_t memoryLimit = kNoMemoryLimit);
    // Reads an open stream to its end and closes it: text in memory
    // (`fmemopen`) for steps tested without a folder, or a file followed as
    // it is written. Without `aheadThread`, every read is the caller's own:
    // a reader on a low-priority thread would hand its priority on.
    // With `aheadThread`, a thread reads ahead once `ownBytes` are read
    // (tests pass less).
    LineReader(std::FILE* stream, std::string_view name, bool aheadThread = true,
               std::size_t ownBytes = kInlineBytes);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool atEnd();
    // The next line without its terminator; valid until the next readLine()
    // or atEnd(), either of which may read further.
    // Reading when atEnd() is "input past end".
    std::string_view readLine();
    // 1-based number of the line that readLine() returned last.
    long lineNumber() const noexcept { return line_; }
    const std::string& name() const noexcept { return name_; }

  private:
    // Makes the next piece current, with the last `carry` unread bytes of the
    // current one moved before it; false at the end of the file.
    bool nextPiece(std::size_t carry);
    // A line whose end is not in the current piece.
    std::string_view longLine();
    [[noreturn]] void tooLong(std::size_t held);
    std::string_view endLine(const char* start, std::size_t length, bool terminated);

    std::FILE* file_ = nullptr;
    std::string name_;
    // The longest line start a buffer that doubles from its first size up to
    // the memory limit can hold without its LF: a longer one is "out of memory".
    std::size_t maxLine_;
    std::unique_ptr<ReadAhead> ahead_;
    // The pieces the caller still reads itself before a thread takes over.
    std::size_t piecesBeforeThread_;
    char* piece_ = nullptr;  // the current piece's bytes, with head room before
    std::size_t begin_ = 0;  // first unread byte, an offset from `piece_`
    std::size_t end_ = 0;
    int nextPieceState_ = ReadAhead::kMore;  // what follows the current piece
    bool started_ = false;
    // A line that runs over more than the head room of the next piece.
    std::string longLine_;
    long line_ = 0;
};

}  // namespace fennick
