#include "run/run_lock.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "common/failure.h"
#include "common/failure_of.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
using test::failureOf;
using test::TempDir;

TEST(RunLock, SecondLockWaitsWhileTheFirstIsHeldAndProceedsOnceReleased) {
    TempDir dir;
    auto first = std::make_unique<RunLock>(dir.path());
    std::atomic<bool> taken = false;
    std::optional<Failure> failure;
    steady_clock::time_point takenAt;
    std::thread second([&] {
        failure = failureOf([&] {
            const RunLock lock(dir.path(), 30s);
            takenAt = steady_clock::now();
            taken = true;
        });
    });
    std::this_thread::sleep_for(400ms);
    EXPECT_FALSE(taken) << "the second lock did not wait";

    const auto released = steady_clock::now();
    first.reset();
    second.join();

    ASSERT_FALSE(failure) << failure->what();
    EXPECT_TRUE(taken);
    EXPECT_LT(takenAt - released, 2s) << "the waiting run did not start soon after the release";
}

TEST(RunLock, ShortPatienceFailsBusyNamingTheFolder) {
    TempDir dir;
    const RunLock held(dir.path());
    const auto start = steady_clock::now();

    const auto failure = failureOf([&] { const RunLock second(dir.path(), 200ms); });

    const auto waited = steady_clock::now() - start;
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::Busy);
    EXPECT_EQ(failure->file(), dir.path().string());
    const std::string message = failure->what();
    EXPECT_EQ(message.rfind("AppDir busy: " + dir.path().string(), 0), 0u) << message;
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 5s);
}

TEST(RunLock, LockIsTakenAgainOnceReleasedAndAddsNoFile) {
    TempDir dir;
    dir.write("out.txt", "x");
    { const RunLock first(dir.path()); }
    {
        const RunLock again(dir.path(), 0ms);
        EXPECT_EQ(dir.names(), std::set<std::string>{"out.txt"});
    }
    EXPECT_EQ(dir.names(), std::set<std::string>{"out.txt"});
}

// The lock goes with its process: a run that is killed frees the folder.
TEST(RunLock, LockOfAKilledProcessIsReleased) {
    TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        const RunLock lock(dir.path());
        const char byte = 'x';
        if (::write(ready[1], &byte, 1) != 1)
            ::_exit(2);
        for (;;)
            ::pause();  // until killed
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the child did not take the lock";
    ::close(ready[0]);

    const auto whileHeld = failureOf([&] { const RunLock second(dir.path(), 100ms); });
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);

    ASSERT_TRUE(whileHeld);
    EXPECT_EQ(whileHeld->kind(), FailureKind::Busy);
    EXPECT_FALSE(failureOf([&] { const RunLock after(dir.path(), 2s); }));
}

TEST(RunLock, FolderThatIsNotThereIsFileNotFound) {
    TempDir dir;
    dir.write("a file", "");
    for (const char* name : {"missing", "a file"}) {
        SCOPED_TRACE(name);
        const auto folder = dir.file(name);
        const auto failure = failureOf([&] { const RunLock lock(folder, 0ms); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::FileNotFound);
        EXPECT_EQ(failure->file(), folder.string());
    }
}

}  // namespace
}  // namespace fennick
