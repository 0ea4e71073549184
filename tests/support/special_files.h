// Files that are not regular files, made in a test's folder, for the readers
// and writers that must refuse them at once; and a wait with a time limit,
// so that one that blocks on them fails its test instead of hanging it.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "common/failure.h"
#include "common/failure_of.h"

namespace fennick::test {

struct SpecialFile {
    const char* kind;  // as messages name it
    // Makes it at `path`; false when this process may not (devices need root).
    bool (*make)(const std::filesystem::path& path);
};

inline bool makeFifo(const std::filesystem::path& path) {
    return ::mkfifo(path.c_str(), 0644) == 0;
}

// What /dev/null is: a stray rename onto the real one breaks the host.
inline bool makeCharacterDevice(const std::filesystem::path& path) {
    return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

// The socket's file stays after the socket is closed.
inline bool makeSocket(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof(address.sun_path))
        return false;
    std::strcpy(address.sun_path, path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

inline bool makeFolder(const std::filesystem::path& path) {
    return std::filesystem::create_directory(path);
}

inline const SpecialFile kSpecialFiles[] = {
    {"a FIFO", makeFifo},
    {"a character device", makeCharacterDevice},
    {"a socket", makeSocket},
    {"a folder", makeFolder},
};

// The Failure that `action` throws, waiting five seconds at most. On a
// timeout the action's thread is left behind, so `action` must own what it
// uses (capture by value).
template <class Action>
std::optional<Failure> failureWithin(Action action) {
    auto result = std::make_shared<std::promise<std::optional<Failure>>>();
    auto done = result->get_future();
    std::thread([result, action] { result->set_value(failureOf(action)); }).detach();
    if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "still waiting after 5 s";
        return std::nullopt;
    }
    return done.get();
}

}  // namespace fennick::test
