#include "programs/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "common/failure.h"
#include "common/failure_of.h"
#include "support/captured.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono_literals;
using test::Captured;
using test::failureOf;
using test::TempDir;

ChildRequest program(std::vector<std::string> arguments, int output = -1,
                     std::optional<std::string> input = std::nullopt,
                     std::chrono::milliseconds timeout = 30s) {
    ChildRequest request;
    request.arguments = std::move(arguments);
    request.standardOutput = output;
    request.input = std::move(input);
    request.timeout = timeout;
    return request;
}

ChildRequest shell(const std::string& script, std::chrono::milliseconds timeout = 30s) {
    return program({"/bin/sh", "-c", script}, -1, std::nullopt, timeout);
}

class OutputFile {
  public:
    explicit OutputFile(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {}
    ~OutputFile() { ::close(fd_); }
    int get() const { return fd_; }

  private:
    int fd_;
};

// A killed process that nobody has reaped yet counts as gone.
bool running(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
           text[close + 2] != 'X';
}

bool goneSoon(pid_t pid) {
    for (int i = 0; i < 100 && running(pid); ++i)
        std::this_thread::sleep_for(20ms);
    return !running(pid);
}

pid_t pidIn(const TempDir& dir, const char* name) {
    const std::string text = dir.read(name);
    return text == "<missing>" ? -1 : static_cast<pid_t>(std::stol(text));
}

// Every byte value, in an order that a lost or repeated block would show.
std::string varied(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

TEST(ChildProcess, EndIsReportedAsTheProgramEnded) {
    struct Case {
        const char* script;
        ChildEnd::How how;
        int code;
        const char* described;  // the start of describe()'s text
    };
    const Case cases[] = {
        {"exit 0", ChildEnd::How::Exited, 0, "exited with status 0"},
        {"exit 3", ChildEnd::How::Exited, 3, "exited with status 3"},
        {"exit 127", ChildEnd::How::Exited, 127, "exited with status 127"},
        {"kill -KILL $$", ChildEnd::How::Signalled, SIGKILL, "was killed by signal 9 ("},
        {"kill -TERM $$", ChildEnd::How::Signalled, SIGTERM, "was killed by signal 15 ("},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const ChildEnd end = runChild(shell(c.script));
        EXPECT_EQ(end.how, c.how);
        EXPECT_EQ(end.code, c.code);
        EXPECT_EQ(describe(end, 30s).rfind(c.described, 0), 0u) << describe(end, 30s);
        // Reaped: no child of ours is left, not even a zombie.
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
}

TEST(ChildProcess, TimeoutStopsTheProgramAndWhatItStarted) {
    TempDir dir;
    auto request = shell(
        "echo $$ > sh.pid; sleep 100 & echo $! > first.pid; sleep 100 & echo $! > second.pid; "
        "wait",
        500ms);
    request.workingDir = dir.path();
    const auto start = std::chrono::steady_clock::now();
    const ChildEnd end = runChild(request);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(end.how, ChildEnd::How::TimedOut);
    EXPECT_EQ(describe(end, 500ms), "ran longer than 500 ms and was stopped");
    EXPECT_LT(took, 5s);  // SIGTERM ends sleep at once; the grace is not waited out
    for (const char* name : {"sh.pid", "first.pid", "second.pid"}) {
        SCOPED_TRACE(name);
        const pid_t pid = pidIn(dir, name);
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(goneSoon(pid));
    }
}

TEST(ChildProcess, ProgramIgnoringTermIsKilledAfterTheGrace) {
    TempDir dir;
    auto request = shell("trap '' TERM; sleep 100 & echo $! > bg.pid; wait", 200ms);
    request.workingDir = dir.path();
    const auto start = std::chrono::steady_clock::now();
    const ChildEnd end = runChild(request);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(end.how, ChildEnd::How::TimedOut);
    EXPECT_EQ(end.code, SIGKILL);
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 10s);
    ASSERT_GT(pidIn(dir, "bg.pid"), 0);
    EXPECT_TRUE(goneSoon(pidIn(dir, "bg.pid")));
}

TEST(ChildProcess, BackgroundProcessKeepingStandardErrorOpenDoesNotHoldTheRun) {
    TempDir dir;
    auto request = shell("sleep 100 & echo $! > bg.pid; echo done >&2; exit 4");
    request.workingDir = dir.path();
    Captured errors(STDERR_FILENO, dir.file("errors"));
    const auto start = std::chrono::steady_clock::now();
    const ChildEnd end = runChild(request);
    const auto took = std::chrono::steady_clock::now() - start;
    errors.text();

    EXPECT_EQ(end.how, ChildEnd::How::Exited);
    EXPECT_EQ(end.code, 4);
    EXPECT_EQ(end.lastErrorLine, "done");
    EXPECT_LT(took, 3s);
    ASSERT_GT(pidIn(dir, "bg.pid"), 0);
    EXPECT_TRUE(goneSoon(pidIn(dir, "bg.pid")));
}

TEST(ChildProcess, InputArrivesIntact) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{1} << 20}) {
        SCOPED_TRACE(size);
        TempDir dir;
        const std::string input = varied(size);
        OutputFile out(dir.file("out"));
        const ChildEnd end = runChild(program({"cat"}, out.get(), input));
        EXPECT_EQ(end.how, ChildEnd::How::Exited);
        EXPECT_EQ(end.code, 0);
        EXPECT_TRUE(dir.read("out") == input);  // no 1 MB diff in the log
    }
}

// The program fills its standard error pipe before it reads a byte: the
// parent has to read while it still has input to write.
TEST(ChildProcess, MuchOnStandardErrorBeforeReadingInputDoesNotDeadlock) {
    TempDir dir;
    const std::string input = varied(1 << 20);
    OutputFile out(dir.file("out"));
    Captured errors(STDERR_FILENO, dir.file("errors"));
    const ChildEnd end =
        runChild(program({"/bin/sh", "-c",
                          "i=0; while [ $i -lt 4000 ]; do echo \"line $i of the noise\" >&2; "
                          "i=$((i+1)); done; cat"},
                         out.get(), input, 60s));
    const std::string shown = errors.text();

    EXPECT_EQ(end.how, ChildEnd::How::Exited);
    EXPECT_EQ(end.code, 0);
    EXPECT_TRUE(dir.read("out") == input);
    EXPECT_EQ(end.lastErrorLine, "line 3999 of the noise");
    // Every byte reached our standard error, in order.
    std::string expected;
    for (int i = 0; i < 4000; ++i)
        expected += "line " + std::to_string(i) + " of the noise\n";
    EXPECT_TRUE(shown == expected) << shown.size() << " bytes shown, " << expected.size();
}

TEST(ChildProcess, ProgramThatStopsReadingIsJudgedByItsStatus) {
    struct Case {
        const char* script;
        int code;
        const char* output;
    };
    const Case cases[] = {
        {"head -c 10", 0, nullptr},  // the first ten bytes of the input
        {"exec 0<&-; sleep 0.2; exit 5", 5, ""},
        {"exit 0", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        TempDir dir;
        const std::string input = varied(1 << 20);
        OutputFile out(dir.file("out"));
        const ChildEnd end = runChild(program({"/bin/sh", "-c", c.script}, out.get(), input));
        EXPECT_EQ(end.how, ChildEnd::How::Exited);
        EXPECT_EQ(end.code, c.code);
        EXPECT_EQ(dir.read("out"), c.output ? std::string(c.output) : input.substr(0, 10));
    }
    // Still here: the write into the closed pipe did not end the test run.
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(ChildProcess, LastErrorLineIsTheLastNonEmptyOne) {
    struct Case {
        std::string written;
        std::string last;
    };
    const std::string longLine = std::string(1000, 'x') + " END";
    const Case cases[] = {
        {"", ""},
        {"\n \n\t\n", ""},
        {"first\nsecond\n", "second"},
        {"first\nsecond\n\n   \n", "second"},
        {"first\nno newline at the end", "no newline at the end"},
        {"cannot connect\r\n", "cannot connect"},
        {"  padded  \n", "padded"},
        {longLine + "\n", longLine.substr(longLine.size() - kLastLineBytes)},
        {"short\n" + std::string(100000, 'y') + "\n\n", std::string(kLastLineBytes, 'y')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written.substr(0, 40));
        TempDir dir;
        dir.write("text", c.written);
        auto request = shell("cat text >&2");
        request.workingDir = dir.path();
        Captured errors(STDERR_FILENO, dir.file("errors"));
        const ChildEnd end = runChild(request);
        EXPECT_EQ(errors.text(), c.written);
        EXPECT_EQ(end.lastErrorLine, c.last);
    }
}

TEST(ChildProcess, StandardOutputDefaultsToOurStandardErrorAndRunsInTheGivenFolder) {
    TempDir dir;
    auto request = shell("pwd; echo oops >&2");
    request.workingDir = dir.path();
    Captured errors(STDERR_FILENO, dir.file("errors"));
    const ChildEnd end = runChild(request);
    const std::string shown = errors.text();

    EXPECT_EQ(end.code, 0);
    EXPECT_NE(shown.find(std::filesystem::canonical(dir.path()).string() + "\n"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("oops\n"), std::string::npos) << shown;
    // Standard output does not pass through the error pipe.
    EXPECT_EQ(end.lastErrorLine, "oops");
}

TEST(ChildProcess, ProgramThatCannotStartIsToldFromOneThatFails) {
    TempDir dir;
    dir.write("not-executable", "#!/bin/sh\nexit 0\n");
    struct Case {
        std::vector<std::string> arguments;
        std::filesystem::path workingDir;
        std::string message;
    };
    const Case cases[] = {
        {{"/nonexistent/program", "-x"},
         {},
         "Command failed: \"/nonexistent/program\" cannot be started (No such file or directory)"},
        {{"fennick-no-such-program"},
         {},
         "Command failed: \"fennick-no-such-program\" cannot be started (No such file or "
         "directory)"},
        {{dir.file("not-executable").string()},
         {},
         "Command failed: \"" + dir.file("not-executable").string() +
             "\" cannot be started (Permission denied)"},
        {{"/bin/sh", "-c", "exit 0"},
         dir.file("missing"),
         "Command failed: \"/bin/sh\" cannot be started in " + dir.file("missing").string() +
             " (No such file or directory)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const auto failure = failureOf([&] {
            auto request = program(c.arguments);
            request.workingDir = c.workingDir;
            runChild(request);
        });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::CommandFailed);
        EXPECT_EQ(failure->what(), c.message);
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // the failed child was reaped
    }
}

// Which of the three stop signals are blocked or waiting for us, as bits.
int heldStopSignals() {
    sigset_t mask, pending;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    sigpending(&pending);
    int held = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigismember(&mask, signal) == 1 || sigismember(&pending, signal) == 1)
            held |= 1 << signal;
    }
    return held;
}

// The program itself sends the signal to us (its parent), as Ctrl-C, a
// service stop or a closed terminal would, while it and a background
// process of its group run on.
TEST(ChildProcess, StopSignalStopsTheWholeGroupAndIsHandedBack) {
    struct Case {
        int signal;
        const char* prelude;  // shell words before the program starts its background process
        std::chrono::milliseconds atLeast;
    };
    const Case cases[] = {
        {SIGINT, "", 0ms},
        {SIGTERM, "", 0ms},
        {SIGHUP, "", 0ms},
        // Stopped as at a timeout: SIGKILL once the grace is over.
        {SIGTERM, "trap '' TERM; ", 2s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(::strsignal(c.signal)) + " " + c.prelude);
        TempDir dir;
        auto request = shell(std::string(c.prelude) +
                             "echo $$ > sh.pid; sleep 100 & echo $! > bg.pid; kill -" +
                             std::to_string(c.signal) + " $PPID; wait");
        request.workingDir = dir.path();
        const int before = heldStopSignals();
        const auto start = std::chrono::steady_clock::now();
        int handedBack = 0;
        try {
            runChild(request);
        } catch (const Interrupted& stop) {
            handedBack = stop.signal();
        }
        const auto took = std::chrono::steady_clock::now() - start;

        EXPECT_EQ(handedBack, c.signal);
        EXPECT_GE(took, c.atLeast);
        EXPECT_LT(took, c.atLeast + 5s);
        // Neither held back nor waiting any more: the next one acts at once.
        EXPECT_EQ(heldStopSignals(), before);
        for (const char* name : {"sh.pid", "bg.pid"}) {
            SCOPED_TRACE(name);
            const pid_t pid = pidIn(dir, name);
            ASSERT_GT(pid, 0);
            EXPECT_TRUE(goneSoon(pid));
        }
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
}

// What the caller set up for a signal stays its own: ignored stays ignored
// (nohup), blocked stays waiting for the caller to take.
TEST(ChildProcess, StopSignalThatTheCallerIgnoresOrBlocksIsLeftToIt) {
    struct Case {
        const char* name;
        int signal;
        bool block;  // else ignore
    };
    const Case cases[] = {
        {"ignored hangup", SIGHUP, false},
        {"ignored interrupt", SIGINT, false},
        {"blocked terminate", SIGTERM, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, c.signal);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        struct sigaction previous {};
        if (c.block)
            pthread_sigmask(SIG_BLOCK, &only, nullptr);
        else
            ::sigaction(c.signal, &ignore, &previous);

        const ChildEnd end =
            runChild(shell("kill -" + std::to_string(c.signal) + " $PPID; exit 6"));

        sigset_t pending;
        sigpending(&pending);
        const bool waiting = sigismember(&pending, c.signal) == 1;
        if (c.block) {
            const timespec now{};
            sigtimedwait(&only, nullptr, &now);
            pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        } else {
            ::sigaction(c.signal, &previous, nullptr);
        }
        EXPECT_EQ(end.how, ChildEnd::How::Exited);
        EXPECT_EQ(end.code, 6);
        EXPECT_EQ(waiting, c.block);
    }
}

// A parent may hand us SIGCHLD ignored (exec keeps that), which would let
// the kernel reap the program before its status is read.
TEST(ChildProcess, EndIsReportedEvenWhenWeInheritedChildSignalsIgnored) {
    struct Setting {
        const char* name;
        void (*handler)(int);
        int flags;
    };
    const Setting settings[] = {{"SIG_IGN", SIG_IGN, 0}, {"SA_NOCLDWAIT", SIG_DFL, SA_NOCLDWAIT}};
    struct Case {
        const char* script;
        ChildEnd::How how;
        int code;
    };
    const Case cases[] = {
        {"exit 3", ChildEnd::How::Exited, 3},
        {"kill -KILL $$", ChildEnd::How::Signalled, SIGKILL},
        {"exit 0", ChildEnd::How::Exited, 0},
    };
    for (const Setting& setting : settings) {
        struct sigaction given {};
        given.sa_handler = setting.handler;
        given.sa_flags = setting.flags;
        sigemptyset(&given.sa_mask);
        struct sigaction previous {};
        ::sigaction(SIGCHLD, &given, &previous);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(setting.name) + ": " + c.script);
            const ChildEnd end = runChild(shell(c.script));
            EXPECT_EQ(end.how, c.how);
            EXPECT_EQ(end.code, c.code);
        }
        struct sigaction after {};
        ::sigaction(SIGCHLD, &previous, &after);
        // Given back as it was.
        EXPECT_EQ(after.sa_handler, setting.handler);
        EXPECT_EQ(after.sa_flags & SA_NOCLDWAIT, setting.flags);
    }
}

// Our standard error swapped for one end of a pipe or socket pair while the
// object lives; the other end is the test's to read, or to leave unread.
class StandardErrorSwap {
  public:
    explicit StandardErrorSwap(bool socket) {
        int ends[2];
        const int made = socket ? ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends)
                                : ::pipe2(ends, O_CLOEXEC);
        EXPECT_EQ(made, 0);
        reader_ = ends[0];
        std::fflush(nullptr);
        saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        ::dup2(ends[1], STDERR_FILENO);
        ::close(ends[1]);
    }
    ~StandardErrorSwap() {
        restore();
        closeReader();
    }
    // Our standard error is ours again; the reader then meets its end.
    void restore() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(std::exchange(saved_, -1));
        }
    }
    int reader() const { return reader_; }
    void closeReader() {
        if (reader_ >= 0)
            ::close(std::exchange(reader_, -1));
    }

  private:
    int reader_ = -1;
    int saved_ = -1;
};

std::string readToEnd(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

// A journal that does not keep up, or a pipe that nobody reads: the timeout
// holds all the same.
TEST(ChildProcess, StandardErrorThatNobodyReadsDoesNotHoldTheTimeout) {
    for (const bool socket : {false, true}) {
        SCOPED_TRACE(socket ? "socket" : "pipe");
        StandardErrorSwap swap(socket);
        auto running = std::async(std::launch::async, [] {
            return runChild(
                // Ten times what our standard error may hold back, and time
                // enough to write it in a slow (sanitized) build.
                shell("yes 'noise noise noise' | head -n 50000 >&2; "
                      "echo 'last words' >&2; sleep 100",
                      2s));
        });
        const bool returned = running.wait_for(10s) == std::future_status::ready;
        if (!returned)
            swap.closeReader();  // a write that waits on it meets EPIPE
        const ChildEnd end = running.get();
        EXPECT_TRUE(returned);
        EXPECT_EQ(end.how, ChildEnd::How::TimedOut);
        // Kept from what was dropped.
        EXPECT_EQ(end.lastErrorLine, "last words");
    }
}

TEST(ChildProcess, OutputThatOurStandardErrorCannotTakeIsDroppedAndCounted) {
    constexpr std::size_t kLines = 500000;
    const std::size_t written = kLines * std::string("noise noise noise\n").size();
    for (const bool socket : {false, true}) {
        SCOPED_TRACE(socket ? "socket" : "pipe");
        StandardErrorSwap swap(socket);
        // Nothing is read until the program has written all its noise.
        std::string shown;
        std::thread reader([&] {
            std::this_thread::sleep_for(700ms);
            shown = readToEnd(swap.reader());
        });
        const ChildEnd end =
            runChild(shell("yes 'noise noise noise' | head -n " + std::to_string(kLines) +
                           " >&2; sleep 1.5; echo 'last words' >&2"));
        swap.restore();
        reader.join();

        EXPECT_EQ(end.how, ChildEnd::How::Exited);
        EXPECT_EQ(end.lastErrorLine, "last words");
        const std::string start = std::string(program_invocation_short_name) + ": ";
        const std::string tail =
            " bytes of what \"/bin/sh\" wrote were dropped: our standard error did not take "
            "them in time\n";
        const auto note = shown.rfind(start);
        ASSERT_NE(note, std::string::npos) << shown.size() << " bytes shown";
        ASSERT_TRUE(shown.ends_with(tail)) << shown.substr(note);
        const std::size_t dropped = std::stoul(shown.substr(note + start.size()));
        EXPECT_GT(dropped, 0u);
        // All that was not dropped arrived, in order, ending with the last line.
        EXPECT_EQ(note + dropped, written + std::string("last words\n").size());
        EXPECT_TRUE(shown.substr(0, note).ends_with("noise\nlast words\n"));
        // Lines are dropped whole: none is cut short or run into another.
        std::istringstream lines(shown.substr(0, note - std::string("last words\n").size()));
        std::size_t torn = 0;
        for (std::string line; std::getline(lines, line);)
            torn += line != "noise noise noise";
        EXPECT_EQ(torn, 0u);
    }
}

// We may ignore SIGPIPE so that a closed standard output cannot end a run;
// the program must not inherit that, and whatever SIGPIPE's setting, a
// standard error that nobody reads any more must not end us.
TEST(ChildProcess, PipeSignalKeepsItsDefaultForTheProgramAndSparesUs) {
    for (const auto setting : {SIG_IGN, SIG_DFL}) {
        SCOPED_TRACE(setting == SIG_IGN ? "ignored" : "default");
        const auto previous = ::signal(SIGPIPE, setting);
        const ChildEnd killed = runChild(shell("kill -PIPE $$; exit 0"));
        StandardErrorSwap swap(false);
        swap.closeReader();
        const ChildEnd shown = runChild(shell("echo oops >&2; exit 0"));
        swap.restore();
        sigset_t pending;
        sigpending(&pending);
        ::signal(SIGPIPE, previous);

        EXPECT_EQ(killed.how, ChildEnd::How::Signalled);
        EXPECT_EQ(killed.code, SIGPIPE);
        EXPECT_EQ(shown.how, ChildEnd::How::Exited);
        EXPECT_EQ(shown.lastErrorLine, "oops");
        EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    }
}

TEST(ChildProcess, TimeoutIsShownInSecondsWhenWhole) {
    const ChildEnd stopped{ChildEnd::How::TimedOut, SIGTERM, {}, 0};
    EXPECT_EQ(describe(stopped, 1800s), "ran longer than 1800 s and was stopped");
    EXPECT_EQ(describe(stopped, 1500ms), "ran longer than 1500 ms and was stopped");
    EXPECT_EQ(lastErrorNote({ChildEnd::How::Exited, 2, "cannot \"connect\"\tnow", 0}),
              "; its last error line: \"cannot \"connect\"\\tnow\"");
    EXPECT_EQ(lastErrorNote({ChildEnd::How::Exited, 2, "", 0}), "");
}

}  // namespace
}  // namespace fennick
