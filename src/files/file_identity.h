// Where a path leads and which file lies there, so that two paths can be
// told to be one file however they are written: "./", "..", symbolic links
// (followed as opening the path follows them) or hard links.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace fennick {

// Where `file` leads through the symbolic links at its end, and the kind of
// what is there; the mode is 0 when nothing is (the file is to be made). A
// relative link leads from the folder that holds it. A loop of links, or
// more of them than the kernel follows, sets `error` and stops there.
struct LinkEnd {
    std::filesystem::path path;
    mode_t mode = 0;
};
LinkEnd linkEnd(const std::filesystem::path& file, std::error_code& error);

// The file a path stands for: the end of its links as an absolute path with
// the folders' own links resolved, and its device and inode when it exists.
struct FileIdentity {
    std::filesystem::path path;
    std::optional<std::pair<dev_t, ino_t>> inode;
};
FileIdentity identityOf(const std::filesystem::path& file);

// One file: the same inode, or, for a file not made yet, the same place.
bool sameFile(const FileIdentity& one, const FileIdentity& other);

}  // namespace fennick
