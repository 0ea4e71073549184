// Makes a rename in a folder survive a crash: the folder's own entries are
// flushed to disk.
#pragma once

#include <filesystem>
#include <optional>

namespace fennick {

// The errno of the open or the flush that failed; nothing when it worked. A
// file system that cannot flush a folder (EINVAL) has nothing to flush.
std::optional<int> syncDirectory(const std::filesystem::path& dir);

}  // namespace fennick
