#include "run/dump_refresh.h"

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

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
const std::string kUnfinished = ".bpdbjobs.txt.partial";
const std::string kOldDump = "1,0,0,0,old,dump\r\n2,0,0,0,old,dump\r\n";

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
            // The same bytes under the same names: no temporary file either.
            EXPECT_EQ(dir.snapshot(), before);
            EXPECT_EQ(dir.names().count(kUnfinished), 0u);
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
        EXPECT_FALSE(dir.exists("store/" + kUnfinished));
        EXPECT_FALSE(dir.exists(kUnfinished));
    }
}

// Whoever can plant a link under the temporary name must not get the
// command's output written into the file it points to.
TEST(DumpRefresh, LinkUnderTheTemporaryNameIsNotFollowed) {
    TempDir dir;
    dir.write(kDump, kOldDump);
    dir.write("precious.txt", "not a dump\n");
    std::filesystem::create_symlink("precious.txt", dir.file(kUnfinished));

    const auto failure = failureOf([&] { refreshDump(dir.path(), {"touch ran; echo 9,1,2"}); });

    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
    EXPECT_NE(failure->detail().find(kUnfinished), std::string::npos) << failure->what();
    EXPECT_FALSE(dir.exists("ran"));
    EXPECT_EQ(dir.read("precious.txt"), "not a dump\n");
    EXPECT_EQ(dir.read(kDump), kOldDump);
    EXPECT_FALSE(std::filesystem::is_symlink(dir.file(kDump)));
}

TEST(DumpRefresh, DumpThatIsAFolderFailsBeforeTheCommandRuns) {
    TempDir dir;
    std::filesystem::create_directory(dir.file(kDump));
    const auto failure = failureOf([&] { refreshDump(dir.path(), {"touch ran; echo x"}); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
    EXPECT_FALSE(dir.exists("ran"));
    EXPECT_EQ(dir.names(), std::set<std::string>{kDump});
}

TEST(DumpRefresh, LeftoverTemporaryDumpIsRemoved) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("store"));
    std::filesystem::create_symlink("store/jobs.txt", dir.file(kDump));
    dir.write("store/jobs.txt", kOldDump);
    dir.write(kUnfinished, "1,0,half");
    dir.write("store/" + kUnfinished, "2,0,half");
    dir.write(".bpdbjobs.txt.partial.keep", "the operator's");

    removeUnfinishedDump(dir.path());

    EXPECT_FALSE(dir.exists(kUnfinished));
    EXPECT_FALSE(dir.exists("store/" + kUnfinished));
    EXPECT_EQ(dir.read("store/jobs.txt"), kOldDump);
    EXPECT_TRUE(dir.exists(".bpdbjobs.txt.partial.keep"));

    // A folder of that name is the operator's, not a leftover.
    TempDir other;
    std::filesystem::create_directory(other.file(kUnfinished));
    removeUnfinishedDump(other.path());
    EXPECT_TRUE(std::filesystem::is_directory(other.file(kUnfinished)));
}

}  // namespace
}  // namespace fennick
