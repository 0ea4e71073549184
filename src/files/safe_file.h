// Files that fennick-cli replaces outside its folder (the metrics file, the
// JSON findings): only ever a regular file, and always whole.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace fennick {

// The text of `file` (through its links) when it is a regular file of at
// most `most` bytes; empty otherwise. Never waits, whatever lies there.
std::string smallFileText(const std::filesystem::path& file, std::size_t most);

// Replaces `file` whole with `text`, with `mode` whatever the umask. A
// symbolic link is followed, and the file it leads to is replaced in its own
// folder, so the link stays. The text goes to a hidden file of its own
// beside it, reaches the disk and is renamed onto it (files/replaced_file.h);
// such hidden files that killed runs left are removed. Anything other than a
// regular file at the path (a device, a FIFO, a socket, a folder) is never
// opened, written or renamed onto: that, and any other failure, is "cannot
// create file" naming the file and why, and leaves no hidden file behind.
void replaceFile(const std::filesystem::path& file, std::string_view text, mode_t mode);

}  // namespace fennick
