#include "files/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "files/file_identity.h"
#include "files/replaced_file.h"

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

}  // namespace

std::string smallFileText(const std::filesystem::path& file, std::size_t most) {
    std::error_code loop;  // a loop of links holds nothing to keep
    const LinkEnd end = linkEnd(file, loop);
    return !loop && end.mode != 0 && S_ISREG(end.mode) ? regularFileText(end.path, most)
                                                       : std::string();
}

void replaceFile(const std::filesystem::path& file, std::string_view text, mode_t mode) {
    // "reports/" names its folder, which is then what the failure is about.
    const std::filesystem::path named = file.filename().empty() ? file.parent_path() : file;
    const std::string name = named.filename().empty() ? file.string() : named.filename().string();
    ReplacedFile part(file, name, mode);
    part.write(text);
    // The file is whole either way; only a crash could still lose the rename.
    static_cast<void>(part.install());
}

}  // namespace fennick
