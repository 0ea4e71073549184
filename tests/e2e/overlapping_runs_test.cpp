// Real operations on one AppDir: runs that overlap (a scheduled run while an
// operator presses "Process", two schedulers) and runs killed while the page
// is being written. The real program runs under a frozen clock.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <thread>

#include "support/dump_line.h"
#include "support/program.h"
#include "support/temp_dir.h"

extern char** environ;

namespace fennick {
namespace {

using namespace std::chrono;
using test::installProgram;
using test::TempDir;

const char* const kOutputs[] = {"out.txt", "out2.txt", "out1.txt", "report_05-12-26.html"};
// The temporary page's name begins so, whatever its run's own ending.
constexpr std::string_view kPartialPage = ".report_05-12-26.html.partial";

bool hasPartialPage(const TempDir& dir) {
    const auto names = dir.names();
    return std::any_of(names.begin(), names.end(),
                       [](const std::string& name) { return name.starts_with(kPartialPage); });
}

// Two clocks one second apart; TZ=UTC, so these are also the picked times.
constexpr const char* kFirstClock = "2026-12-05 02:15:00";
constexpr const char* kSecondClock = "2026-12-05 02:15:01";
// Epoch seconds of 2026-12-05 02:15:00 read in the report zone (UTC+8).
constexpr long long kEnd = 1796436900 - 28800;
constexpr long long kStart = kEnd - 86400;

// A job routed to out.txt; the client varies with the id.
std::string jobLine(long long id, const std::string& policy, long long start,
                    const std::string& status) {
    return test::dumpLine({.id = std::to_string(id),
                           .policy = policy,
                           .schedule = "daily",
                           .start = start,
                           .status = status,
                           .client = "client" + std::to_string(id % 97)});
}

// Inputs whose run takes a noticeable while, and whose outputs differ
// between the two clocks: one job lies just past the first clock's window,
// one at the very start of the first clock's window.
void writeInputs(const TempDir& dir, int jobs) {
    dir.write("fennick_config.txt", "RL03=1 month\r\n");
    std::string policies;
    for (int p = 0; p < 50; ++p)
        policies += "Pol" + std::to_string(p) + "\r\n";
    dir.write("policy_list.txt", policies + "Absent\r\n");
    std::string dump = jobLine(900000, "Pol1", kEnd + 1, "0");
    for (int i = 0; i < jobs; ++i) {
        const long long start = kEnd - 1 - static_cast<long long>(i) * 86000 / jobs;
        dump += jobLine(i, "Pol" + std::to_string(i % 50), start, i % 17 == 0 ? "2" : "0");
    }
    dump += jobLine(1, "Pol2", kStart, "0");
    dir.write("bpdbjobs.txt", dump);
}

// Starts `fennick -q` in its own process group under a frozen clock.
pid_t start(const std::filesystem::path& program, const char* clock) {
    const std::string command = std::string("exec ") + test::kAsScheduled + test::frozenAt(clock) +
                                "'" + program.string() + "' -q";
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    const int error =
        posix_spawn(&pid, "/bin/sh", nullptr, &attributes, const_cast<char* const*>(argv), environ);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? pid : -1;
}

// The exit status, or -1 when it did not end within a minute (then it is killed).
int finish(pid_t pid) {
    for (int tries = 0; tries < 6000; ++tries) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(10ms);
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

std::map<std::string, std::string> outputsOf(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const char* name : kOutputs)
        files[name] = dir.read(name);
    return files;
}

// What one run alone writes with each clock.
struct References {
    std::map<std::string, std::string> first;
    std::map<std::string, std::string> second;
};

References referencesFor(int jobs) {
    References references;
    for (const char* clock : {kFirstClock, kSecondClock}) {
        TempDir dir;
        writeInputs(dir, jobs);
        EXPECT_EQ(finish(start(installProgram(dir), clock)), 0);
        (clock == kFirstClock ? references.first : references.second) = outputsOf(dir);
    }
    EXPECT_NE(references.first, references.second) << "the clocks must give different reports";
    return references;
}

constexpr int kJobs = 60000;

TEST(OverlappingRuns, SecondRunWaitsAndTheFilesAreThoseOfOneWholeRun) {
    const References references = referencesFor(kJobs);
    const std::chrono::milliseconds delays[] = {20ms, 60ms, 120ms, 200ms};
    for (const auto delay : delays) {
        TempDir dir;
        writeInputs(dir, kJobs);
        const auto program = installProgram(dir);
        const pid_t first = start(program, kFirstClock);
        std::this_thread::sleep_for(delay);
        const pid_t second = start(program, kSecondClock);
        EXPECT_EQ(finish(first), 0) << "delay " << delay.count() << " ms";
        EXPECT_EQ(finish(second), 0) << "delay " << delay.count() << " ms";
        // Whichever took the folder last wrote every file, whole.
        const auto files = outputsOf(dir);
        EXPECT_TRUE(files == references.second || files == references.first)
            << "files of neither run alone, delay " << delay.count() << " ms";
        EXPECT_FALSE(hasPartialPage(dir));
    }
}

TEST(KilledRun, LeavesTheEarlierPageWholeAndTheNextRunCleansUp) {
    const References references = referencesFor(kJobs);
    const std::string earlier = "<html>an earlier complete page</html>\r\n";
    int caughtWhileWriting = 0;
    for (int trial = 0; trial < 3; ++trial) {
        TempDir dir;
        writeInputs(dir, kJobs);
        dir.write("report_05-12-26.html", earlier);
        const auto program = installProgram(dir);
        const pid_t run = start(program, kFirstClock);
        // Kill it as soon as a page is on its way, under whatever name.
        const auto pageMoved = [&] {
            std::error_code unknown;
            return hasPartialPage(dir) ||
                   std::filesystem::file_size(dir.file("report_05-12-26.html"), unknown) !=
                       earlier.size();
        };
        bool seen = false;
        for (int polls = 0; polls < 10000 && !seen; ++polls) {
            seen = pageMoved();
            if (!seen)
                std::this_thread::sleep_for(1ms);
        }
        kill(-run, SIGKILL);
        waitpid(run, nullptr, 0);
        caughtWhileWriting += seen;

        const std::string page = dir.read("report_05-12-26.html");
        EXPECT_TRUE(page == earlier || page == references.first.at("report_05-12-26.html"))
            << "a part of a page under the page's name (" << page.size() << " bytes)";

        EXPECT_EQ(finish(start(program, kFirstClock)), 0);
        EXPECT_EQ(outputsOf(dir), references.first);
        EXPECT_FALSE(hasPartialPage(dir)) << "the next run leaves no temporary page";
    }
    EXPECT_GT(caughtWhileWriting, 0) << "no kill landed while the page was written";
}

}  // namespace
}  // namespace fennick
