#include "run/dump_refresh.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/file_names.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono_literals;
using test::failureOf;
using test::TempDir;

const std::string kDump(kDumpFile);
const std::string kUnfinishedPrefix = ".bpdbjobs.txt.partial";
const std::string kOldDump = "1,0,0,0,old,dump\r\n2,0,0,0,old,dump\r\n";

// The names of temporary dumps in `dir`, the old fixed name included.
std::vector<std::string> unfinishedIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kUnfinishedPrefix, 0) == 0)
            names.push_back(name);
    }
    return names;
}

// Waits up to five seconds for a file that a command makes.
bool appears(const TempDir& dir, const std::string& name) {
    for (int i = 0; i < 250 && !dir.exists(name); ++i)
        std::this_thread::sleep_for(20ms);
    return dir.exists(name);
}

std::string notRefreshed(const std::string& command, const std::string& ending) {
    return "Command failed: bpdbjobs.txt not refreshed: dump command " + quotedText(command) + " " +
           ending;
}

TEST(DumpRefresh, OutputOfTheCommandReplacesTheDump) {
    TempDir dir;
    dir.write(kDump, kOldDump);
    const mode_t previous = ::umask(022);
    refreshDump(dir.path(), {"printf '9,1,2\\r\\n'; printf 'in progress\\n' >&2"});
    ::umask(previous);

    EXPECT_EQ(dir.read(kDump), "9,1,2\r\n");
    EXPECT_EQ(dir.names(), std::set<std::string>{kDump});
    // Made as any file of the run is: readable by the people who read the page.
    EXPECT_EQ(std::filesystem::status(dir.file(kDump)).permissions(), std::filesystem::perms(0644));
}

TEST(DumpRefresh, CommandRunsInTheFolderOfTheRun) {
    TempDir dir;
    dir.write(std::string(kPolicyFile), "Policy_A\r\nPolicy_B\r\n");
    refreshDump(dir.path(), {"cat policy_list.txt"});
    EXPECT_EQ(dir.read(kDump), "Policy_A\r\nPolicy_B\r\n");
}

TEST(DumpRefresh, FailedCommandLeavesTheDumpAsItWas) {
    struct Case {
        const char* name;
        std::string command;
        std::chrono::milliseconds timeout;
        std::string ending;
    };
    const Case cases[] = {
        {"fails after part of its output",
         "printf '3,0,0,half a'; echo 'cannot connect to master' >&2; exit 2", 30s,
         "exited with status 2; its last error line: \"cannot connect to master\""},
        {"killed by a signal", "printf '3,0,0,half a'; kill -KILL $$", 30s,
         std::string("was killed by signal 9 (") + ::strsignal(SIGKILL) + ")"},
        {"hangs with a background process",
         "printf '3,0,0,half a'; sleep 100 & echo still waiting >&2; sleep 100", 300ms,
         "ran longer than 300 ms and was stopped; its last error line: \"still waiting\""},
        {"exits 0 having written nothing", "true", 30s, "exited with status 0 but wrote nothing"},
        {"writes only errors", "echo 'no jobs: server busy' >&2", 30s,
         "exited with status 0 but wrote nothing; its last error line: \"no jobs: server "
         "busy\""},
        {"writes only empty lines", "printf '\\r\\n\\n'", 30s,
         "exited with status 0 but wrote only empty lines"},
        // Complete only once every process holding its output has closed it.
        {"leaves a writer behind in a session of its own",
         "echo 1,0,0; setsid sh -c 'sleep 0.6; (echo 2,0,0); touch late' &", 300ms,
         "ran longer than 300 ms and was stopped"},
    };
    for (const Case& c : cases) {
        for (const bool earlier : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (earlier ? ", earlier dump" : ", no dump"));
            TempDir dir;
            if (earlier)
                dir.write(kDump, kOldDump);
            const auto before = dir.snapshot();

            const auto failure = failureOf([&] {
                refreshDump(dir.path(), {c.command, c.timeout});
            });

            ASSERT_TRUE(failure);
            EXPECT_EQ(failure->kind(), FailureKind::CommandFailed);
            EXPECT_EQ(failure->file(), kDump);
            EXPECT_EQ(failure->what(), notRefreshed(c.command, c.ending));
            // The same bytes under the same names: no temporary file either,
            // even once whatever the command left running has ended.
            auto after = dir.snapshot();
            if (c.command.find("touch late") != std::string::npos) {
                EXPECT_TRUE(appears(dir, "late"));
                after = dir.snapshot();
                after.erase("late");
            }
            EXPECT_EQ(after, before);
            EXPECT_EQ(unfinishedIn(dir.path()), std::vector<std::string>{});
        }
    }
}

TEST(DumpRefresh, DumpThatIsALinkHasItsTargetReplaced) {
    struct Case {
        const char* name;
        bool targetExists;
        std::string command;
        bool succeeds;
    };
    const Case cases[] = {
        {"existing target", true, "printf 'fresh\\r\\n'", true},
        {"target not made yet", false, "printf 'fresh\\r\\n'", true},
        {"failed command", true, "printf partial; exit 1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::filesystem::create_directory(dir.file("store"));
        if (c.targetExists)
            dir.write("store/jobs.txt", kOldDump);
        std::filesystem::create_symlink("store/jobs.txt", dir.file(kDump));

        const auto failure = failureOf([&] { refreshDump(dir.path(), {c.command}); });

        EXPECT_EQ(static_cast<bool>(failure), !c.succeeds);
        EXPECT_TRUE(std::filesystem::is_symlink(dir.file(kDump)));
        EXPECT_EQ(std::filesystem::read_symlink(dir.file(kDump)), "store/jobs.txt");
        EXPECT_EQ(dir.read("store/jobs.txt"), c.succeeds ? "fresh\r\n" : kOldDump);
        EXPECT_EQ(unfinishedIn(dir.file("store")), std::vector<std::string>{});
        EXPECT_EQ(unfinishedIn(dir.path()), std::vector<std::string>{});
    }
}

// Renaming onto a FIFO or a device would break whatever else uses it.
TEST(DumpRefresh, DumpThatIsNotARegularFileFailsBeforeTheCommandRuns) {
    for (const bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "folder" : "link to a FIFO");
        TempDir dir;
        if (folder) {
            std::filesystem::create_directory(dir.file(kDump));
        } else {
            ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
            std::filesystem::create_symlink("pipe", dir.file(kDump));
        }
        const auto names = dir.names();

        const auto failure = failureOf([&] { refreshDump(dir.path(), {"touch ran; echo x"}); });

        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
        EXPECT_EQ(failure->detail(),
                  dir.file(kDump).string() + (folder ? " (Is a directory)"
                                                     : " (links to " + dir.file("pipe").string() +
                                                           ": a FIFO, not a regular file)"));
        EXPECT_FALSE(dir.exists("ran"));
        EXPECT_EQ(dir.names(), names);
    }
}

TEST(DumpRefresh, OutputIsWholeWhenItEnds) {
    struct Case {
        const char* name;
        std::string command;
        std::string dump;
    };
    std::string large;
    while (large.size() < (16u << 20))
        large += "1,2,3,4,5,6,7,8,9,10\n";
    const Case cases[] = {
        // Far more than a pipe holds: read while the command runs.
        {"large", "yes 1,2,3,4,5,6,7,8,9,10 | head -n " + std::to_string(large.size() / 21), large},
        {"empty lines around a job", "printf '\\r\\n1,0,0\\r\\n\\n'", "\r\n1,0,0\r\n\n"},
        // A process that the command leaves running writes its part first.
        {"writer left in a session of its own",
         "echo 1,0,0; setsid sh -c 'sleep 0.3; echo 2,0,0' &", "1,0,0\n2,0,0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write(kDump, kOldDump);
        refreshDump(dir.path(), {c.command});
        EXPECT_TRUE(dir.read(kDump) == c.dump) << dir.read(kDump).size() << " bytes";
    }
}

// The run was killed while its command slept; the command, left running,
// must not write into the dump that the next run installed.
TEST(DumpRefresh, CommandOfAKilledRunCannotReachTheNextDump) {
    TempDir dir;
    dir.write(kDump, kOldDump);
    std::fflush(nullptr);
    const pid_t run = ::fork();
    ASSERT_GE(run, 0);
    if (run == 0) {
        try {
            refreshDump(dir.path(), {"touch started; sleep 1; (echo 1,written,by,the,orphan); "
                                     "touch finished"});
        } catch (...) {
        }
        ::_exit(0);
    }
    const bool started = appears(dir, "started");
    ::kill(run, SIGKILL);
    ::waitpid(run, nullptr, 0);
    ASSERT_TRUE(started);

    EXPECT_EQ(unfinishedIn(dir.path()).size(), 1u) << "the killed run's temporary dump";
    refreshDump(dir.path(), {"echo 1,fresh"});
    // It went with the next refresh of the dump, before its command ran.
    EXPECT_EQ(unfinishedIn(dir.path()), std::vector<std::string>{});
    ASSERT_TRUE(appears(dir, "finished"));
    EXPECT_EQ(dir.read(kDump), "1,fresh\n");
    EXPECT_EQ(unfinishedIn(dir.path()), std::vector<std::string>{});
}

// Two folders whose dumps are links into one store refresh at the same
// time; each cleans up leftovers meanwhile.
TEST(DumpRefresh, RunsWhoseDumpsShareAFolderKeepTheirOwnOutput) {
    TempDir store, first, second;
    std::filesystem::create_symlink(store.file("first.txt"), first.file(kDump));
    std::filesystem::create_symlink(store.file("second.txt"), second.file(kDump));

    std::optional<Failure> slowFailure;
    std::thread slow([&] {
        slowFailure = failureOf(
            [&] { refreshDump(first.path(), {"touch started; sleep 0.5; echo 1,first"}); });
    });
    const bool started = appears(first, "started");
    const auto quickFailure = failureOf([&] {
        refreshDump(second.path(), {"echo 1,second"});
        removeUnfinishedDump(second.path());
    });
    slow.join();

    ASSERT_TRUE(started);
    EXPECT_FALSE(slowFailure) << slowFailure->what();
    EXPECT_FALSE(quickFailure) << quickFailure->what();
    EXPECT_EQ(store.read("first.txt"), "1,first\n");
    EXPECT_EQ(store.read("second.txt"), "1,second\n");
    EXPECT_EQ(unfinishedIn(store.path()), std::vector<std::string>{});
}

TEST(DumpRefresh, TemporaryDumpThatCannotBeWrittenStopsTheCommand) {
    TempDir dir;
    dir.write(kDump, kOldDump);
    // A full disk, as far as this process is concerned.
    rlimit previousLimit{};
    ::getrlimit(RLIMIT_FSIZE, &previousLimit);
    const rlimit small{64 * 1024, previousLimit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto previousSignal = ::signal(SIGXFSZ, SIG_IGN);
    const auto start = std::chrono::steady_clock::now();
    const auto failure =
        failureOf([&] { refreshDump(dir.path(), {"echo $$ > sh.pid; yes 1,2,3"}); });
    const auto took = std::chrono::steady_clock::now() - start;
    ::signal(SIGXFSZ, previousSignal);
    ::setrlimit(RLIMIT_FSIZE, &previousLimit);

    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::IoError);
    EXPECT_EQ(failure->file(), kDump);
    EXPECT_NE(failure->detail().find(dir.file(kUnfinishedPrefix + "-").string()), std::string::npos)
        << failure->what();
    EXPECT_NE(failure->detail().find(std::strerror(EFBIG)), std::string::npos) << failure->what();
    EXPECT_LT(took, 5s);
    EXPECT_EQ(dir.read(kDump), kOldDump);
    EXPECT_EQ(unfinishedIn(dir.path()), std::vector<std::string>{});
    const pid_t shell = static_cast<pid_t>(std::stol(dir.read("sh.pid")));
    EXPECT_NE(::kill(shell, 0), 0);  // stopped and reaped
}

TEST(DumpRefresh, OnlyAbandonedTemporaryDumpsAreRemoved) {
    enum class Kind { File, LockedFile, Link, Folder, Fifo };
    struct Case {
        const char* name;
        Kind kind;
        bool removed;
    };
    const Case cases[] = {
        {".bpdbjobs.txt.partial-Ab3xY9", Kind::File, true},
        {"store/.bpdbjobs.txt.partial-000000", Kind::File, true},
        // A live run holds its own locked.
        {".bpdbjobs.txt.partial-LIVE00", Kind::LockedFile, false},
        {"store/.bpdbjobs.txt.partial-LIVE01", Kind::LockedFile, false},
        // Left by earlier versions, which used one name for every run.
        {".bpdbjobs.txt.partial", Kind::File, true},
        // Names of the operator's.
        {".bpdbjobs.txt.partial-keep", Kind::File, false},
        {".bpdbjobs.txt.partial-Ab3xY", Kind::File, false},
        {".bpdbjobs.txt.partial-Ab3xY9.keep", Kind::File, false},
        {".bpdbjobs.txt.partial-ab.cd!", Kind::File, false},
        {"store/.bpdbjobs.txt.partial-LINK00", Kind::Link, false},
        {".bpdbjobs.txt.partial-DIR000", Kind::Folder, false},
        {".bpdbjobs.txt.partial-FIFO00", Kind::Fifo, false},
    };
    TempDir dir;
    std::filesystem::create_directory(dir.file("store"));
    std::filesystem::create_symlink("store/jobs.txt", dir.file(kDump));
    dir.write("store/jobs.txt", kOldDump);
    std::vector<int> locks;
    for (const Case& c : cases) {
        switch (c.kind) {
            case Kind::File:
                dir.write(c.name, "1,0,half");
                break;
            case Kind::LockedFile:
                dir.write(c.name, "1,0,half");
                locks.push_back(::open(dir.file(c.name).c_str(), O_RDONLY | O_CLOEXEC));
                ASSERT_EQ(::flock(locks.back(), LOCK_EX), 0);
                break;
            case Kind::Link:
                std::filesystem::create_symlink("jobs.txt", dir.file(c.name));
                break;
            case Kind::Folder:
                std::filesystem::create_directory(dir.file(c.name));
                break;
            case Kind::Fifo:
                ASSERT_EQ(::mkfifo(dir.file(c.name).c_str(), 0600), 0);
                break;
        }
    }

    removeUnfinishedDump(dir.path());
    for (const int lock : locks)
        ::close(lock);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ignored;
        EXPECT_EQ(
            std::filesystem::exists(std::filesystem::symlink_status(dir.file(c.name), ignored)),
            !c.removed);
    }
    EXPECT_EQ(dir.read("store/jobs.txt"), kOldDump);
}

}  // namespace
}  // namespace fennick
