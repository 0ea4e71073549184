// The scenario of the whole-run tests: a window of 5 December 2026 (report
// zone), the page written on 7 December, and a folder with two jobs of PolA
// in the window and a policy list of PolA and PolC.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/file_names.h"
#include "run/report_run.h"
#include "support/dump_line.h"
#include "support/temp_dir.h"

namespace fennick::test {

// 2026-12-05 00:00:00 to 2026-12-06 00:00:00 in the report zone.
inline constexpr long long kWindowStart = 1796428800 - 28800;
inline constexpr long long kWindowEnd = 1796515200 - 28800;

inline Pickers dayOfDecember5() {
    using namespace std::chrono;
    const LocalTime fifth = local_days{2026y / 12 / 5};
    const LocalTime sixth = local_days{2026y / 12 / 6};
    return Pickers{fifth, fifth, sixth, sixth};
}

inline LocalTime writtenOnDecember7() {
    using namespace std::chrono;
    return local_days{2026y / 12 / 7} + hours{6} + minutes{30};
}

inline constexpr const char* kPage = "report_07-12-26.html";

// A job of `policy` starting `offset` seconds into the window.
inline std::string jobAt(const std::string& id, const std::string& policy, long long offset,
                         const std::string& status = "0", const std::string& client = "client1") {
    return dumpLine({.id = id,
                     .policy = policy,
                     .start = kWindowStart + offset,
                     .status = status,
                     .client = client});
}

class RunTest : public ::testing::Test {
  protected:
    void SetUp() override { writeInputs(); }

    // Jobs 2 and 1 of PolA two hours apart in the window; PolC has none.
    void writeInputs() const {
        dir.write(kConfigFile, "RL03=1 month\r\n");
        dir.write(kDumpFile, jobAt("2", "PolA", 7200, "0", "client2") + jobAt("1", "PolA", 0));
        dir.write(kPolicyFile, "PolA\r\nPolC\r\n");
    }

    // Back to the inputs alone.
    void fresh() const {
        dir.clear();
        writeInputs();
    }

    // `window` as the window's owner keeps it: the new values once the run
    // came to the window's step.
    ReportFile run(Window& window) const {
        const RunResult result = runReport({dir.path(), dayOfDecember5(), writtenOnDecember7});
        if (result.windowStepRan)
            window = result.window;
        return reportOf(result);
    }
    ReportFile run() const {
        Window window;
        return run(window);
    }
    std::optional<Failure> runFailing(Window& window) const {
        return failureOf([&] { run(window); });
    }
    std::optional<Failure> runFailing() const {
        Window window;
        return runFailing(window);
    }

    TempDir dir;
};

}  // namespace fennick::test
