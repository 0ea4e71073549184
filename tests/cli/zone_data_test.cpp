// The zones of the machine's time-zone data, checked against Python's own
// reading of the same data (zoneinfo), which also follows each zone's rule
// past the changes the files list.
#include "cli/zone_data.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace fennick::cli {
namespace {

using namespace std::chrono;
using fennick::test::TempDir;

// Reads "T zone epoch" (the zone's date text of the instant) and "C zone
// YYYY MM DD hh mm ss" (how the clock time reads: once, skipped or twice,
// and the instant of the earlier reading, which zoneinfo takes for fold 0)
// and answers each line with one line.
constexpr const char* kZoneinfo = R"(
import sys
from datetime import datetime, timezone
from zoneinfo import ZoneInfo
for line in sys.stdin:
    kind, name, *rest = line.split()
    zone = ZoneInfo(name)
    if kind == 'T':
        shown = datetime.fromtimestamp(int(rest[0]), zone)
        text = shown.strftime('%m/%d/%Y')
        if (shown.hour, shown.minute, shown.second) != (0, 0, 0):
            text += shown.strftime(' %H:%M:%S')
        print(text)
    else:
        clock = datetime(*map(int, rest))
        first = int(clock.replace(tzinfo=zone, fold=0).timestamp())
        second = int(clock.replace(tzinfo=zone, fold=1).timestamp())
        back = datetime.fromtimestamp(first, zone).replace(tzinfo=None)
        read = 'once' if first == second else ('twice' if back == clock else 'skipped')
        print(read, first)
)";

// Whether each of `mine` ends in zoneinfo's answer to the question on the
// same line of `questions`; skips when Python or its zoneinfo is not there.
void expectZoneinfoAgrees(const std::string& questions, const std::vector<std::string>& mine) {
    TempDir dir;
    dir.write("zones.py", kZoneinfo);
    dir.write("questions", questions);
    const std::string command = "/usr/bin/python3 '" + dir.file("zones.py").string() + "' <'" +
                                dir.file("questions").string() + "' >'" +
                                dir.file("answers").string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "no python3 with zoneinfo";
    std::istringstream answers(dir.read("answers"));
    std::size_t line = 0;
    int wrong = 0;
    for (std::string answer; std::getline(answers, answer); ++line) {
        ASSERT_LT(line, mine.size());
        if (!mine[line].ends_with(" = " + answer) && ++wrong <= 10)
            ADD_FAILURE() << mine[line] << ", zoneinfo: " << answer;
    }
    EXPECT_EQ(line, mine.size());
    EXPECT_EQ(wrong, 0);
}

const char* const kZones[] = {"Europe/Berlin", "America/New_York", "Asia/Kolkata",
                              "Australia/Adelaide"};
const unsigned kChangeMonths[] = {3, 4, 10, 11};

// Every day of the months the clocks change in, at the times of day (UTC)
// those zones change them, a second before and at the change; before the
// list of changes in the data ends (2037) and after.
TEST(NamedZone, ShowsEveryInstantAsPythonsZoneinfoDoes) {
    const seconds changes[] = {hours{1}, hours{6}, hours{7}, hours{16} + minutes{30}};
    std::string questions;
    std::vector<std::string> mine;
    for (const char* name : kZones) {
        const auto zone = namedZone(name);
        ASSERT_TRUE(zone) << name;
        for (int y : {1990, 2026, 2037, 2038, 2040, 2100, 2400}) {
            for (unsigned m : kChangeMonths) {
                for (unsigned d = 1; d <= 31; ++d) {
                    const year_month_day date{year{y}, month{m}, day{d}};
                    if (!date.ok())
                        continue;
                    for (seconds change : changes) {
                        const long long at = (sys_days{date} + change).time_since_epoch().count();
                        for (long long instant : {at - 1, at}) {
                            const std::string question =
                                "T " + std::string(name) + ' ' + std::to_string(instant);
                            questions += question + '\n';
                            mine.push_back(question + " = " +
                                           zoneText(static_cast<double>(instant), zone.get()));
                        }
                    }
                }
            }
        }
    }
    expectZoneinfoAgrees(questions, mine);
}

// Every half hour from midnight to 04:00 on those days, by the zone's clock.
TEST(NamedZone, ReadsClockTimesAsPythonsZoneinfoDoes) {
    std::string questions;
    std::vector<std::string> mine;
    for (const char* name : kZones) {
        const auto zone = namedZone(name);
        ASSERT_TRUE(zone) << name;
        for (int y : {2026, 2040}) {
            for (unsigned m : kChangeMonths) {
                for (unsigned d = 1; d <= 31; ++d) {
                    const year_month_day date{year{y}, month{m}, day{d}};
                    for (minutes at{0}; at <= hours{4} && date.ok(); at += minutes{30}) {
                        const hh_mm_ss<minutes> time{at};
                        const std::string question = "C " + std::string(name) + ' ' +
                                                     std::to_string(y) + ' ' + std::to_string(m) +
                                                     ' ' + std::to_string(d) + ' ' +
                                                     std::to_string(time.hours().count()) + ' ' +
                                                     std::to_string(time.minutes().count()) + " 0";
                        const TimeZone::Instants read = zone->instantsOf(local_days{date} + at);
                        const char* kind = read.kind == TimeZone::Instants::Kind::Once ? "once"
                                           : read.kind == TimeZone::Instants::Kind::Twice
                                               ? "twice"
                                               : "skipped";
                        questions += question + '\n';
                        mine.push_back(question + " = " + kind + ' ' +
                                       std::to_string(read.earlier.time_since_epoch().count()));
                    }
                }
            }
        }
    }
    expectZoneinfoAgrees(questions, mine);
}

}  // namespace
}  // namespace fennick::cli
