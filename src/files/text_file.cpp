#include "files/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "common/failure.h"

namespace fennick {

namespace {

constexpr std::size_t kNever = static_cast<std::size_t>(-1);
// Room before each piece for the unread start of a line from the piece
// before; a longer start is gathered apart.
constexpr std::size_t kHead = 1 << 16;

std::string reason(int error) {
    return std::string("(") + std::strerror(error) + ")";
}

}  // namespace

std::filesystem::path fileIn(const std::filesystem::path& appDir, std::string_view name) {
    return appDir / std::filesystem::path(std::string(name));
}

std::string_view fileKindName(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return "a regular file";
        case S_IFDIR:
            return "a folder";
        case S_IFCHR:
            return "a character device";
        case S_IFBLK:
            return "a block device";
        case S_IFIFO:
            return "a FIFO";
        case S_IFSOCK:
            return "a socket";
        case S_IFLNK:
            return "a symbolic link";
    }
    return "a file of unknown kind";
}

namespace {

// The first buffer of a reader that reads on demand: a piece, or less for a
// smaller file. Where it may grow to decides which lines are too long.
std::size_t firstBuffer(off_t size) {
    if (size < 0 || static_cast<std::uintmax_t>(size) >= LineReader::kPieceSize)
        return LineReader::kPieceSize;
    return std::max<std::size_t>(static_cast<std::size_t>(size) + 1, 4096);
}

// The longest line start that a buffer doubling from `first` bytes, and not
// past `limit`, can hold without finding its LF: a buffer full of one line
// that may not grow is "out of memory", whatever the file holds beyond.
std::size_t longestLine(std::size_t first, std::size_t limit) {
    std::size_t size = first;
    while (size <= limit / 2)
        size *= 2;
    return size;
}

}  // namespace

LineReader::LineReader(std::FILE* stream, std::string_view name, bool aheadThread,
                       std::size_t ownBytes)
    : file_(stream),
      name_(name),
      maxLine_(longestLine(4096, kNoMemoryLimit)),
      ahead_(std::make_unique<ReadAhead>(stream, kPieceSize, kHead, kNever)),
      piecesBeforeThread_(aheadThread ? ownBytes / kPieceSize : kNever) {}

LineReader::LineReader(const std::filesystem::path& path, std::string_view name,
                       std::size_t memoryLimit)
    : name_(name) {
    const auto unopened = [&](const std::string& why) {
        return Failure(FailureKind::IoError,
                       "cannot be opened: " + path.string() + " (" + why + ")")
            .at(name_);
    };
    // Only a regular file ends: a device or a FIFO may never, a folder holds
    // no lines, a socket cannot even be opened.
    const auto notRegular = [&](mode_t mode) {
        return unopened(std::string(fileKindName(mode)) + ", not a regular file");
    };
    struct stat status {};
    // Opened without waiting: a FIFO's open would wait for a writer for
    // ever, and the run holds the folder's lock meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            throw Failure(FailureKind::FileNotFound, "(" + path.string() + ")").at(name_);
        }
        if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
            throw notRegular(status.st_mode);
        throw unopened(std::strerror(error));
    }
    const auto refuse = [&](const Failure& failure) {
        ::close(fd);
        return failure;
    };
    if (::fstat(fd, &status) != 0)
        throw refuse(unopened(std::strerror(errno)));
    if (!S_ISREG(status.st_mode))
        throw refuse(notRegular(status.st_mode));
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw refuse(unopened(std::strerror(errno)));
    file_ = ::fdopen(fd, "rb");
    if (file_ == nullptr)
        throw refuse(unopened(std::strerror(errno)));
    // Pieces go straight from the kernel into the reader's slots.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    // A short file is read in one short piece.
    const std::size_t firstSize = firstBuffer(status.st_size);
    maxLine_ = longestLine(firstSize, memoryLimit);
    ahead_ = std::make_unique<ReadAhead>(file_, firstSize, kHead, kNever);
    piecesBeforeThread_ = kInlineBytes / firstSize;
}

LineReader::~LineReader() {
    ahead_.reset();  // the thread reads the file until it stops
    if (file_ != nullptr)
        std::fclose(file_);
}

bool LineReader::nextPiece(std::size_t carry) {
    for (;;) {
        if (started_ && nextPieceState_ != ReadAhead::kMore) {
            if (nextPieceState_ == ReadAhead::kEnd)
                return false;
            throw Failure(FailureKind::IoError, "cannot be read " + reason(nextPieceState_))
                .at(name_, line_ + 1);
        }
        // The reader of the caller's own pieces stays until the tail of its
        // last piece has moved to the thread's first one.
        std::unique_ptr<ReadAhead> own;
        if (piecesBeforeThread_ == 0) {
            piecesBeforeThread_ = kNever;
            try {
                // Both read on from where the stream stands: the caller's
                // reader has read nothing beyond the pieces it handed out.
                own = std::exchange(ahead_,
                                    std::make_unique<ReadAhead>(file_, kAheadPieceSize, kHead, 0));
            } catch (const std::bad_alloc&) {
                // Without memory for longer pieces, the caller reads on.
            }
        } else if (piecesBeforeThread_ != kNever) {
            --piecesBeforeThread_;
        }
        const ReadAhead::Piece piece = ahead_->next();
        char* base = piece.data - kHead;
        // The old piece stays valid until the next call, so its unread tail
        // can move into the new one's head room, right before its bytes.
        if (carry > 0)
            std::memcpy(base + kHead - carry, piece_ + end_ - carry, carry);
        piece_ = base;
        begin_ = kHead - carry;
        end_ = kHead + piece.size;
        nextPieceState_ = piece.after;
        started_ = true;
        if (piece.size > 0)
            return true;
    }
}

void LineReader::tooLong(std::size_t held) {
    // Named by file and line, unlike a bare std::bad_alloc: an endless
    // line (a file whose lines end otherwise, or never) is the likely cause.
    throw Failure(FailureKind::OutOfMemory, "is longer than the memory available (" +
                                                std::to_string(held) + " bytes of it read)")
        .at(name_, line_ + 1);
}

std::string_view LineReader::endLine(const char* start, std::size_t length, bool terminated) {
    ++line_;
    if (terminated && length > 0 && start[length - 1] == '\r')
        --length;
    return {start, length};
}

bool LineReader::atEnd() {
    return begin_ == end_ && !nextPiece(0);
}

std::string_view LineReader::readLine() {
    if (atEnd()) {
        throw Failure(FailureKind::InputPastEnd, "holds no further line").at(name_, line_ + 1);
    }
    const char* start = piece_ + begin_;
    const void* lf = std::memchr(start, '\n', std::min(end_ - begin_, maxLine_));
    if (lf == nullptr)
        return longLine();
    const std::size_t length = static_cast<const char*>(lf) - start;
    begin_ += length + 1;
    return endLine(start, length, true);
}

std::string_view LineReader::longLine() {
    // A line that fits in the head room moves there, before the next piece.
    while (end_ - begin_ <= kHead) {
        const std::size_t held = end_ - begin_;
        if (held >= maxLine_)
            tooLong(maxLine_);
        if (!nextPiece(held)) {  // a last line without terminator
            const char* start = piece_ + begin_;
            begin_ = end_;
            return endLine(start, held, false);
        }
        const char* start = piece_ + begin_;
        const std::size_t searched = std::min(end_ - begin_, maxLine_);
        const void* lf = std::memchr(start + held, '\n', searched - held);
        if (lf != nullptr) {
            const std::size_t length = static_cast<const char*>(lf) - start;
            begin_ += length + 1;
            return endLine(start, length, true);
        }
    }
    // A longer one gathers in a buffer of its own.
    try {
        longLine_.assign(piece_ + begin_, end_ - begin_);
        begin_ = end_;
        for (;;) {
            if (longLine_.size() >= maxLine_)
                tooLong(maxLine_);
            if (!nextPiece(0))
                return endLine(longLine_.data(), longLine_.size(), false);
            const char* start = piece_ + begin_;
            const std::size_t room = std::min(end_ - begin_, maxLine_ - longLine_.size());
            const void* lf = std::memchr(start, '\n', room);
            const std::size_t taken =
                lf != nullptr ? static_cast<const char*>(lf) - start : end_ - begin_;
            longLine_.append(start, taken);
            begin_ += taken;
            if (lf != nullptr) {
                ++begin_;
                return endLine(longLine_.data(), longLine_.size(), true);
            }
        }
    } catch (const std::bad_alloc&) {
        tooLong(longLine_.size());
    }
}

}  // namespace fennick
