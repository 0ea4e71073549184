#include "files/file_identity.h"

#include <sys/stat.h>

namespace fennick {

namespace {

// As many links as the kernel follows in one path before it gives up.
constexpr int kMostLinks = 40;

}  // namespace

LinkEnd linkEnd(const std::filesystem::path& file, std::error_code& error) {
    error.clear();
    LinkEnd end{file};
    for (int links = 0;; ++links) {
        struct stat status {};
        if (::lstat(end.path.c_str(), &status) != 0)
            return end;  // making the file names what is wrong, if anything
        if (!S_ISLNK(status.st_mode)) {
            end.mode = status.st_mode;
            return end;
        }
        if (links >= kMostLinks) {
            error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
            return end;
        }
        const std::filesystem::path next = std::filesystem::read_symlink(end.path, error);
        if (error)
            return end;
        end.path = next.is_absolute() ? next : end.path.parent_path() / next;
    }
}

FileIdentity identityOf(const std::filesystem::path& file) {
    std::error_code ignored;  // a loop of links still names a place
    const LinkEnd end = linkEnd(file, ignored);
    FileIdentity identity;
    std::error_code unknown;
    const std::filesystem::path absolute = std::filesystem::absolute(end.path, unknown);
    const std::filesystem::path& where = unknown ? end.path : absolute;
    // The folder through its links; the name itself is already a link's end
    // (or a folder, which canonical form takes whole).
    const std::filesystem::path name = where.filename();
    if (name.empty() || name == "." || name == "..") {
        identity.path = std::filesystem::weakly_canonical(where, unknown);
    } else {
        identity.path = std::filesystem::weakly_canonical(where.parent_path(), unknown) / name;
    }
    if (unknown)
        identity.path = where.lexically_normal();
    struct stat status {};
    if (::stat(end.path.c_str(), &status) == 0)
        identity.inode = std::make_pair(status.st_dev, status.st_ino);
    return identity;
}

bool sameFile(const FileIdentity& one, const FileIdentity& other) {
    if (one.inode && other.inode)
        return *one.inode == *other.inode;
    return one.path == other.path;
}

}  // namespace fennick
