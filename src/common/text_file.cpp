#include "common/text_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "common/failure.h"

namespace fennick {

namespace {

// Reads in pieces of this size: a quarter of a megabyte keeps the
// system calls few on a dump of a gigabyte.
constexpr std::size_t kChunk = 1 << 18;

std::string reason(int error) {
    return std::string("(") + std::strerror(error) + ")";
}

}  // namespace

std::filesystem::path fileIn(const std::filesystem::path& appDir, std::string_view name) {
    return appDir / std::filesystem::path(std::string(name));
}

namespace {

// The first buffer of a reader: a chunk, or less for a smaller file, so that
// reading a short list does not claim a chunk of memory.
std::size_t firstBuffer(const std::filesystem::path& path) {
    std::error_code unknown;
    const std::uintmax_t size = std::filesystem::file_size(path, unknown);
    if (unknown || size >= kChunk)
        return kChunk;
    return std::max<std::size_t>(static_cast<std::size_t>(size) + 1, 4096);
}

}  // namespace

LineReader::LineReader(std::FILE* stream, std::string_view name)
    : file_(stream), name_(name), buffer_(4096) {}

LineReader::LineReader(const std::filesystem::path& path, std::string_view name,
                       std::size_t memoryLimit)
    : name_(name), buffer_(firstBuffer(path)), memoryLimit_(memoryLimit) {
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            throw Failure(FailureKind::FileNotFound, "(" + path.string() + ")").at(name_);
        }
        throw Failure(FailureKind::IoError,
                      "cannot be opened: " + path.string() + " " + reason(error))
            .at(name_);
    }
}

LineReader::~LineReader() {
    if (file_ != nullptr)
        std::fclose(file_);
}

bool LineReader::fill() {
    if (eof_)
        return false;
    if (begin_ > 0) {  // keep the unread tail at the front
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size() && !grow()) {  // a very long line
        // Named by file and line, unlike a bare std::bad_alloc: an endless
        // line (a file whose lines end otherwise, or never) is the likely cause.
        throw Failure(FailureKind::OutOfMemory, "is longer than the memory available (" +
                                                    std::to_string(end_) + " bytes of it read)")
            .at(name_, line_ + 1);
    }
    const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
    if (got == 0) {
        if (std::ferror(file_)) {
            throw Failure(FailureKind::IoError, "cannot be read " + reason(errno))
                .at(name_, line_ + 1);
        }
        eof_ = true;
        return false;
    }
    end_ += got;
    return true;
}

bool LineReader::grow() noexcept {
    if (buffer_.size() > memoryLimit_ / 2)  // also where doubling would wrap around
        return false;
    try {
        buffer_.grow(end_);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool LineReader::atEnd() {
    return begin_ == end_ && !fill();
}

std::string_view LineReader::readLine() {
    if (atEnd()) {
        throw Failure(FailureKind::InputPastEnd, "holds no further line").at(name_, line_ + 1);
    }
    std::size_t scanned = begin_;
    for (;;) {
        const void* lf = std::memchr(buffer_.data() + scanned, '\n', end_ - scanned);
        if (lf != nullptr) {
            const std::size_t at = static_cast<const char*>(lf) - buffer_.data();
            std::size_t length = at - begin_;
            if (length > 0 && buffer_.data()[at - 1] == '\r')
                --length;
            std::string_view line(buffer_.data() + begin_, length);
            begin_ = at + 1;
            ++line_;
            return line;
        }
        scanned = end_ - begin_;  // offsets move to the front when fill() compacts
        if (!fill()) {
            std::string_view line(buffer_.data() + begin_, end_ - begin_);
            begin_ = end_;
            ++line_;
            return line;  // a last line without terminator
        }
        scanned += begin_;
    }
}

}  // namespace fennick
