// Small valid inputs for a whole "Process" run, written into a test's AppDir.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "common/report_time.h"
#include "support/temp_dir.h"

namespace fennick::test {

// Epoch seconds of a civil time of the report zone (8 hours ahead of UTC).
inline long long epochOf(LocalTime reportZoneTime) {
    return reportZoneTime.time_since_epoch().count() - kReportZoneOffset;
}

// The clock of the window tests: 02:15:00 on 5 December 2026.
inline const LocalTime kNow = std::chrono::local_days{std::chrono::year{2026} / 12 / 5} +
                              std::chrono::hours{2} + std::chrono::minutes{15};
inline LocalTime fixedNow() {
    return kNow;
}

enum class Route { Jobs, OtherJobs };

// A 40-field dump line: the routing mark is field 20 and the transfer rate
// field 19. Route Jobs marks it 1 (out.txt); OtherJobs leaves the mark and
// field 11 empty (out2.txt).
inline std::string dumpLine(const std::string& jobId, const std::string& policy,
                            long long startEpoch, Route route) {
    std::vector<std::string> fields(40);
    fields[0] = jobId;
    fields[1] = "other";
    fields[3] = "0";
    fields[4] = policy;
    fields[5] = "Daily";
    fields[6] = "client1";
    fields[8] = std::to_string(startEpoch);
    fields[9] = "3725";
    fields[10] = std::to_string(startEpoch + 3725);
    fields[14] = "2048";
    fields[15] = "17";
    fields[19] = "512";
    fields[20] = route == Route::Jobs ? "1" : "";
    fields[22] = "0";
    fields[27] = "3";
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += fields[i];
    }
    return line + "\r\n";
}

inline std::string configText() {
    std::string text;
    for (int level = 0; level <= 28; ++level) {
        text += "RL" + std::string(level < 10 ? "0" : "") + std::to_string(level) + "=level " +
                std::to_string(level) + "\r\n";
    }
    return text;
}

// Configuration, a dump with one job of each route starting at `start` (a
// report-zone time), and a policy list with the job's policy and one without
// jobs.
inline void writeInputs(const TempDir& dir, LocalTime start) {
    dir.write("fennick_config.txt", configText());
    dir.write("bpdbjobs.txt", dumpLine("4711", "PolA", epochOf(start), Route::Jobs) +
                                  dumpLine("4710", "PolB", epochOf(start) - 60, Route::OtherJobs));
    dir.write("policy_list.txt", "PolA\r\nPolC\r\n");
}

}  // namespace fennick::test
