// Small valid inputs for whole runs, shared by the tests of every program:
// the operator's clock stands at 02:15:00 on 5 December 2026.
#pragma once

#include <chrono>
#include <map>
#include <string>

#include "common/file_names.h"
#include "common/report_time.h"
#include "support/dump_line.h"
#include "support/temp_dir.h"

namespace fennick::test {

inline const LocalTime kNow = std::chrono::local_days{std::chrono::year{2026} / 12 / 5} +
                              std::chrono::hours{2} + std::chrono::minutes{15};
inline LocalTime fixedNow() {
    return kNow;
}
// The page a run on kNow writes.
inline constexpr const char* kTodaysPage = "report_05-12-26.html";

// Lines RL00 to RL28, each "level n" unless `labels` gives it another label.
inline std::string configText(const std::map<int, std::string>& labels = {}) {
    std::string text;
    for (int level = 0; level <= 28; ++level) {
        const auto given = labels.find(level);
        const std::string label =
            given != labels.end() ? given->second : "level " + std::to_string(level);
        text += "RL" + std::string(level < 10 ? "0" : "") + std::to_string(level) + "=" + label +
                "\r\n";
    }
    return text;
}

// Configuration, a dump with job 4711 of PolA to out.txt starting at `start`
// (a report-zone time) and job 4710 of PolB to out2.txt a minute earlier, and
// a policy list of PolA and PolC, which has no jobs.
inline void writeInputs(const TempDir& dir, LocalTime start) {
    dir.write(kConfigFile, configText());
    dir.write(kDumpFile, dumpLine({.id = "4711", .policy = "PolA", .start = epochOf(start)}) +
                             dumpLine({.id = "4710",
                                       .policy = "PolB",
                                       .start = epochOf(start) - 60,
                                       .route = Route::Other}));
    dir.write(kPolicyFile, "PolA\r\nPolC\r\n");
}

}  // namespace fennick::test
