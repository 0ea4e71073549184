#include "run/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "common/failure.h"

namespace fennick {

namespace {

// Short enough that a waiting run starts soon after the first ends, long
// enough to cost nothing while it waits.
constexpr std::chrono::milliseconds kPoll{50};

std::string waited(std::chrono::milliseconds patience) {
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(patience).count();
    if (minutes > 0)
        return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
    return std::to_string(patience.count()) + " ms";
}

}  // namespace

RunLock::RunLock(const std::filesystem::path& appDir, std::chrono::milliseconds patience) {
    descriptor_ = ::open(appDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor_ < 0) {
        const int error = errno;
        throw Failure(
            error == ENOENT || error == ENOTDIR ? FailureKind::FileNotFound : FailureKind::IoError,
            std::string("cannot be opened as the folder of the run (") + std::strerror(error) + ")")
            .at(appDir.string());
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0)
            return;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            ::close(descriptor_);
            descriptor_ = -1;
            if (error != EWOULDBLOCK) {
                throw Failure(FailureKind::IoError,
                              std::string("cannot be locked (") + std::strerror(error) + ")")
                    .at(appDir.string());
            }
            throw Failure(FailureKind::Busy,
                          "is held by another run; gave up after waiting " + waited(patience))
                .at(appDir.string());
        }
        std::this_thread::sleep_for(kPoll);
    }
}

RunLock::~RunLock() {
    if (descriptor_ >= 0)
        ::close(descriptor_);  // closing the last descriptor releases the lock
}

}  // namespace fennick
