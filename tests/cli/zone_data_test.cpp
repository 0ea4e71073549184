// The zones of the machine's time-zone data, checked against Python's own
// reading of the same data (zoneinfo), which also follows each zone's rule
// past the changes the files list.
#include "cli/zone_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace fennick::cli {
namespace {

using namespace std::chrono;
using fennick::test::TempDir;

// Reads "Y zone year" (the instants the zone's offset changes at in that
// year, UTC, with the offsets before and after), "T zone epoch" (the zone's
// date text of the instant) and "C zone
// YYYY MM DD hh mm ss" (how the clock time reads: once, skipped or twice,
// and the instant of the earlier reading, which zoneinfo takes for fold 0)
// and answers each line with one line.
constexpr const char* kZoneinfo = R"(
import sys
from datetime import datetime, timezone
from zoneinfo import ZoneInfo
def offset(zone, at):
    return datetime.fromtimestamp(at, zone).utcoffset()
# Its changes over a year, a week apart at most: both ends of a change found
# to the second.
def changes(zone, year):
    start = int(datetime(year, 1, 1, tzinfo=timezone.utc).timestamp())
    end = int(datetime(year + 1, 1, 1, tzinfo=timezone.utc).timestamp())
    found = []
    before = offset(zone, start)
    for at in range(start, end, 7 * 86400):
        step = min(at + 7 * 86400, end)
        after = offset(zone, step)
        if after != before:
            lo, hi = at, step
            while hi - lo > 1:
                mid = (lo + hi) // 2
                lo, hi = (mid, hi) if offset(zone, mid) == before else (lo, mid)
            shown = (before, offset(zone, hi))
            found.append('%d:%d>%d' % (hi, *(int(o.total_seconds()) for o in shown)))
        before = after
    return ' '.join(found) or 'none'
for line in sys.stdin:
    kind, name, *rest = line.split()
    zone = ZoneInfo(name)
    if kind == 'Y':
        print(changes(zone, int(rest[0])))
    elif kind == 'T':
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
    if (std::system("/usr/bin/python3 -c 'import zoneinfo' 2>/dev/null") != 0)
        GTEST_SKIP() << "no python3 with zoneinfo";
    TempDir dir;
    dir.write("zones.py", kZoneinfo);
    dir.write("questions", questions);
    const std::string command = "/usr/bin/python3 '" + dir.file("zones.py").string() + "' <'" +
                                dir.file("questions").string() + "' >'" +
                                dir.file("answers").string() + "' 2>'" +
                                dir.file("errors").string() + "'";
    // A zone zoneinfo cannot read must fail the test, not skip it.
    ASSERT_EQ(std::system(command.c_str()), 0) << dir.read("errors");
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

// "C zone YYYY MM DD hh mm ss" about the clock time, with the zone's reading
// of it as the script answers.
std::string clockQuestion(const std::string& name, const TimeZone& zone, LocalTime clock) {
    const auto day = floor<days>(clock);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{clock - day};
    std::ostringstream line;
    line << "C " << name << ' ' << static_cast<int>(date.year()) << ' '
         << static_cast<unsigned>(date.month()) << ' ' << static_cast<unsigned>(date.day()) << ' '
         << time.hours().count() << ' ' << time.minutes().count() << ' ' << time.seconds().count();
    const TimeZone::Instants read = zone.instantsOf(clock);
    const char* kind = read.kind == TimeZone::Instants::Kind::Once    ? "once"
                       : read.kind == TimeZone::Instants::Kind::Twice ? "twice"
                                                                      : "skipped";
    line << " = " << kind << ' ' << read.earlier.time_since_epoch().count();
    return line.str();
}

struct Change {
    long long at;
    long long before;
    long long after;
};

// The zone's changes of offset in the year (UTC), looked for a day apart:
// the script looks a week apart, so a change too many here shows too.
std::vector<Change> changesIn(const TimeZone& zone, int y) {
    constexpr long long kDay = 86400;
    const auto secondOf = [](year at) {
        return sys_seconds{sys_days{at / 1 / 1}}.time_since_epoch().count();
    };
    const long long end = secondOf(year{y + 1});
    std::vector<Change> found;
    long long before = zone.offsetAt(secondOf(year{y}));
    for (long long at = secondOf(year{y}); at < end; at += kDay) {
        const long long step = std::min(at + kDay, end);
        const long long after = zone.offsetAt(step);
        if (after != before) {
            long long low = at;
            long long high = step;
            while (high - low > 1) {
                const long long middle = low + (high - low) / 2;
                (zone.offsetAt(middle) == before ? low : high) = middle;
            }
            found.push_back({high, before, zone.offsetAt(high)});
        }
        before = after;
    }
    return found;
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
                        const std::string line = clockQuestion(name, *zone, local_days{date} + at);
                        questions += line.substr(0, line.find(" = ")) + '\n';
                        mine.push_back(line);
                    }
                }
            }
        }
    }
    expectZoneinfoAgrees(questions, mine);
}

// Every zone of the data (a link reads the file of the zone it names, so
// links are left out), in years after the changes the data lists, where
// each zone follows the rule at the end of its file: when its offset
// changes and from what to what, and how the clock times about each change
// read (a second before the gap or the repeated hour, its first second, its
// middle, its last second, the second after).
TEST(NamedZone, ChangesItsClocksAfter2037AsPythonsZoneinfoDoes) {
    std::string questions;
    std::vector<std::string> mine;
    const auto ask = [&](const std::string& line) {
        questions += line.substr(0, line.find(" = ")) + '\n';
        mine.push_back(line);
    };
    int zones = 0;
    for (const std::string& name : zoneNames()) {
        if (std::filesystem::is_symlink("/usr/share/zoneinfo/" + name))
            continue;
        const auto zone = namedZone(name);
        ASSERT_TRUE(zone) << name;
        ++zones;
        for (int y : {2038, 2040, 2044, 2048, 2100}) {
            const std::vector<Change> changes = changesIn(*zone, y);
            std::string line = "Y " + name + ' ' + std::to_string(y) + " =";
            for (const Change& change : changes) {
                line += ' ' + std::to_string(change.at) + ':' + std::to_string(change.before) +
                        '>' + std::to_string(change.after);
            }
            ask(changes.empty() ? line + " none" : line);
            for (const Change& change : changes) {
                const long long low = change.at + std::min(change.before, change.after);
                const long long high = change.at + std::max(change.before, change.after);
                for (long long clock : {low - 1, low, low + (high - low) / 2, high - 1, high})
                    ask(clockQuestion(name, *zone, LocalTime{seconds{clock}}));
            }
        }
    }
    EXPECT_GT(zones, 300);
    expectZoneinfoAgrees(questions, mine);
}

// /etc/localtime as a link into the data or as a file of its own, read as
// machineZone reads it when TZ is not set, from a folder of the test's.
TEST(LocaltimeZone, IsTheZoneTheFileDescribes) {
    const std::filesystem::path data = "/usr/share/zoneinfo";
    std::ifstream in(data / "Asia/Tokyo", std::ios::binary);
    const std::string tokyo{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(tokyo.empty());
    struct Case {
        const char* what;
        std::optional<std::string> copy;      // localtime's bytes, as a file of its own
        const char* link;                     // else the zone it links to; nullptr: none
        std::optional<std::string> timezone;  // the timezone file's text
        const char* zone;                     // the zone found; nullptr: none
        long long offset;                     // its offset on 1 July 2026
        const char* source;                   // what `source` adds to the path
    };
    const Case cases[] = {
        {"a copy, the timezone file naming another zone", tokyo, nullptr, "Etc/UTC\n", "Asia/Tokyo",
         32400, ""},
        {"a copy, no timezone file", tokyo, nullptr, std::nullopt, "Asia/Tokyo", 32400, ""},
        {"a copy, the timezone file naming a link to that zone", tokyo, nullptr, " Japan \n",
         "Japan", 32400, ""},
        {"a link, the timezone file naming another zone", std::nullopt, "Asia/Tokyo", "Etc/UTC\n",
         "Asia/Tokyo", 32400, ""},
        {"a link to a link of the data", std::nullopt, "US/Eastern", std::nullopt, "US/Eastern",
         -14400, ""},
        {"a file that is no zone", "Asia/Tokyo\n", nullptr, "Asia/Tokyo\n", nullptr, 0,
         ", whose contents match no file of /usr/share/zoneinfo"},
        {"no file", std::nullopt, nullptr, "Asia/Tokyo\n", nullptr, 0, ", which cannot be read"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::filesystem::path localtime = dir.file("localtime");
        if (c.copy)
            dir.write("localtime", *c.copy);
        if (c.link)
            std::filesystem::create_symlink(data / c.link, localtime);
        if (c.timezone)
            dir.write("timezone", *c.timezone);
        std::string source;
        const auto zone = localtimeZone(source, localtime, dir.file("timezone"), data);
        EXPECT_EQ(source, localtime.string() + c.source) << c.what;
        if (c.zone == nullptr) {
            EXPECT_FALSE(zone) << c.what << ": " << zone->name();
            continue;
        }
        ASSERT_TRUE(zone) << c.what;
        EXPECT_EQ(zone->name(), c.zone) << c.what;
        EXPECT_EQ(zone->offsetAt(sys_seconds{sys_days{2026y / 7 / 1}}.time_since_epoch().count()),
                  c.offset)
            << c.what;
    }
}

// The data's own "localtime" links back to /etc/localtime: a file that is
// no zone must not be taken for that zone's.
TEST(LocaltimeZone, IsNoZoneByTheDatasLinkBackToIt) {
    TempDir dir;
    dir.write("localtime", "no zone\n");
    std::filesystem::create_directory(dir.file("data"));
    std::filesystem::create_symlink(dir.file("localtime"), dir.file("data") / "localtime");
    std::string source;
    EXPECT_FALSE(
        localtimeZone(source, dir.file("localtime"), dir.file("timezone"), dir.file("data")));
    EXPECT_EQ(source, dir.file("localtime").string() + ", whose contents match no file of " +
                          dir.file("data").string());
}

}  // namespace
}  // namespace fennick::cli
