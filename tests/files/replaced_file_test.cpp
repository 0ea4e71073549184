#include "files/replaced_file.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"
#include "files/line_writer.h"
#include "support/special_files.h"
#include "support/temp_dir.h"

namespace {

// Every inode this program fsynced: whether bytes were sent to the disk
// cannot be seen from the file system afterwards.
std::mutex syncedLock;
std::set<std::pair<dev_t, ino_t>> synced;

}  // namespace

// Takes the C library's place for this program only, and passes every call on.
extern "C" int fsync(int descriptor) {
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    struct stat status {};
    if (::fstat(descriptor, &status) == 0) {
        const std::lock_guard<std::mutex> hold(syncedLock);
        synced.emplace(status.st_dev, status.st_ino);
    }
    return real(descriptor);
}

namespace fennick {
namespace {

using test::TempDir;

const std::string kOld = "old text, whole\n";
const std::string kNew = "new line\r\nand another\r\n";

bool wasSynced(const std::filesystem::path& path) {
    struct stat status {};
    const std::lock_guard<std::mutex> hold(syncedLock);
    return ::stat(path.c_str(), &status) == 0 && synced.count({status.st_dev, status.st_ino});
}

// Everything under `root`, links not followed: a file's bytes, or its kind.
std::map<std::string, std::string> treeOf(const TempDir& dir) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        const std::string name = entry.path().lexically_relative(dir.path()).string();
        const bool plain = !entry.is_symlink() && entry.is_regular_file();
        tree[name] = plain ? dir.read(name)
                           : std::to_string(static_cast<int>(entry.symlink_status().type()));
    }
    return tree;
}

// The three ways a run fills the temporary: text, the page's line writer
// over its descriptor, and another process (as the dump's copy is made).
void fill(ReplacedFile& part, int way) {
    if (way == 0) {
        part.write(kNew);
    } else if (way == 1) {
        LineWriter writer(part.descriptor(), "file");
        writer.writeLine("new line");
        writer.writeLine("and another");
        writer.close();
    } else if (const pid_t child = ::fork(); child == 0) {
        ::_exit(::write(part.descriptor(), kNew.data(), kNew.size()) == ssize_t(kNew.size()) ? 0
                                                                                             : 1);
    } else {
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(status, 0);
    }
}

TEST(ReplacedFile, FileAtTheEndOfItsLinksIsReplacedWholeAndWhatIsNotARegularFileIsRefused) {
    using Make = std::function<bool(const TempDir&)>;
    const auto link = [](const TempDir& dir, const char* to, const char* at) {
        std::filesystem::create_symlink(to, dir.file(at));
        return true;
    };
    struct Case {
        const char* name;
        Make make;
        const char* replaced;  // the file that gets the new text; nullptr: refused
        std::string refusal;   // in the refusal's detail
    };
    const Case cases[] = {
        {"no file yet", [](const TempDir&) { return true; }, "file", ""},
        {"regular file",
         [](const TempDir& dir) {
             dir.write("file", kOld);
             return true;
         },
         "file", ""},
        {"link into another folder",
         [&](const TempDir& dir) {
             std::filesystem::create_directory(dir.file("store"));
             dir.write("store/real", kOld);
             return link(dir, "store/real", "file");
         },
         "store/real", ""},
        {"links to a file not made yet",
         [&](const TempDir& dir) {
             std::filesystem::create_directory(dir.file("store"));
             return link(dir, dir.file("store/middle").c_str(), "file") &&
                    link(dir, "new", "store/middle");
         },
         "store/new", ""},
        {"FIFO", [](const TempDir& dir) { return test::makeFifo(dir.file("file")); }, nullptr,
         "(a FIFO, not a regular file)"},
        {"link to a FIFO",
         [&](const TempDir& dir) {
             return test::makeFifo(dir.file("pipe")) && link(dir, "pipe", "file");
         },
         nullptr, "/pipe: a FIFO, not a regular file)"},
        {"device", [](const TempDir& dir) { return test::makeCharacterDevice(dir.file("file")); },
         nullptr, "(a character device, not a regular file)"},
        {"folder", [](const TempDir& dir) { return test::makeFolder(dir.file("file")); }, nullptr,
         "(a folder, not a regular file)"},
        {"loop of links", [&](const TempDir& dir) { return link(dir, "file", "file"); }, nullptr,
         std::make_error_code(std::errc::too_many_symbolic_link_levels).message()},
    };
    for (const Case& c : cases) {
        for (int way = 0; way < (c.replaced ? 3 : 1); ++way) {
            SCOPED_TRACE(std::string(c.name) + ", way " + std::to_string(way));
            TempDir dir;
            if (!c.make(dir))
                continue;  // devices need root
            auto tree = treeOf(dir);
            if (!c.replaced) {
                const auto failure =
                    test::failureOf([&] { ReplacedFile part(dir.file("file"), "file"); });
                ASSERT_TRUE(failure);
                EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
                EXPECT_EQ(failure->file(), "file");
                EXPECT_NE(failure->detail().find(c.refusal), std::string::npos)
                    << failure->detail();
                EXPECT_EQ(treeOf(dir), tree) << "untouched";
                continue;
            }
            const std::string before = dir.read(c.replaced);
            ReplacedFile part(dir.file("file"), "file");
            fill(part, way);
            EXPECT_EQ(dir.read(c.replaced), before) << "the old file stays until the rename";
            const std::filesystem::path temporary = part.temporary();
            EXPECT_EQ(temporary.parent_path(), dir.file(c.replaced).parent_path());
            EXPECT_EQ(part.install(), std::nullopt);

            EXPECT_TRUE(wasSynced(dir.file(c.replaced))) << "its bytes went to the disk";
            EXPECT_TRUE(wasSynced(dir.file(c.replaced).parent_path())) << "and its folder's";
            EXPECT_FALSE(std::filesystem::exists(temporary));
            tree[c.replaced] = kNew;  // and nothing else changed, links included
            EXPECT_EQ(treeOf(dir), tree);
        }
    }
}

TEST(ReplacedFile, ModeIsTheOneAskedForOrWhatTheUmaskGivesANewFile) {
    const struct {
        mode_t umask;
        std::optional<mode_t> mode;
        mode_t expected;
    } cases[] = {
        {022, 0640, 0640}, {077, 0644, 0644}, {022, std::nullopt, 0644}, {027, std::nullopt, 0640}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.umask) + " " + std::to_string(c.mode.value_or(0)));
        TempDir dir;
        dir.write("file", kOld);
        ::chmod(dir.file("file").c_str(), 0604);
        const mode_t previous = ::umask(c.umask);
        ReplacedFile part(dir.file("file"), "file", c.mode);
        ::umask(previous);
        part.install();
        struct stat status {};
        ASSERT_EQ(::stat(dir.file("file").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.expected);
    }
}

TEST(ReplacedFile, FailureBeforeTheRenameLeavesTheFileAsItWasAndNoTemporary) {
    const struct {
        const char* name;
        std::function<void(ReplacedFile&, const TempDir&)> fail;
        std::string caught;
    } cases[] = {
        {"the writer's step throws",
         [](ReplacedFile& part, const TempDir&) {
             LineWriter writer(part.descriptor(), "file");
             writer.writeLine("half of it");
             throw std::runtime_error("the step failed");
         },
         "the step failed"},
        {"the disk takes no more",
         [](ReplacedFile& part, const TempDir&) {
             rlimit previous{};
             ::getrlimit(RLIMIT_FSIZE, &previous);
             const rlimit small{4096, previous.rlim_max};
             ::setrlimit(RLIMIT_FSIZE, &small);
             const auto signal = ::signal(SIGXFSZ, SIG_IGN);
             const auto failure = test::failureOf([&] { part.write(std::string(8192, 'x')); });
             ::signal(SIGXFSZ, signal);
             ::setrlimit(RLIMIT_FSIZE, &previous);
             if (failure)
                 throw *failure;
         },
         "file (File too large)"},
        {"a folder took the file's place",
         [](ReplacedFile& part, const TempDir& dir) {
             part.write(kNew);
             std::filesystem::remove(dir.file("file"));
             std::filesystem::create_directory(dir.file("file"));
             part.install();
         },
         "file (Is a directory)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("file", kOld);
        std::string caught;
        try {
            ReplacedFile part(dir.file("file"), "file");
            c.fail(part, dir);
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.kind(), FailureKind::CannotCreate);
            caught = failure.detail().substr(dir.path().string().size() + 1);
        } catch (const std::runtime_error& error) {
            caught = error.what();
        }
        EXPECT_EQ(caught, c.caught);
        EXPECT_EQ(dir.names(), std::set<std::string>{"file"}) << "no temporary left";
        if (!std::filesystem::is_directory(dir.file("file"))) {
            EXPECT_EQ(dir.read("file"), kOld);
        }
    }
}

// A run killed while it wrote left its temporary; the next replacement of
// the file removes it, and leaves what a live run holds and every other file.
TEST(ReplacedFile, LeftoverOfAKilledRunGoesWithTheNextReplacement) {
    TempDir dir;
    const TemporaryNames names = partialNames("page");
    const auto startWriting = [&](bool killed) {
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ReplacedFile part(dir.file("page"), "page", std::nullopt, names);
            part.write("half a page");
            if (::write(ready[1], "", 1) != 1 || !killed)
                ::pause();  // a live run, until it is stopped
            ::_exit(0);     // no destructor runs: as good as killed
        }
        char done = 0;
        EXPECT_EQ(::read(ready[0], &done, 1), 1);
        ::close(ready[0]);
        ::close(ready[1]);
        return child;
    };
    // The live run first: the killed one's own cleanup must leave it be.
    const pid_t live = startWriting(false);
    const std::unique_ptr<const pid_t, void (*)(const pid_t*)> stopped(&live, [](const pid_t* pid) {
        ::kill(*pid, SIGKILL);  // whatever the test found
        ::waitpid(*pid, nullptr, 0);
    });
    const std::set<std::string> liveOne = dir.names();
    ASSERT_GT(::waitpid(startWriting(true), nullptr, 0), 0);
    ASSERT_EQ(dir.names().size(), 2u);
    const std::set<std::string> others = {".page.partial-AbC12", ".page.partial-AbC123.bak",
                                          "page.partial-AbC123", ".page.partial-FIFO00"};
    for (const std::string& name : others)
        name.ends_with("FIFO00") ? test::makeFifo(dir.file(name)) : (dir.write(name, "kept"), true);
    std::filesystem::create_symlink("page", dir.file(".page.partial-LINK00"));
    dir.write(".page.partial", "an earlier version's");

    ReplacedFile next(dir.file("page"), "page", std::nullopt, names);
    next.write(kNew);
    next.install();

    std::set<std::string> expected = others;
    expected.insert({"page", ".page.partial-LINK00", *liveOne.begin()});
    EXPECT_EQ(dir.names(), expected);
    EXPECT_EQ(dir.read("page"), kNew);
    for (const std::string& name : expected)
        EXPECT_EQ(names.matches(name), name == *liveOne.begin() || name.ends_with("00")) << name;
}

}  // namespace
}  // namespace fennick
