// The real program started the way a scheduler starts it: "-q", no display,
// from some other directory, with the clock frozen.
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <set>
#include <string>

#include "support/program.h"
#include "support/run_inputs.h"
#include "support/temp_dir.h"

namespace fennick::app {
namespace {

using namespace std::chrono;
using test::dumpLine;
using test::epochOf;
using test::installProgram;
using test::Route;
using test::TempDir;

constexpr int kTimedOut = 124;  // timeout(1)'s status when it had to stop the program

// The frozen clock of these runs, read in UTC: 02:15:00 on 5 December 2026.
constexpr const char* kFrozenClock = "2026-12-05 02:15:00";
const LocalTime kStart = local_days{2026y / 12 / 4} + 2h + 15min;
const LocalTime kEnd = local_days{2026y / 12 / 5} + 2h + 15min;

struct Outcome {
    int status = -1;
    std::string errors;
};

struct Run {
    std::string arguments = "-q";
    std::string environment;  // extra NAME=value words for env(1)
    int seconds = 60;         // then timeout(1) stops the program
};

// Starts the installed program from `workDir` with no display and no chosen
// platform, the clock frozen and the zone UTC.
Outcome runFennick(const std::filesystem::path& program, const std::filesystem::path& workDir,
                   const Run& run) {
    TempDir scratch;
    const std::string command = "cd '" + workDir.string() + "' && " + test::kAsScheduled +
                                run.environment + " timeout " + std::to_string(run.seconds) + " " +
                                test::frozenAt(kFrozenClock) + "'" + program.string() + "' " +
                                run.arguments + " 2>'" + scratch.file("stderr").string() + "'";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.errors = scratch.read("stderr");
    return outcome;
}

int linesOf(const std::string& text) {
    int count = 0;
    for (char c : text)
        count += c == '\n';
    return count;
}

// The unattended run needs nothing of the window: its library is not even there.
TEST(UnattendedRun, WritesTheFilesOfThe24HoursBeforeItsStartAndEndsWithStatus0) {
    TempDir appDir;
    TempDir workDir;
    const auto program = installProgram(appDir, false);
    appDir.write("fennick_config.txt", test::configText());
    appDir.write("policy_list.txt", "PolA\r\nPolC\r\n");
    // Newest first: one second past each end of the window, both ends, and
    // a job for out2.txt inside.
    appDir.write("bpdbjobs.txt",
                 dumpLine({.id = "106", .policy = "PolA", .start = epochOf(kEnd) + 1}) +
                     dumpLine({.id = "105", .policy = "PolA", .start = epochOf(kEnd)}) +
                     dumpLine({.id = "104",
                               .policy = "PolB",
                               .start = epochOf(kEnd) - 60,
                               .route = Route::Other}) +
                     dumpLine({.id = "103", .policy = "PolA", .start = epochOf(kStart)}) +
                     dumpLine({.id = "102", .policy = "PolA", .start = epochOf(kStart) - 1}));

    const Outcome outcome = runFennick(program, workDir.path(), {});

    ASSERT_NE(outcome.status, kTimedOut) << "the program waited for somebody";
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(outcome.errors, "");
    const std::string jobs = appDir.read("out.txt");
    EXPECT_EQ(linesOf(jobs), 2) << jobs;
    EXPECT_EQ(jobs.rfind("PolA,Daily,client1,12/05/2026 02:15:00,", 0), 0u) << jobs;
    EXPECT_NE(jobs.find("PolA,Daily,client1,12/04/2026 02:15:00,"), std::string::npos) << jobs;
    EXPECT_EQ(linesOf(appDir.read("out2.txt")), 1);
    EXPECT_NE(appDir.read("out1.txt").find("PolC,Not Found"), std::string::npos);
    const std::string page = appDir.read("report_05-12-26.html");
    EXPECT_NE(page.find("Start: 12/04/2026 02:15:00<br> End: 12/05/2026 02:15:00"),
              std::string::npos)
        << page;
    EXPECT_EQ(
        appDir.names(),
        (std::set<std::string>{"fennick", "fennick_config.txt", "policy_list.txt", "bpdbjobs.txt",
                               "out.txt", "out2.txt", "out1.txt", "report_05-12-26.html"}));
    EXPECT_TRUE(workDir.names().empty()) << "AppDir is the program's directory";
}

TEST(UnattendedRun, MissingDumpReportsOnStderrAndWritesNothing) {
    TempDir appDir;
    TempDir workDir;
    const auto program = installProgram(appDir, false);
    workDir.write("bpdbjobs.txt", "4711,x\r\n");  // not where the program looks

    const Outcome outcome = runFennick(program, workDir.path(), {});

    ASSERT_NE(outcome.status, kTimedOut) << "the program waited for somebody";
    EXPECT_EQ(outcome.status, 1) << outcome.errors;
    EXPECT_EQ(outcome.errors.rfind("fennick: File not found: bpdbjobs.txt", 0), 0u)
        << outcome.errors;
    EXPECT_EQ(appDir.names(), std::set<std::string>{"fennick"});
    EXPECT_EQ(workDir.names(), std::set<std::string>{"bpdbjobs.txt"});
}

TEST(UnattendedRun, FailureInsideProcessIsReportedTheSameWay) {
    TempDir appDir;
    const auto program = installProgram(appDir, false);
    appDir.write("bpdbjobs.txt", "4711,x\r\n");  // no configuration file

    const Outcome outcome = runFennick(program, appDir.path(), {});

    ASSERT_NE(outcome.status, kTimedOut);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.errors.rfind("fennick: File not found: fennick_config.txt", 0), 0u)
        << outcome.errors;
    EXPECT_EQ(appDir.names(), (std::set<std::string>{"fennick", "bpdbjobs.txt"}));
}

// A scheduled run over a broken AppDir ends at once with the failure's kind
// and file on stderr; a huge first line is no failure at all.
TEST(UnattendedRun, NeverHangsOverABrokenAppDir) {
    struct Case {
        const char* name;
        const char* directoryInstead;  // a file replaced by a directory, or null
        bool hugeFirstLine;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"dump is a directory", "bpdbjobs.txt", false, 1, "fennick: I/O error: bpdbjobs.txt"},
        {"policy list is a directory", "policy_list.txt", false, 1,
         "fennick: I/O error: policy_list.txt"},
        {"out.txt is a directory", "out.txt", false, 1, "fennick: Cannot create file: out.txt"},
        {"page is a directory", "report_05-12-26.html", false, 1,
         "fennick: Cannot create file: report_05-12-26.html"},
        {"10 MB first line", nullptr, true, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir appDir;
        const auto program = installProgram(appDir);
        test::writeInputs(appDir, local_days{2026y / 12 / 4} + 12h);
        if (c.directoryInstead) {
            std::filesystem::remove(appDir.file(c.directoryInstead));
            std::filesystem::create_directory(appDir.file(c.directoryInstead));
        }
        if (c.hugeFirstLine) {
            appDir.write("bpdbjobs.txt", dumpLine({.id = "4712",
                                                   .policy = std::string(10 << 20, 'P'),
                                                   .start = epochOf(kEnd)}) +
                                             appDir.read("bpdbjobs.txt"));
        }

        const Outcome outcome = runFennick(program, appDir.path(), {});

        ASSERT_NE(outcome.status, kTimedOut) << "the program hung";
        EXPECT_EQ(outcome.status, c.status) << outcome.errors;
        EXPECT_EQ(outcome.errors.rfind(c.message, 0), 0u) << outcome.errors;
        if (c.status == 0) {
            EXPECT_EQ(outcome.errors, "");
            EXPECT_NE(appDir.read("out.txt").find(std::string(10 << 20, 'P')), std::string::npos);
        }
    }
}

// Anything but exactly "-q" opens the window and waits for the operator, so
// the run is stopped from outside and must have written nothing.
TEST(UnattendedRun, OtherArgumentsWaitForTheOperatorInstead) {
    const std::array<const char*, 5> arguments = {"-Q", "/q", "'-q '", "-q x", ""};
    std::array<TempDir, arguments.size()> appDirs;
    std::array<std::set<std::string>, arguments.size()> before;
    std::array<std::future<Outcome>, arguments.size()> outcomes;
    std::array<std::filesystem::path, arguments.size()> programs;
    // Every copy closed before any run starts: a program copied while
    // another run forks would stay open for writing in that child.
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        programs[i] = installProgram(appDirs[i]);
        test::writeInputs(appDirs[i], local_days{2026y / 12 / 4} + 12h);
        before[i] = appDirs[i].names();
    }
    // Each waits out its limit, so they wait together.
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        outcomes[i] = std::async(std::launch::async, [&, i] {
            return runFennick(programs[i], appDirs[i].path(),
                              {.arguments = arguments[i],
                               .environment = "QT_QPA_PLATFORM=offscreen",
                               .seconds = 3});
        });
    }
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const Outcome outcome = outcomes[i].get();
        EXPECT_EQ(outcome.status, kTimedOut) << arguments[i] << ": " << outcome.errors;
        EXPECT_EQ(appDirs[i].names(), before[i]) << arguments[i];
    }
}

// Cron and stale SSH sessions may name a display that is not there; the
// unattended run never asks for one.
TEST(UnattendedRun, NamedButAbsentDisplayIsNoHindrance) {
    for (const char* environment :
         {"DISPLAY=:99", "WAYLAND_DISPLAY=wayland-99", "QT_QPA_PLATFORM=xcb DISPLAY=:99"}) {
        TempDir appDir;
        const auto program = installProgram(appDir);
        test::writeInputs(appDir, local_days{2026y / 12 / 4} + 12h);

        const Outcome outcome =
            runFennick(program, appDir.path(), {.environment = environment, .seconds = 60});

        EXPECT_EQ(outcome.status, 0) << environment << ": " << outcome.errors;
        EXPECT_EQ(outcome.errors, "") << environment;
        EXPECT_TRUE(appDir.exists("report_05-12-26.html")) << environment;
    }
}

// With a platform that shows nothing, a message box would wait unseen.
TEST(UnattendedRun, WindowOnAnInvisiblePlatformReportsFailuresOnStderr) {
    TempDir appDir;
    const auto program = installProgram(appDir);

    const Outcome outcome =
        runFennick(program, appDir.path(),
                   {.arguments = "", .environment = "QT_QPA_PLATFORM=offscreen", .seconds = 30});

    ASSERT_NE(outcome.status, kTimedOut) << "the program waited for somebody";
    EXPECT_EQ(outcome.status, 1) << outcome.errors;
    EXPECT_NE(outcome.errors.find("fennick: File not found: bpdbjobs.txt"), std::string::npos)
        << outcome.errors;
}

TEST(UnattendedRun, WindowWithoutADisplaySaysSoInsteadOfAborting) {
    TempDir appDir;
    const auto program = installProgram(appDir);
    test::writeInputs(appDir, local_days{2026y / 12 / 4} + 12h);

    const Outcome outcome =
        runFennick(program, appDir.path(), {.arguments = "", .environment = "", .seconds = 10});

    EXPECT_EQ(outcome.status, 1) << outcome.errors;
    EXPECT_EQ(outcome.errors.rfind("fennick: no display for the window", 0), 0u) << outcome.errors;
    EXPECT_FALSE(appDir.exists("out.txt"));
}

// The window lives in a library of its own, so that the unattended run never
// loads the toolkit: the dynamic loader's own log of a whole run names no Qt
// library, and neither does the program's list of needed libraries.
TEST(WindowLibrary, UnattendedRunLoadsNoToolkit) {
    TempDir appDir;
    const auto program = installProgram(appDir);
    test::writeInputs(appDir, local_days{2026y / 12 / 4} + 12h);

    const Outcome outcome =
        runFennick(program, appDir.path(), {.environment = "LD_DEBUG=libs", .seconds = 60});
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_NE(outcome.errors.find("calling init"), std::string::npos) << "no loader log";
    EXPECT_EQ(outcome.errors.find("libQt"), std::string::npos) << outcome.errors;

    TempDir scratch;
    const std::string ldd =
        "ldd '" + program.string() + "' >'" + scratch.file("ldd").string() + "'";
    ASSERT_EQ(std::system(ldd.c_str()), 0);
    EXPECT_EQ(scratch.read("ldd").find("libQt"), std::string::npos) << scratch.read("ldd");
}

// Whatever is wrong with the window's library, asking for the window ends at
// once with one line that says so, and writes nothing; the unattended run
// beside the same library still works.
TEST(WindowLibrary, MissingOrBrokenLibraryIsOneLineAndStatus1) {
    struct Case {
        const char* what;
        std::string bytes;  // the library file's content; empty: no file
        const char* reason;
    };
    const Case cases[] = {
        {"missing", "", "cannot open shared object file"},
        {"not a library", "#!/bin/sh\nexit 0\n", "libfennick_window.so"},
        {"truncated", "\177ELF\002\001\001", "libfennick_window.so"},
    };
    for (const Case& c : cases) {
        TempDir appDir;
        const auto program = installProgram(appDir, false);
        if (!c.bytes.empty())
            appDir.write(test::kWindowLibraryName, c.bytes);
        test::writeInputs(appDir, local_days{2026y / 12 / 4} + 12h);
        const auto before = appDir.names();

        const Outcome window = runFennick(
            program, appDir.path(),
            {.arguments = "", .environment = "QT_QPA_PLATFORM=offscreen", .seconds = 10});

        EXPECT_EQ(window.status, 1) << c.what << ": " << window.errors;
        EXPECT_EQ(window.errors.rfind("fennick: the window cannot be loaded: ", 0), 0u)
            << c.what << ": " << window.errors;
        EXPECT_NE(window.errors.find(c.reason), std::string::npos)
            << c.what << ": " << window.errors;
        EXPECT_EQ(linesOf(window.errors), 1) << c.what << ": " << window.errors;
        EXPECT_EQ(appDir.names(), before) << c.what;

        const Outcome unattended = runFennick(program, appDir.path(), {});
        EXPECT_EQ(unattended.status, 0) << c.what << ": " << unattended.errors;
        EXPECT_TRUE(appDir.exists("report_05-12-26.html")) << c.what;
    }
}

// The library comes from the program's own folder only: a sound one in the
// working directory or on LD_LIBRARY_PATH does not stand in for a missing
// one, and a broken one there does not hide the program's own.
TEST(WindowLibrary, IsLoadedFromTheProgramsFolderOnly) {
    const std::filesystem::path built =
        std::filesystem::path(test::kWindowProgram).parent_path() / test::kWindowLibraryName;
    for (const bool besideProgram : {false, true}) {
        TempDir appDir;
        TempDir workDir;
        const auto program = installProgram(appDir, besideProgram);
        if (besideProgram)
            workDir.write(test::kWindowLibraryName, "broken");
        else
            std::filesystem::copy_file(built, workDir.file(test::kWindowLibraryName));
        test::writeInputs(appDir, local_days{2026y / 12 / 4} + 12h);

        const Outcome outcome =
            runFennick(program, workDir.path(),
                       {.arguments = "",
                        .environment = "QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH='" +
                                       workDir.path().string() + "'",
                        .seconds = 3});

        if (besideProgram) {
            // The window came up and waits for the operator.
            EXPECT_EQ(outcome.status, kTimedOut) << outcome.errors;
        } else {
            EXPECT_EQ(outcome.status, 1) << outcome.errors;
            EXPECT_NE(outcome.errors.find(appDir.file(test::kWindowLibraryName).string()),
                      std::string::npos)
                << outcome.errors;
        }
    }
}

}  // namespace
}  // namespace fennick::app
