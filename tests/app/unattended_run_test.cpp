// The real program started the way a scheduler starts it: "-q", no display.
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app_inputs.h"
#include "common/report_time.h"
#include "report/report_page.h"
#include "support/temp_dir.h"

namespace fennick::app {
namespace {

using namespace std::chrono;
using test::TempDir;

constexpr int kTimedOut = 124;  // timeout(1)'s status when it had to stop the program

struct Outcome {
    int status = -1;
    std::string errors;
};

// Runs the program in `appDir` with the given arguments, without a display
// or a chosen platform, and stops it after 60 seconds.
Outcome runFennick(const std::filesystem::path& appDir, const std::string& arguments) {
    TempDir scratch;
    const std::string command = "cd '" + appDir.string() +
                                "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                "timeout 60 '" FENNICK_BINARY "' " +
                                arguments + " 2>'" + scratch.file("stderr").string() + "'";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.errors = scratch.read("stderr");
    return outcome;
}

int filesIn(const std::filesystem::path& dir) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir))
        ++count;
    return count;
}

TEST(UnattendedRun, MissingDumpReportsOnStderrAndEndsWithStatus1) {
    TempDir dir;
    const Outcome outcome = runFennick(dir.path(), "-q");
    ASSERT_NE(outcome.status, kTimedOut) << "the program waited for somebody";
    EXPECT_EQ(outcome.status, 1) << outcome.errors;
    EXPECT_NE(outcome.errors.find("fennick: File not found: bpdbjobs.txt"), std::string::npos)
        << outcome.errors;
    EXPECT_EQ(filesIn(dir.path()), 0);
}

TEST(UnattendedRun, FailureInsideProcessIsReportedTheSameWay) {
    TempDir dir;
    dir.write("bpdbjobs.txt", "4711,x\r\n");  // no configuration file
    const Outcome outcome = runFennick(dir.path(), "-q");
    ASSERT_NE(outcome.status, kTimedOut);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.errors.find("fennick: File not found: fennick_config.txt"), std::string::npos)
        << outcome.errors;
    EXPECT_EQ(filesIn(dir.path()), 1);
}

TEST(UnattendedRun, SuccessWritesTheReportOfYesterdayAndEndsWithStatus0) {
    const year_month_day today{floor<days>(localNow())};
    const local_days yesterday = local_days{today} - days{1};
    TempDir dir;
    test::writeInputs(dir, yesterday + 12h);

    const Outcome outcome = runFennick(dir.path(), "-q");

    if (year_month_day{floor<days>(localNow())} != today)
        GTEST_SKIP() << "ran across midnight";
    ASSERT_NE(outcome.status, kTimedOut);
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_NE(dir.read("out.txt").find("PolA"), std::string::npos);
    EXPECT_NE(dir.read("out2.txt").find("PolB"), std::string::npos);
    EXPECT_NE(dir.read("out1.txt").find("PolA"), std::string::npos);
    EXPECT_NE(dir.read(reportFileName(today)).find("Backup Report"), std::string::npos);
}

}  // namespace
}  // namespace fennick::app
