// fennick-cli --zone as a script starts it, on jobs on both sides of a
// change of Berlin's clocks: the files show Berlin's clock times.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/run_inputs.h"
#include "support/temp_dir.h"

namespace fennick::cli {
namespace {

using namespace std::chrono;
using fennick::test::configText;
using fennick::test::dumpLine;
using fennick::test::TempDir;

long long utc(year_month_day date, seconds time) {
    return (sys_days{date} + time).time_since_epoch().count();
}

struct Job {
    long long start;    // epoch seconds; each job ends 3661 s later
    const char* shown;  // its Start and End columns; nullptr: outside the window
};

// Berlin's clocks go forward at 01:00 UTC on 29 March 2026 and back at
// 01:00 UTC on 25 October 2026; the window is the day before noon.
TEST(ZoneRun, ShowsJobsAndTheWindowInTheZonesClockOnBothSidesOfAChange) {
    struct Case {
        const char* name;
        const char* end;
        std::vector<Job> jobs;  // newest first, as the dump lists them
        const char* window;
        const char* page;
    };
    const Case cases[] = {
        {"spring: a 23-hour day",
         "2026-03-29 12:00:00",
         {{utc(2026y / 3 / 29, 10h) + 1, nullptr},
          {utc(2026y / 3 / 29, 10h), "03/29/2026 12:00:00,03/29/2026 13:01:01"},
          {utc(2026y / 3 / 29, 1h), "03/29/2026 03:00:00,03/29/2026 04:01:01"},
          {utc(2026y / 3 / 29, 1h) - 1, "03/29/2026 01:59:59,03/29/2026 04:01:00"},
          {utc(2026y / 3 / 28, 11h), "03/28/2026 12:00:00,03/28/2026 13:01:01"},
          {utc(2026y / 3 / 28, 11h) - 1, nullptr}},
         "Start: 03/28/2026 12:00:00<br> End: 03/29/2026 12:00:00</font>",
         "report_29-03-26.html"},
        {"autumn: a 25-hour day",
         "2026-10-25 12:00:00",
         {{utc(2026y / 10 / 25, 11h) + 1, nullptr},
          {utc(2026y / 10 / 25, 11h), "10/25/2026 12:00:00,10/25/2026 13:01:01"},
          {utc(2026y / 10 / 25, 1h), "10/25/2026 02:00:00,10/25/2026 03:01:01"},
          {utc(2026y / 10 / 25, 1h) - 1, "10/25/2026 02:59:59,10/25/2026 03:01:00"},
          {utc(2026y / 10 / 24, 10h), "10/24/2026 12:00:00,10/24/2026 13:01:01"},
          {utc(2026y / 10 / 24, 10h) - 1, nullptr}},
         "Start: 10/24/2026 12:00:00<br> End: 10/25/2026 12:00:00</font>",
         "report_25-10-26.html"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("fennick_config.txt", configText());
        dir.write("policy_list.txt", "PolA\r\n");
        std::string dump;
        for (std::size_t i = 0; i < c.jobs.size(); ++i)
            dump += dumpLine({.id = std::to_string(100 - i), .start = c.jobs[i].start});
        dir.write("bpdbjobs.txt", dump);

        const std::string command = std::string(fennick::test::kAsScheduled) + "'" +
                                    FENNICK_CLI_BINARY + "' --quiet --zone Europe/Berlin --dir '" +
                                    dir.path().string() + "' --end '" + c.end + "' --json '" +
                                    dir.file("findings.json").string() + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;

        const std::string jobs = dir.read("out.txt");
        std::size_t shown = 0;
        for (const Job& job : c.jobs) {
            if (job.shown == nullptr)
                continue;
            ++shown;
            EXPECT_NE(jobs.find(std::string(",") + job.shown + ","), std::string::npos)
                << job.shown << " in\n"
                << jobs;
        }
        EXPECT_EQ(static_cast<std::size_t>(std::count(jobs.begin(), jobs.end(), '\n')), shown)
            << jobs;
        EXPECT_NE(dir.read(c.page).find(c.window), std::string::npos) << dir.read(c.page);
        EXPECT_NE(dir.read("findings.json").find("\"zone\": \"Europe/Berlin\""), std::string::npos);
    }
}

}  // namespace
}  // namespace fennick::cli
