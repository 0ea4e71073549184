#include "common/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/failure.h"

namespace fennick {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Long enough for a program to tidy up after SIGTERM, short enough that a
// hung one does not hold the run long past its deadline.
constexpr milliseconds kGrace{2000};
// How long what a finished program left in the background may still write
// to its standard error before the group is killed.
constexpr milliseconds kDrain{200};
// How often the loop looks whether the program has ended; its standard error
// may stay open in a background process, so its end of file cannot tell.
constexpr milliseconds kTick{20};
constexpr std::size_t kChunk = 64 * 1024;

// How the child tells the parent why it did not reach the program.
enum Stage : int { kRedirecting, kChangingDir, kExecuting };

class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        return *this;
    }

    int get() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);  // never retried: on Linux the descriptor is gone either way
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

struct Pipe {
    Descriptor read;
    Descriptor write;
};

Failure startFailure(const std::string& program, std::string_view where, int error) {
    return Failure(FailureKind::CommandFailed, quotedText(program) + " cannot be started" +
                                                   std::string(where) + " (" +
                                                   std::strerror(error) + ")");
}

Pipe makePipe(const std::string& program) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw startFailure(program, "", errno);
    return {Descriptor(ends[0]), Descriptor(ends[1])};
}

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// A write to a pipe whose reader is gone must fail with EPIPE instead of
// ending the run: SIGPIPE is blocked for this thread while the object lives,
// and one that the write raised is taken back before the mask is restored.
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

// SIGINT, SIGTERM and SIGHUP while a program runs: their default action would
// end us at once and leave the program's group running on its own, so they
// are held back and read from a descriptor in the loop that waits for it.
class StopSignals {
  public:
    explicit StopSignals(const std::string& program) {
        sigset_t current;
        pthread_sigmask(SIG_SETMASK, nullptr, &current);
        sigemptyset(&watched_);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            // An ignored one stays ignored (nohup, a background job's
            // SIGINT); a blocked one is the caller's to take later.
            struct sigaction action {};
            if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN &&
                sigismember(&current, signal) == 0)
                sigaddset(&watched_, signal);
        }
        descriptor_ = Descriptor(::signalfd(-1, &watched_, SFD_NONBLOCK | SFD_CLOEXEC));
        if (!descriptor_.open())
            throw startFailure(program, "", errno);
        pthread_sigmask(SIG_BLOCK, &watched_, &previous_);
    }
    ~StopSignals() {
        // Once we are stopping, a second signal must not end us before the
        // guards on the way out have removed what they guard.
        if (received_ != 0) {
            while (take() != 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first stop signal that arrived; 0 while none has.
    int received() {
        if (received_ == 0)
            received_ = take();
        return received_;
    }
    // For poll to wake on a signal; -1 once one arrived, so that the loops
    // that stop the program do not spin on it.
    int wake() const { return received_ == 0 ? descriptor_.get() : -1; }

  private:
    int take() {
        signalfd_siginfo info{};
        const ssize_t got = ::read(descriptor_.get(), &info, sizeof info);
        return got == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
    }

    sigset_t watched_;
    sigset_t previous_;
    Descriptor descriptor_;
    int received_ = 0;
};

// A SIGCHLD that we inherited ignored (or with SA_NOCLDWAIT) lets the kernel
// reap the program unasked: its status would be lost and read as 0, a failed
// command taken for a good one. The default holds while the object lives;
// the program is started with it too.
class ChildrenKept {
  public:
    ChildrenKept() {
        ::sigaction(SIGCHLD, nullptr, &previous_);
        if (previous_.sa_handler == SIG_IGN || (previous_.sa_flags & SA_NOCLDWAIT) != 0) {
            struct sigaction standard {};
            standard.sa_handler = SIG_DFL;
            sigemptyset(&standard.sa_mask);
            changed_ = ::sigaction(SIGCHLD, &standard, nullptr) == 0;
        }
    }
    ~ChildrenKept() {
        if (changed_)
            ::sigaction(SIGCHLD, &previous_, nullptr);
    }
    ChildrenKept(const ChildrenKept&) = delete;
    ChildrenKept& operator=(const ChildrenKept&) = delete;

  private:
    struct sigaction previous_ {};
    bool changed_ = false;
};

// Our standard error may be a pipe too; what cannot be shown is dropped.
void showOnStandardError(std::string_view text) {
    QuietPipe quiet;
    while (!text.empty()) {
        const ssize_t written = quiet.write(STDERR_FILENO, text.data(), text.size());
        if (written > 0) {
            text.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && errno == EAGAIN) {
            pollfd out{STDERR_FILENO, POLLOUT, 0};
            if (::poll(&out, 1, 1000) == 0)
                return;
        } else if (written == 0 || errno != EINTR) {
            return;
        }
    }
}

std::string_view trimmed(std::string_view line) {
    constexpr std::string_view kBlank = " \t\r\f\v";
    const auto first = line.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return {};
    return line.substr(first, line.find_last_not_of(kBlank) - first + 1);
}

// The end of a long line, not starting inside a UTF-8 sequence.
std::string endOf(std::string_view line) {
    if (line.size() > kLastLineBytes) {
        line.remove_prefix(line.size() - kLastLineBytes);
        while (!line.empty() && (static_cast<unsigned char>(line.front()) & 0xC0) == 0x80)
            line.remove_prefix(1);
    }
    return std::string(line);
}

// The last non-empty line of a stream that arrives in pieces; a very long
// line costs no more memory than a short one.
class LastLine {
  public:
    void add(std::string_view bytes) {
        for (;;) {
            const auto end = bytes.find('\n');
            current_.append(bytes.substr(0, end));
            if (current_.size() > 2 * kLastLineBytes)
                current_.erase(0, current_.size() - kLastLineBytes - 8);
            if (end == std::string_view::npos)
                return;
            if (const auto line = trimmed(current_); !line.empty())
                last_ = endOf(line);
            current_.clear();
            bytes.remove_prefix(end + 1);
        }
    }
    // A last line without a newline counts too.
    std::string value() const {
        const auto line = trimmed(current_);
        return line.empty() ? last_ : endOf(line);
    }

  private:
    std::string current_;
    std::string last_;
};

// Only async-signal-safe calls: the parent may have other threads.
[[noreturn]] void reportAndExit(int report, Stage stage, int error) {
    const int message[2] = {stage, error};
    while (::write(report, message, sizeof message) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

[[noreturn]] void becomeProgram(char* const* argv, const char* dir, const int (&streams)[3],
                                int report) {
    ::setpgid(0, 0);
    // The run's own signal settings are not the program's.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(SIGPIPE, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    // Copies above 2 first, so that no dup2 below replaces a stream that a
    // later one still has to be copied from.
    int high[3];
    for (int i = 0; i < 3; ++i) {
        high[i] = ::fcntl(streams[i], F_DUPFD_CLOEXEC, 3);
        if (high[i] < 0)
            reportAndExit(report, kRedirecting, errno);
    }
    for (int i = 0; i < 3; ++i) {
        if (::dup2(high[i], i) < 0)
            reportAndExit(report, kRedirecting, errno);
    }
    if (dir != nullptr && ::chdir(dir) != 0)
        reportAndExit(report, kChangingDir, errno);
    ::execvp(argv[0], argv);
    reportAndExit(report, kExecuting, errno);
}

// The started program's process group; whatever of it still runs when the
// object goes (a failure in between) is killed and the program reaped.
class Group {
  public:
    explicit Group(pid_t leader) : leader_(leader) {}
    ~Group() {
        if (!reaped_) {
            kill(SIGKILL);
            reap();
        }
    }
    Group(const Group&) = delete;
    Group& operator=(const Group&) = delete;

    void kill(int signal) const { ::kill(-leader_, signal); }

    // Whether the program has ended. It stays unreaped, so that its number
    // cannot pass to another group before ours has been killed.
    bool ended() const {
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(leader_), &info, WEXITED | WNOHANG | WNOWAIT) <
               0) {
            if (errno != EINTR)
                return true;  // no such child any more: nothing to wait for
        }
        return info.si_pid == leader_;
    }

    int reap() {
        int status = 0;
        while (::waitpid(leader_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        return status;
    }

  private:
    pid_t leader_;
    bool reaped_ = false;
};

// The parent's ends of the child's standard input and error while it runs.
class Streams {
  public:
    Streams(Descriptor errors, Descriptor input, std::string_view toFeed)
        : errors_(std::move(errors)), input_(std::move(input)), toFeed_(toFeed) {
        setNonBlocking(errors_.get());
        if (toFeed_.empty())
            input_.reset();
        else
            setNonBlocking(input_.get());
    }

    bool errorsOpen() const { return errors_.open(); }
    void stopFeeding() { input_.reset(); }
    std::string lastErrorLine() const { return lastLine_.value(); }

    // Feeds input and copies errors for at most `wait`; both in one loop, so
    // a program that writes much to its standard error before it reads its
    // input cannot block us, nor we it. Returns early when `wake` (-1: none)
    // becomes readable; the caller reads it.
    void pump(milliseconds wait, int wake) {
        pollfd watched[3];
        nfds_t count = 0;
        if (errors_.open())
            watched[count++] = {errors_.get(), POLLIN, 0};
        if (input_.open())
            watched[count++] = {input_.get(), POLLOUT, 0};
        if (wake >= 0)
            watched[count++] = {wake, POLLIN, 0};
        if (::poll(watched, count,
                   static_cast<int>(std::max<milliseconds::rep>(wait.count(), 0))) <= 0)
            return;  // EINTR too: the caller's loop looks at the clock again
        for (nfds_t i = 0; i < count; ++i) {
            if (watched[i].revents == 0)
                continue;
            if (watched[i].fd == errors_.get())
                copyErrors();
            else if (watched[i].fd == input_.get())
                feed();
        }
    }

    // Copies what is waiting in the pipe now; a background process of the
    // program may keep it open, so no end of file is waited for.
    void copyWaitingErrors() {
        for (int reads = 0; reads < 16 && errors_.open(); ++reads) {
            if (!copyErrors())
                return;
        }
    }

  private:
    // Whether there may be more to read at once.
    bool copyErrors() {
        char buffer[kChunk];
        const ssize_t got = ::read(errors_.get(), buffer, sizeof buffer);
        if (got > 0) {
            const std::string_view text(buffer, static_cast<std::size_t>(got));
            showOnStandardError(text);
            lastLine_.add(text);
            return true;
        }
        if (got == 0 || (errno != EAGAIN && errno != EINTR))
            errors_.reset();
        return false;
    }

    void feed() {
        QuietPipe quiet;
        const ssize_t written =
            quiet.write(input_.get(), toFeed_.data(), std::min(toFeed_.size(), kChunk));
        if (written > 0) {
            toFeed_.remove_prefix(static_cast<std::size_t>(written));
            if (toFeed_.empty())
                input_.reset();  // the program sees its end of input
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            input_.reset();  // it stopped reading; its exit status tells whether that was wrong
        }
    }

    Descriptor errors_;
    Descriptor input_;
    std::string_view toFeed_;
    LastLine lastLine_;
};

milliseconds left(Clock::time_point until) {
    return std::max(milliseconds{0}, std::chrono::ceil<milliseconds>(until - Clock::now()));
}

}  // namespace

ChildEnd runChild(const ChildRequest& request) {
    if (request.arguments.empty())
        throw Failure(FailureKind::CommandFailed, "no program was given to start");
    const std::string& program = request.arguments.front();
    // Everything the child needs is made before the fork: between fork and
    // exec it may only make async-signal-safe calls.
    std::vector<char*> argv;
    for (const std::string& argument : request.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const char* dir = request.workingDir.empty() ? nullptr : request.workingDir.c_str();

    Pipe errors = makePipe(program);
    // Closed by the exec, or carrying the reason why the program did not start.
    Pipe report = makePipe(program);
    Pipe input;
    if (request.input) {
        input = makePipe(program);
    } else {
        input.read = Descriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!input.read.open())
            throw startFailure(program, "", errno);
    }
    const int streams[3] = {input.read.get(),
                            request.standardOutput >= 0 ? request.standardOutput : STDERR_FILENO,
                            errors.write.get()};

    const ChildrenKept kept;
    // Held back before the fork, so that none is lost between it and the loop.
    StopSignals stop(program);
    // A stop asked for while the program failed to start wins over the failure.
    const auto failedToStart = [&](std::string_view where, int error) {
        if (const int signal = stop.received())
            throw Interrupted(signal);
        return startFailure(program, where, error);
    };
    const pid_t pid = ::fork();
    if (pid < 0)
        throw failedToStart("", errno);
    if (pid == 0)
        becomeProgram(argv.data(), dir, streams, report.write.get());
    ::setpgid(pid, pid);  // here too, so the group exists whichever of the two runs first
    Group group(pid);
    errors.write.reset();
    report.write.reset();
    input.read.reset();

    int message[2];
    std::size_t got = 0;
    while (got < sizeof message) {
        const ssize_t part =
            ::read(report.read.get(), reinterpret_cast<char*>(message) + got, sizeof message - got);
        if (part > 0)
            got += static_cast<std::size_t>(part);
        else if (part == 0 || errno != EINTR)
            break;
    }
    if (got == sizeof message) {
        group.reap();
        const std::string where =
            message[0] == kChangingDir
                ? " in " + request.workingDir.string()
                : std::string(message[0] == kRedirecting ? " with its streams" : "");
        throw failedToStart(where, message[1]);
    }
    report.read.reset();

    Streams running(std::move(errors.read), std::move(input.write),
                    request.input ? std::string_view(*request.input) : std::string_view());
    const auto deadline = Clock::now() + request.timeout;
    bool timedOut = false;
    while (!group.ended() && stop.received() == 0) {
        if (Clock::now() >= deadline) {
            timedOut = true;
            break;
        }
        running.pump(std::min(kTick, left(deadline)), stop.wake());
    }
    running.stopFeeding();

    if (timedOut || stop.received() != 0) {
        group.kill(SIGTERM);
        const auto graceEnd = Clock::now() + kGrace;
        while (!group.ended() && Clock::now() < graceEnd) {
            running.pump(std::min(kTick, left(graceEnd)), stop.wake());
            stop.received();
        }
    } else {
        const auto drainEnd = Clock::now() + kDrain;
        while (running.errorsOpen() && Clock::now() < drainEnd) {
            running.pump(std::min(kTick, left(drainEnd)), stop.wake());
            stop.received();
        }
    }
    // The program has ended or is past its grace; nothing it started may
    // keep running or writing after the run goes on.
    group.kill(SIGKILL);
    const int status = group.reap();
    running.copyWaitingErrors();
    // Asked to stop: the program's result no longer counts.
    if (const int signal = stop.received())
        throw Interrupted(signal);

    ChildEnd end;
    if (WIFSIGNALED(status)) {
        end.how = ChildEnd::How::Signalled;
        end.code = WTERMSIG(status);
    } else {
        end.how = ChildEnd::How::Exited;
        end.code = WIFEXITED(status) ? WEXITSTATUS(status) : status;
    }
    if (timedOut)
        end.how = ChildEnd::How::TimedOut;
    end.lastErrorLine = running.lastErrorLine();
    return end;
}

std::string describe(const ChildEnd& end, std::chrono::milliseconds timeout) {
    switch (end.how) {
        case ChildEnd::How::Exited:
            return "exited with status " + std::to_string(end.code);
        case ChildEnd::How::Signalled: {
            const char* name = ::strsignal(end.code);
            return "was killed by signal " + std::to_string(end.code) +
                   (name != nullptr ? std::string(" (") + name + ")" : std::string());
        }
        case ChildEnd::How::TimedOut:
            break;
    }
    const std::string limit = timeout.count() % 1000 == 0
                                  ? std::to_string(timeout.count() / 1000) + " s"
                                  : std::to_string(timeout.count()) + " ms";
    return "ran longer than " + limit + " and was stopped";
}

std::string lastErrorNote(const ChildEnd& end) {
    if (end.lastErrorLine.empty())
        return {};
    return "; its last error line: " + quotedText(end.lastErrorLine);
}

}  // namespace fennick
