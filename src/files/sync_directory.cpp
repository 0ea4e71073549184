#include "files/sync_directory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fennick {

std::optional<int> syncDirectory(const std::filesystem::path& dir) {
    const int descriptor = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return errno;
    std::optional<int> error;
    if (::fsync(descriptor) != 0 && errno != EINVAL)
        error = errno;
    ::close(descriptor);
    return error;
}

}  // namespace fennick
