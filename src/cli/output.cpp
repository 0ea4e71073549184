#include "cli/output.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

namespace fennick::cli {

Written writeWithin(int fd, std::string_view text, std::chrono::milliseconds wait) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + wait;
    while (!text.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Written::NotInTime;
        pollfd room{fd, POLLOUT, 0};
        const int ready = ::poll(&room, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return Written::NotInTime;
        if (ready < 0 || (room.revents & POLLNVAL) != 0)
            return ready < 0 && errno != EBADF ? Written::Failed : Written::ReaderGone;
        // Room for PIPE_BUF bytes at least: a write of that much to a pipe
        // never blocks; a socket is told not to.
        const std::size_t piece = std::min<std::size_t>(text.size(), PIPE_BUF);
        ssize_t done = ::send(fd, text.data(), piece, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (done < 0 && errno == ENOTSOCK)
            done = ::write(fd, text.data(), piece);
        if (done < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            // A stream closed on us (">&-") has nobody to read it either.
            return errno == EPIPE || errno == EBADF ? Written::ReaderGone : Written::Failed;
        }
        text.remove_prefix(static_cast<std::size_t>(done));
    }
    return Written::All;
}

void printNote(std::string_view note) {
    writeWithin(STDERR_FILENO, "fennick-cli: " + std::string(note) + '\n');
}

void printFailureLine(std::string_view failure) {
    writeWithin(STDERR_FILENO, "fennick: " + std::string(failure) + '\n');
}

}  // namespace fennick::cli
