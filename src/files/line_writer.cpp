#include "files/line_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/failure.h"

namespace fennick {

namespace {

// Writes go out in pieces of this size: a quarter of a megabyte keeps the
// system calls few on outputs of a hundred megabytes.
constexpr std::size_t kWriteBuffer = 1 << 18;
// A write this large skips the buffer and reaches the file at once.
constexpr std::size_t kDirectWrite = 1 << 16;

std::string reason(int error) {
    return std::string("(") + std::strerror(error) + ")";
}

}  // namespace

// A stream handed in keeps its own buffering: memory streams cannot go
// without a buffer, and the writer's own buffer in front costs one copy.
LineWriter::LineWriter(std::FILE* stream, std::string_view name)
    : file_(stream), name_(name), buffer_(kWriteBuffer) {}

LineWriter::LineWriter(const std::filesystem::path& path, std::string_view name)
    : name_(name), buffer_(kWriteBuffer) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        throw Failure(FailureKind::CannotCreate, path.string() + " " + reason(errno)).at(name_);
    }
    // The writer buffers itself; a second buffer in stdio would only copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

LineWriter::LineWriter(int descriptor, std::string_view name) : name_(name), buffer_(kWriteBuffer) {
    const int own = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (own < 0 || (file_ = ::fdopen(own, "wb")) == nullptr) {
        const int error = errno;
        if (own >= 0)
            ::close(own);
        throw Failure(FailureKind::CannotCreate, reason(error)).at(name_);
    }
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

LineWriter::~LineWriter() {
    if (file_ != nullptr) {
        // A failed run keeps what it wrote; an error here has no one to go to.
        if (used_ > 0)
            static_cast<void>(std::fwrite(buffer_.data(), 1, used_, file_));
        std::fclose(file_);
    }
}

void LineWriter::fail() {
    throw Failure(FailureKind::IoError, "cannot be written " + reason(errno)).at(name_);
}

void LineWriter::flushBuffer() {
    if (used_ == 0)
        return;
    const std::size_t size = used_;
    used_ = 0;
    put(buffer_.data(), size);
}

void LineWriter::put(const char* bytes, std::size_t size) {
    if (std::fwrite(bytes, 1, size, file_) != size)
        fail();
    written_ += size;
    if (watcher_ != nullptr)
        watcher_->written(written_);
}

void LineWriter::write(std::string_view text) {
    if (file_ == nullptr)
        fail();
    if (text.empty())
        return;
    if (text.size() >= kDirectWrite) {
        flushBuffer();
        put(text.data(), text.size());
        return;
    }
    if (text.size() > buffer_.size() - used_)
        flushBuffer();
    std::memcpy(buffer_.data() + used_, text.data(), text.size());
    used_ += text.size();
}

void LineWriter::writeLine(std::string_view text) {
    write(text);
    write("\r\n");
    // A file that opens but takes no bytes (a full disk or device) is noticed
    // at its first line, not at close, where a later failure would hide it.
    if (!firstLineFlushed_) {
        firstLineFlushed_ = true;
        flushBuffer();
    }
}

void LineWriter::close() {
    if (file_ == nullptr)
        return;
    std::FILE* file = file_;
    try {
        flushBuffer();
    } catch (const Failure&) {
        file_ = nullptr;
        std::fclose(file);
        throw;
    }
    file_ = nullptr;
    if (std::fclose(file) != 0)
        fail();
    if (watcher_ != nullptr)
        watcher_->closed();
}

}  // namespace fennick
