// Job lines of bpdbjobs.txt for tests that need a few jobs rather than
// particular fields. Fields stand where the program's own column constants
// put them, so a test line and the program cannot drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/columns.h"
#include "common/report_time.h"

namespace fennick::test {

// Epoch seconds of a civil time of the report zone (8 hours ahead of UTC).
inline long long epochOf(LocalTime reportZoneTime) {
    return reportZoneTime.time_since_epoch().count() - kReportZoneOffset;
}

// Where the line sends its job, named as JobRoute names it: Marked jobs have
// a routing mark of 1 and go to out.txt; Other jobs leave the mark and the
// page flag empty and go to out2.txt.
enum class Route { Marked, Other };

// One job of the dump; every text goes into its field byte for byte.
struct DumpJob {
    std::string id = "1";
    std::string policy = "PolA";
    std::string schedule = "Daily";
    long long start = 0;  // epoch seconds
    // Field 8 as it stands instead of `start`, which still sets the end.
    std::optional<std::string> startText{};
    std::string status = "0";
    std::string client = "client1";
    Route route = Route::Marked;
    long long elapsed = 3661;
    std::string kbytes = "1024";
};

// A 40-field line ending in CR LF. Besides the fields of `job` (by
// default 3661 seconds elapsed, 1:01.01, and 1024 KBytes): field 1 "other",
// ending after the elapsed seconds, 12 files, retention level 3, schedule type 0 (Full Backup),
// transfer rate 5000; every other field empty.
inline std::string dumpLine(const DumpJob& job) {
    constexpr std::size_t kFields = 40;
    const std::string start = job.startText.value_or(std::to_string(job.start));
    const std::string elapsed = std::to_string(job.elapsed);
    const std::string end = std::to_string(job.start + job.elapsed);
    // Views into texts that outlive the line: filling a field copies nothing,
    // and GCC 12's optimiser no longer sees short literals copied into
    // strings (a false -Wrestrict in Release builds).
    std::array<std::string_view, kFields> fields{};
    fields[dump::kJobId] = job.id;
    fields[dump::kOtherJobField] = "other";
    fields[dump::kStatus] = job.status;
    fields[dump::kPolicy] = job.policy;
    fields[dump::kSchedule] = job.schedule;
    fields[dump::kClient] = job.client;
    fields[dump::kStart] = start;
    fields[dump::kElapsed] = elapsed;
    fields[dump::kEnd] = end;
    fields[dump::kKilobytes] = job.kbytes;
    fields[dump::kFiles] = "12";
    fields[dump::kScheduleType] = "0";
    fields[dump::kRetention] = "3";
    fields[kFields - 1 - dump::kRoutingMarkFromEnd] = job.route == Route::Marked ? "1" : "";
    fields[kFields - 1 - dump::kTransferRateFromEnd] = "5000";
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += fields[i];
    }
    return line + "\r\n";
}

}  // namespace fennick::test
