// Small inputs for whole runs of the programs, written into a test's folder.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "common/report_time.h"

namespace fennick::cli::test {

// Epoch seconds of a clock time of the report zone (8 hours ahead of UTC).
inline long long epochOf(LocalTime reportZoneTime) {
    return reportZoneTime.time_since_epoch().count() - kReportZoneOffset;
}

// A 40-field dump line of route 1 (out.txt): job id, policy, start time and
// the job's status (field 3).
inline std::string dumpLine(int jobId, const std::string& policy, long long startEpoch,
                            const std::string& status = "0") {
    std::vector<std::string> fields(40);
    fields[0] = std::to_string(jobId);
    fields[1] = "other";
    fields[3] = status;
    fields[4] = policy;
    fields[5] = "Daily";
    fields[6] = "client1";
    fields[8] = std::to_string(startEpoch);
    fields[9] = "3725";
    fields[10] = std::to_string(startEpoch + 3725);
    fields[14] = "2048";
    fields[15] = "17";
    fields[19] = "512";
    fields[20] = "1";
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

}  // namespace fennick::cli::test
