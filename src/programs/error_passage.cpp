#include "programs/error_passage.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace fennick {

namespace {

// A write into a pipe whose reader is gone must fail with EPIPE instead of
// ending the run, whatever SIGPIPE's disposition: the signal is blocked for
// this thread while the object lives, and one that a write raised is taken
// back before the mask is restored.
class QuietPipe {
  public:
    QuietPipe() {
        sigemptyset(&pipeSignal_);
        sigaddset(&pipeSignal_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal_, &previous_);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~QuietPipe() {
        if (raised_ && !wasPending_) {
            const timespec now{};
            while (sigtimedwait(&pipeSignal_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    QuietPipe(const QuietPipe&) = delete;
    QuietPipe& operator=(const QuietPipe&) = delete;

    ssize_t write(int fd, const char* data, std::size_t size) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EPIPE)
            raised_ = true;
        return written;
    }

  private:
    sigset_t pipeSignal_;
    sigset_t previous_;
    bool wasPending_ = false;
    bool raised_ = false;
};

}  // namespace

ErrorPassage::ErrorPassage() {
    struct stat about {};
    socket_ = ::fstat(STDERR_FILENO, &about) == 0 && S_ISSOCK(about.st_mode);
}

void ErrorPassage::show(std::string_view text) {
    flush();
    while (!text.empty()) {
        if (cutting_) {
            // The rest of a line that was cut goes too.
            const auto end = text.find('\n');
            const std::size_t skipped = end == std::string_view::npos ? text.size() : end + 1;
            dropped_ += skipped;
            text.remove_prefix(skipped);
            cutting_ = end == std::string_view::npos;
            continue;
        }
        const std::size_t room = kBacklog - std::min(kBacklog, backlog_.size());
        if (text.size() <= room) {
            backlog_.append(text);
            break;
        }
        // Dropped from the start of a line on, so that what passes is whole
        // lines; the line's part that is still held goes too.
        std::size_t kept = text.substr(0, room).rfind('\n');
        if (kept == std::string_view::npos) {
            kept = 0;
            if (const auto held = backlog_.rfind('\n'); held != std::string::npos) {
                dropped_ += backlog_.size() - held - 1;
                backlog_.resize(held + 1);
            }
        } else {
            ++kept;
        }
        backlog_.append(text.substr(0, kept));
        text.remove_prefix(kept);
        cutting_ = true;
    }
    flush();
}

void ErrorPassage::flush() {
    if (backlog_.empty())
        return;
    // O_NONBLOCK cannot be set: the open file description is shared with
    // whoever gave us the descriptor, and their writes would start failing.
    QuietPipe quiet;
    std::size_t done = 0;
    while (done < backlog_.size()) {
        const char* data = backlog_.data() + done;
        const std::size_t size = backlog_.size() - done;
        ssize_t written = 0;
        if (socket_) {
            written = ::send(STDERR_FILENO, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        } else {
            // Room for a write of PIPE_BUF bytes or less to a pipe is
            // enough for all of it: such a write does not wait.
            pollfd out{STDERR_FILENO, POLLOUT, 0};
            if (::poll(&out, 1, 0) != 1 || out.revents != POLLOUT)
                break;
            written = quiet.write(STDERR_FILENO, data, std::min<std::size_t>(size, PIPE_BUF));
        }
        if (written > 0)
            done += static_cast<std::size_t>(written);
        else if (written == 0 || errno != EINTR)
            break;
    }
    backlog_.erase(0, done);
}

void ErrorPassage::finish(std::string_view source) {
    flush();
    dropped_ += backlog_.size();
    backlog_.clear();
    if (dropped_ == 0)
        return;
    backlog_ = std::string(program_invocation_short_name) + ": " + std::to_string(dropped_) +
               " bytes of what " + std::string(source) +
               " wrote were dropped: our standard error did not take them in time\n";
    flush();
    backlog_.clear();
}

}  // namespace fennick
