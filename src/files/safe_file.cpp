#include "files/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "common/failure.h"
#include "files/file_identity.h"
#include "files/sync_directory.h"
#include "files/text_file.h"

namespace fennick {

namespace {

// The earlier text of `file`, a path without a link at its end; empty
// unless it is a regular file of sane size. Never waits: whatever took the
// file's place since it was looked at may be a FIFO without a writer.
std::string regularFileText(const std::filesystem::path& file, std::size_t most) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::uintmax_t>(status.st_size) <= most) {
        std::array<char, 1 << 16> piece;
        for (;;) {
            const ssize_t got = ::read(fd, piece.data(), piece.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                text.clear();
                break;
            }
            if (got == 0)
                break;
            if (text.size() + static_cast<std::size_t>(got) > most) {
                text.clear();  // grown since: not ours either
                break;
            }
            text.append(piece.data(), static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return text;
}

// Where `file` leads through its links; a loop of them cannot be replaced.
LinkEnd followedEnd(const std::filesystem::path& file) {
    std::error_code error;
    LinkEnd end = linkEnd(file, error);
    if (error) {
        throw Failure(FailureKind::CannotCreate, file.string() + " (" + error.message() + ")")
            .at(file.filename().string());
    }
    return end;
}

// Writes all of `text` to `fd`; false with errno set when it cannot.
bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

std::string smallFileText(const std::filesystem::path& file, std::size_t most) {
    try {
        const LinkEnd end = followedEnd(file);
        return end.mode != 0 && S_ISREG(end.mode) ? regularFileText(end.path, most) : std::string();
    } catch (const Failure&) {
        return {};  // a loop of links holds nothing to keep
    }
}

void replaceFile(const std::filesystem::path& file, std::string_view text, mode_t mode) {
    // "reports/" names its folder, which is then what the failure is about.
    const std::filesystem::path named = file.filename().empty() ? file.parent_path() : file;
    const std::string name = named.filename().empty() ? file.string() : named.filename().string();
    const LinkEnd end = followedEnd(file);
    // The file as given, and where its links lead when they lead elsewhere.
    const auto described = [&](std::string_view what) {
        std::string out = file.string() + " (";
        if (end.path != file)
            out += "links to " + end.path.string() + ": ";
        return out.append(what) + ")";
    };
    // Renaming onto /dev/null would break the host; a FIFO would hold a
    // reader of the file for ever.
    if (end.mode != 0 && !S_ISREG(end.mode)) {
        throw Failure(FailureKind::CannotCreate,
                      described(std::string(fileKindName(end.mode)) + ", not a regular file"))
            .at(name);
    }
    // A name of its own, beside the file it replaces (a rename stays within
    // one file system): a run that fails at once may write while the run
    // before it, no longer holding the folder, still writes the same file.
    std::string part =
        (end.path.parent_path() / ('.' + end.path.filename().string() + ".XXXXXX")).string();
    const auto fail = [&](int error, int fd) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(part.c_str());
        return Failure(FailureKind::CannotCreate, described(std::strerror(error))).at(name);
    };
    // Made anew (O_EXCL): a link planted under the hidden name is not followed.
    const int fd = ::mkostemp(part.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw Failure(FailureKind::CannotCreate, described(std::strerror(error))).at(name);
    }
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, text) || ::fsync(fd) != 0)
        throw fail(errno, fd);
    if (::close(fd) != 0)
        throw fail(errno, -1);
    if (::rename(part.c_str(), end.path.c_str()) != 0)
        throw fail(errno, -1);
    // The rename itself reaches the disk with the folder's entry.
    const std::filesystem::path folder =
        end.path.parent_path().empty() ? "." : end.path.parent_path();
    // The file is whole either way; only a crash could still lose the rename.
    static_cast<void>(syncDirectory(folder));
}

}  // namespace fennick
