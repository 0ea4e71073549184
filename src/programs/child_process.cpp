#include "programs/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/failure.h"
#include "programs/child_signals.h"
#include "programs/descriptor.h"
#include "programs/error_passage.h"
#include "programs/last_line.h"

namespace fennick {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Long enough for a program to tidy up after SIGTERM, short enough that a
// hung one does not hold the run long past its deadline.
constexpr milliseconds kGrace{2000};
// How long what a finished program left in the background may still write
// to the output that we pass on before the group is killed.
constexpr milliseconds kDrain{200};
// How often the loop looks whether the program has ended; its standard error
// may stay open in a background process, so its end of file cannot tell.
constexpr milliseconds kTick{20};
// The most one read or write moves through a pipe at a time: as much as a
// pipe holds by default on Linux.
constexpr std::size_t kPipeBytes = 64 * 1024;

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

// Why the program did not start: an errno and where, or nothing.
struct StartError {
    int error = 0;
    std::string where;
};

// The errno why `dir` cannot be made the working folder, or 0.
int cannotEnter(const std::filesystem::path& dir) {
    const Descriptor opened(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!opened.open())
        return errno;
    return ::faccessat(AT_FDCWD, dir.c_str(), X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

// Starts the program in a process group of its own, with `streams` as its
// standard input, output and error (-1: /dev/null). glibc reports a failed
// chdir or exec here, having reaped the child that tried.
StartError spawn(const ChildRequest& request, std::array<int, 3> streams, pid_t& pid) {
    // The copies are made in order: one numbered below 3 could be replaced
    // by an earlier copy before its own turn.
    Descriptor high[3];
    for (int i = 0; i < 3; ++i) {
        if (streams[i] >= 0 && streams[i] < 3) {
            high[i] = Descriptor(::fcntl(streams[i], F_DUPFD_CLOEXEC, 3));
            if (!high[i].open())
                return {errno, " with its streams"};
            streams[i] = high[i].get();
        }
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    int error = 0;
    const auto check = [&error](int result) {
        if (error == 0)
            error = result;
    };
    for (int i = 0; i < 3; ++i) {
        check(streams[i] < 0
                  ? posix_spawn_file_actions_addopen(&actions, i, "/dev/null", O_RDONLY, 0)
                  : posix_spawn_file_actions_adddup2(&actions, streams[i], i));
    }
    if (!request.workingDir.empty())
        check(posix_spawn_file_actions_addchdir_np(&actions, request.workingDir.c_str()));
    // The run's own signal settings are not the program's: it gets an empty
    // mask, SIGPIPE's default action even when we ignore it, and SIGCHLD's,
    // so that it can wait for its own children. A stop signal that the
    // caller ignores (nohup) stays ignored.
    sigset_t standard;
    sigemptyset(&standard);
    sigaddset(&standard, SIGPIPE);
    sigaddset(&standard, SIGCHLD);
    sigset_t none;
    sigemptyset(&none);
    check(posix_spawnattr_setsigdefault(&attributes, &standard));
    check(posix_spawnattr_setsigmask(&attributes, &none));
    check(posix_spawnattr_setpgroup(&attributes, 0));
    check(posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));
    std::vector<char*> argv;
    for (const std::string& argument : request.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (error == 0)
        error = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    // A chdir and an exec fail with the same errors; the folder is looked at
    // again to tell which of the two it was.
    if (error != 0 && !request.workingDir.empty()) {
        if (const int dirError = cannotEnter(request.workingDir))
            return {dirError, " in " + request.workingDir.string()};
    }
    return {error, ""};
}

// Our ends of the program's standard input, output and error while it runs.
class Streams {
  public:
    explicit Streams(const ChildRequest& request)
        : take_(request.takeOutput),
          toFeed_(request.input ? std::string_view(*request.input) : std::string_view()),
          name_(request.name.empty() ? quotedText(request.arguments.front()) : request.name) {
        const std::string& program = request.arguments.front();
        Pipe errors = makePipe(program);
        errors_ = std::move(errors.read);
        childErrors_ = std::move(errors.write);
        forChild_ = {-1, request.standardOutput, childErrors_.get()};
        if (take_ || request.standardOutput < 0) {
            Pipe output = makePipe(program);
            output_ = std::move(output.read);
            childOutput_ = std::move(output.write);
            forChild_[1] = childOutput_.get();
        }
        if (request.input) {
            Pipe input = makePipe(program);
            input_ = std::move(input.write);
            // Kept after the start: what the program leaves unread in its
            // pipe is counted there, and our writes never meet EPIPE.
            unread_ = std::move(input.read);
            forChild_[0] = unread_.get();
        }
        for (const Descriptor* ours : {&errors_, &output_, &input_}) {
            if (ours->open())
                setNonBlocking(ours->get());
        }
        if (toFeed_.empty())
            input_.reset();
    }
    ~Streams() { passage_.finish(name_); }
    Streams(const Streams&) = delete;
    Streams& operator=(const Streams&) = delete;

    // The program's standard input, output and error; -1: /dev/null.
    const std::array<int, 3>& forChild() const { return forChild_; }
    // Once the program has them: the pipes end when the program's side does.
    void started() {
        childErrors_.reset();
        childOutput_.reset();
    }

    // Whether its standard output is to be read to the end before it has ended.
    bool outputPending() const { return take_ && output_.open(); }
    bool open() const { return errors_.open() || output_.open(); }
    std::string lastErrorLine() const { return lastLine_.value(); }
    std::size_t inputTaken() const { return taken_; }

    // The program has ended or is being stopped: what it has not read by
    // now, it did not take.
    void stopFeeding() {
        input_.reset();
        if (!unread_.open())
            return;
        int left = 0;
        if (::ioctl(unread_.get(), FIONREAD, &left) != 0)
            left = 0;
        taken_ = fed_ - std::min(fed_, static_cast<std::size_t>(std::max(left, 0)));
        unread_.reset();
    }

    // Feeds input and copies output for at most `wait`; all in one loop, so
    // a program that writes much before it reads its input cannot block us,
    // nor we it. Returns early when `wake` (-1: none) becomes readable; the
    // caller reads it.
    void pump(milliseconds wait, int wake) {
        passage_.flush();
        pollfd watched[4];
        nfds_t count = 0;
        for (const Descriptor* from : {&errors_, &output_}) {
            if (from->open())
                watched[count++] = {from->get(), POLLIN, 0};
        }
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
                copy(errors_);
            else if (watched[i].fd == output_.get())
                copy(output_);
            else if (watched[i].fd == input_.get())
                feed();
        }
    }

    // Copies what is waiting in the pipes now; a background process of the
    // program may keep them open, so no end of file is waited for.
    void copyWaiting() {
        for (Descriptor* from : {&errors_, &output_}) {
            for (int reads = 0; reads < 16 && copy(*from); ++reads) {
            }
        }
    }

  private:
    // Whether there may be more to read at once.
    bool copy(Descriptor& from) {
        if (!from.open())
            return false;
        const ssize_t got = ::read(from.get(), buffer_.data(), buffer_.size());
        if (got <= 0) {
            if (got == 0 || (errno != EAGAIN && errno != EINTR))
                from.reset();
            return false;
        }
        const std::string_view text(buffer_.data(), static_cast<std::size_t>(got));
        if (&from == &errors_)
            lastLine_.add(text);
        if (&from == &output_ && take_)
            take_(text);
        else
            passage_.show(text);
        return true;
    }

    void feed() {
        const ssize_t written =
            ::write(input_.get(), toFeed_.data(), std::min(toFeed_.size(), kPipeBytes));
        if (written > 0) {
            fed_ += static_cast<std::size_t>(written);
            toFeed_.remove_prefix(static_cast<std::size_t>(written));
            if (toFeed_.empty())
                input_.reset();  // the program sees its end of input
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            input_.reset();
        }
    }

    const std::function<void(std::string_view)>& take_;
    std::string_view toFeed_;
    std::string name_;
    std::array<int, 3> forChild_{};
    Descriptor errors_, childErrors_, output_, childOutput_, input_, unread_;
    std::size_t fed_ = 0;
    std::size_t taken_ = 0;
    LastLine lastLine_;
    ErrorPassage passage_;
    std::vector<char> buffer_ = std::vector<char>(kPipeBytes);
};

milliseconds left(Clock::time_point until) {
    return std::max(milliseconds{0}, std::chrono::ceil<milliseconds>(until - Clock::now()));
}

}  // namespace

ChildEnd runChild(const ChildRequest& request) {
    if (request.arguments.empty())
        throw Failure(FailureKind::CommandFailed, "no program was given to start");
    const std::string& program = request.arguments.front();
    Streams streams(request);
    const ChildrenKept kept;
    // Held back before the start, so that none is lost between it and the loop.
    StopSignals stop;
    if (stop.error() != 0)
        throw startFailure(program, "", stop.error());
    pid_t pid = 0;
    if (const StartError failed = spawn(request, streams.forChild(), pid); failed.error != 0) {
        // A stop asked for while the program failed to start wins over the failure.
        if (const int signal = stop.received())
            throw Interrupted(signal);
        throw startFailure(program, failed.where, failed.error);
    }
    Group group(pid);
    streams.started();

    const auto deadline = Clock::now() + request.timeout;
    bool timedOut = false;
    bool ended = false;
    while (stop.received() == 0) {
        if (!ended && group.ended()) {
            ended = true;
            streams.stopFeeding();
        }
        if (ended && !streams.outputPending())
            break;
        if (Clock::now() >= deadline) {
            timedOut = true;
            break;
        }
        streams.pump(std::min(kTick, left(deadline)), stop.wake());
    }
    streams.stopFeeding();

    if (timedOut || stop.received() != 0) {
        group.kill(SIGTERM);
        const auto graceEnd = Clock::now() + kGrace;
        while (!group.ended() && Clock::now() < graceEnd) {
            streams.pump(std::min(kTick, left(graceEnd)), stop.wake());
            stop.received();
        }
    } else {
        const auto drainEnd = Clock::now() + kDrain;
        while (streams.open() && Clock::now() < drainEnd) {
            streams.pump(std::min(kTick, left(drainEnd)), stop.wake());
            stop.received();
        }
    }
    // The program has ended or is past its grace; nothing it started may
    // keep running or writing after the run goes on.
    group.kill(SIGKILL);
    const int status = group.reap();
    streams.copyWaiting();
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
    end.lastErrorLine = streams.lastErrorLine();
    end.inputTaken = streams.inputTaken();
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
